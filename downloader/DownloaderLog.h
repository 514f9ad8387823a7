#pragma once

#include <boost/format/format_fwd.hpp>
#include <string>

// The downloader's process-wide diagnostic log. Closed unless a Downloader
// was constructed while WEBSETUP_DOWNLOADER_LOG named a file; then every
// line is appended and flushed at once, so a crash loses nothing. Safe to
// call from any thread.
class DownloaderLog {
public:
    // Opens the log for appending the first time it is called with a
    // non-empty path; later calls change nothing.
    static void open(const std::wstring& path);

    static void line(const std::string& text);
    static void line(const boost::format& text);

    // A failure's cause (operation, path, system error), which the error box
    // never names: written to standard error as well, so that it is found
    // without the log switched on.
    static void failure(const std::string& cause);
};
