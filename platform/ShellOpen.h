#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ReadOnlyFile.h"

namespace platform {

// Splits a parameter text into arguments by the home platform's command-line
// rules, so that an installer receives what its own start-up code would have
// parsed there: blanks and tabs separate arguments; double quotes group
// (an argument may begin, end or switch quoting anywhere); 2n backslashes
// before a quote give n backslashes and the quote groups, 2n+1 give n
// backslashes and a literal quote; backslashes elsewhere are literal; a
// doubled quote inside a quoted stretch is one literal quote.
std::vector<std::wstring> splitCommandLine(std::wstring_view text);

struct ShellOpenResult {
    bool started = false;
    // Why nothing was started; empty when started.
    std::string error;
};

// Stand-in for opening a file through the shell. A program (an ELF file or a
// script beginning with "#!") is made executable by its owner if it was not,
// and started detached in a session of its own, with the parameters split by
// splitCommandLine, standard input from /dev/null and the caller's standard
// output and error. Any other file is handed to xdg-open; parameters are not
// passed on then. "started" means the program was executed; what it does
// afterwards is not waited for. Any thread.
ShellOpenResult shellOpen(const std::wstring& file, const std::optional<std::wstring>& parameters);

// The same for a file held open since it was checked. Linux: the program is
// executed through the held descriptor (/proc/self/fd/N), never by its name,
// so that a file put in its place meanwhile is not what runs; the program
// sees its own path as argv[0], and a script's interpreter reads it through
// the inherited descriptor. Windows: started by its name while the handle
// keeps it from being written or replaced. Any thread.
ShellOpenResult shellOpen(const ReadOnlyFile& file, const std::optional<std::wstring>& parameters);

// Shows an http or https address in the user's browser (xdg-open on Linux,
// the shell's "open" on Windows), without waiting for it. Any thread.
ShellOpenResult openWebPage(const std::string& url);

}  // namespace platform
