#include "downloader/FilePath.h"

#include <boost/locale/encoding_utf.hpp>

#include "downloader/DownloaderLog.h"
#include "platform/PrivateFiles.h"

boost::filesystem::path toFilePath(const std::wstring& path) {
    return boost::filesystem::path(boost::locale::conv::utf_to_utf<char>(path));
}

bool makeSafeToWrite(const std::wstring& path) {
    const std::string unsafe =
        platform::unlinkUnsafeEntry(boost::locale::conv::utf_to_utf<char>(path));
    if (!unsafe.empty()) DownloaderLog::failure(unsafe);
    return unsafe.empty();
}
