#pragma once

#include <string>

namespace platform::win32 {

// The project's narrow text is UTF-8; the Windows API's wide text is UTF-16.
// Invalid input is skipped, as everywhere else in the program.
std::wstring fromUtf8(const std::string& text);
std::string toUtf8(const std::wstring& text);

}  // namespace platform::win32
