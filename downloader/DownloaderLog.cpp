#include "downloader/DownloaderLog.h"

#include <boost/filesystem/operations.hpp>
#include <boost/format.hpp>
#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>
#include <cstdio>
#include <ctime>
#include <fstream>

#include "downloader/FilePath.h"
#include "platform/NativePath.h"
#include "text/TextConversion.h"

namespace {

struct LogState {
    boost::mutex mutex;
    std::ofstream stream;
    bool openAttempted = false;

    std::ofstream shortLog;
    std::string shortLogPath;
    std::size_t shortLogWritten = 0;
    bool shortLogFull = false;
};

LogState& state() {
    static LogState logState;
    return logState;
}

std::string timestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%SZ", &utc);
    return std::string(text, length);
}

// Caller holds the mutex.
void writeDiagnostic(LogState& log, const std::string& text) {
    if (!log.stream.is_open()) return;
    log.stream << text << '\n';
    log.stream.flush();
}

// Caller holds the mutex.
void writeShort(LogState& log, const std::string& text) {
    if (!log.shortLog.is_open() || log.shortLogFull) return;
    std::string entry = timestamp() + " " + text + "\n";
    if (log.shortLogWritten + entry.size() > DownloaderLog::kShortLogRunBytes) {
        entry = timestamp() + " (this run's further lines are not kept)\n";
        log.shortLogFull = true;
    }
    log.shortLog << entry;
    log.shortLog.flush();
    log.shortLogWritten += entry.size();
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

bool DownloaderLog::openShortLog(const std::string& path) {
    // Never written through a link planted in its place. Before the lock:
    // it logs what it finds.
    if (!makeSafeToWrite(utf8ToWide(path))) return false;
    LogState& log = state();
    boost::lock_guard<boost::mutex> lock(log.mutex);
    if (log.shortLog.is_open()) return true;
    const boost::filesystem::path file = platform::nativePath(path);
    boost::system::error_code error;
    const boost::uintmax_t size = boost::filesystem::file_size(file, error);
    if (!error && size > kShortLogKeptBytes) {
        boost::filesystem::path older = file;
        older += ".1";
        boost::filesystem::rename(file, older, error);
    }
    log.shortLog.open(file.c_str(), std::ios::out | std::ios::app);
    if (!log.shortLog.is_open()) {
        std::fprintf(stderr, "websetup: cannot open the log %s\n", path.c_str());
        return false;
    }
    log.shortLogPath = path;
    return true;
}

std::string DownloaderLog::shortLogPath() {
    LogState& log = state();
    boost::lock_guard<boost::mutex> lock(log.mutex);
    return log.shortLogPath;
}

void DownloaderLog::line(const std::string& text) {
    LogState& log = state();
    boost::lock_guard<boost::mutex> lock(log.mutex);
    writeDiagnostic(log, text);
}

void DownloaderLog::line(const boost::format& text) { line(text.str()); }

void DownloaderLog::step(const std::string& text) {
    LogState& log = state();
    boost::lock_guard<boost::mutex> lock(log.mutex);
    writeShort(log, text);
    writeDiagnostic(log, text);
}

void DownloaderLog::failure(const std::string& cause) {
    std::fprintf(stderr, "websetup: %s\n", cause.c_str());
    LogState& log = state();
    boost::lock_guard<boost::mutex> lock(log.mutex);
    writeShort(log, "Error: " + cause);
    writeDiagnostic(log, "Error: " + cause);
}
