#include "downloader/DownloaderLog.h"

#include <boost/format.hpp>
#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>
#include <cstdio>
#include <fstream>

#include "platform/NativePath.h"

namespace {

struct LogState {
    boost::mutex mutex;
    std::ofstream stream;
    bool openAttempted = false;
};

LogState& state() {
    static LogState logState;
    return logState;
}

}  // namespace

void DownloaderLog::open(const std::wstring& path) {
    LogState& log = state();
    boost::lock_guard<boost::mutex> lock(log.mutex);
    if (log.openAttempted || path.empty()) {
        return;
    }
    log.openAttempted = true;
    log.stream.open(platform::nativePath(path).c_str(), std::ios::out | std::ios::app);
}

void DownloaderLog::line(const std::string& text) {
    LogState& log = state();
    boost::lock_guard<boost::mutex> lock(log.mutex);
    if (!log.stream.is_open()) {
        return;
    }
    log.stream << text << '\n';
    log.stream.flush();
}

void DownloaderLog::line(const boost::format& text) { line(text.str()); }

void DownloaderLog::failure(const std::string& cause) {
    std::fprintf(stderr, "websetup: %s\n", cause.c_str());
    line("Error: " + cause);
}
