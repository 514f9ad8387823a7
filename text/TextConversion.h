#pragma once

#include <string>
#include <string_view>

// The program's wide text is std::wstring: UTF-16 on the home platform, where
// it meets the system's wide interfaces directly, and UTF-32 on Linux. A
// per-cent escape of a setting decodes to one wide unit either way.
//
// Both conversions drop invalid input (a stray continuation byte, an unpaired
// surrogate) instead of failing: the texts come from stamped settings and
// server answers, and a damaged character must not cost the whole text.

std::wstring utf8ToWide(std::string_view text);
std::string wideToUtf8(std::wstring_view text);
