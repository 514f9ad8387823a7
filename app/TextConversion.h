#pragma once

#include <string>
#include <string_view>

// The program's wide text is UTF-16 held in std::u16string on every platform:
// what the user sees and what is handed to the installer is UTF-16 on the home
// platform, and a per-cent escape decodes to exactly one UTF-16 unit, which
// std::wstring (32-bit units on Linux) would not model.
//
// Both conversions drop invalid input (a stray continuation byte, an unpaired
// surrogate) instead of failing: the texts come from stamped settings and
// server answers, and a damaged character must not cost the whole text.

std::u16string utf8ToUtf16(std::string_view text);
std::string utf16ToUtf8(std::u16string_view text);
