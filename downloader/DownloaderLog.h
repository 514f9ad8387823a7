#pragma once

#include <boost/format/format_fwd.hpp>
#include <string>

// The program's logs. Safe to call from any thread.
//
// The diagnostic log is closed unless a Downloader was constructed while
// WEBSETUP_DOWNLOADER_LOG named a file; then every line, the downloader's
// fixed lines included, is appended and flushed at once, so a crash loses
// nothing.
//
// The short log is always written once start-up has opened it: one line for
// each step of a run and every failure's cause, with their time, and nothing
// secret. It is what a user sends with a failure report, so it is kept small:
// a log past kShortLogKeptBytes when it is opened moves to "<path>.1",
// replacing the one before, and one run writes at most kShortLogRunBytes.
class DownloaderLog {
public:
    static constexpr std::size_t kShortLogKeptBytes = 64 * 1024;
    static constexpr std::size_t kShortLogRunBytes = 16 * 1024;

    // Opens the diagnostic log for appending the first time it is called
    // with a non-empty path; later calls change nothing.
    static void open(const std::wstring& path);

    // Opens the short log at path (UTF-8) for this run; a second call
    // changes nothing. False, with the cause on standard error, when it
    // cannot be opened: the run goes on without it.
    static bool openShortLog(const std::string& path);
    // The short log's path; empty while none is open.
    static std::string shortLogPath();

    // A line of the diagnostic log only.
    static void line(const std::string& text);
    static void line(const boost::format& text);

    // A step of the run: the short log and the diagnostic log.
    static void step(const std::string& text);

    // A failure's cause (what, where, why): standard error, the short log and
    // the diagnostic log, so that it is found without the diagnostic log
    // switched on.
    static void failure(const std::string& cause);
};
