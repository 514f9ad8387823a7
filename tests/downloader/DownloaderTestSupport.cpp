#include "DownloaderTestSupport.h"

#include <thread>

namespace downloadertest {

std::wstring wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

void DownloadFixture::configure(std::int32_t totalSize, const std::vector<std::string>& baseUrls,
                                const std::string& resourcePath) {
    DownloadInfo info;
    info.setResourcePath(resourcePath);
    info.setTotalSize(totalSize);
    info.setDefaultPartSize();
    info.setDefaultWorkersCount();
    info.setBaseUrls(baseUrls);
    info.setDestFilePath(wide(dest));
    downloader.setDownloadInfo(info);
    downloader.setTempFilePath(wide(record));
}

bool DownloadFixture::run() {
    downloader.beginDownload();
    return waitFor([this] { return !downloader.isRunning(); });
}

std::string DownloadFixture::content() const { return testsupport::readFile(dest); }

}  // namespace downloadertest
