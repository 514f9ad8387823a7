#pragma once

#include <string>

namespace platform {

// Shows text (UTF-8) that the user asked for on the command line, such as
// --help: on standard output. The Windows stub is a window program without
// a console of its own: there the text goes to standard output when that is
// redirected to a file or pipe, else to the console of the program that
// started it (a command prompt), else into a message box with the caption.
// Interface thread, before any window of the program's own.
void showProgramText(const std::string& caption, const std::string& text);

}  // namespace platform
