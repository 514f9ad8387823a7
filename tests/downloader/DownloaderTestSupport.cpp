#include "DownloaderTestSupport.h"

#include <thread>

namespace downloadertest {

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return done();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

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
