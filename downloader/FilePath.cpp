#include "downloader/FilePath.h"

#include "downloader/DownloaderLog.h"
#include "platform/PrivateFiles.h"
#include "text/TextConversion.h"

bool makeSafeToWrite(const std::wstring& path) {
    const std::string unsafe = platform::unlinkUnsafeEntry(wideToUtf8(path));
    if (!unsafe.empty()) DownloaderLog::failure(unsafe);
    return unsafe.empty();
}
