#pragma once

#include <string>
#include <string_view>

// Quoting for the home platform's command-line rules (the rules
// platform::splitCommandLine reads back), so that a setting's value arrives
// at the installer as exactly one argument with exactly its characters.

// The text to put between two double quotes so that it reads back as value:
// each quote becomes \", and the backslashes before a quote, or before the
// closing quote, are doubled. A value without quotes and without trailing
// backslashes comes back unchanged.
std::wstring escapeForQuotes(std::wstring_view value);

// argument as one command-line argument: unchanged when it is non-empty and
// has no blank, tab or quote, otherwise put between quotes, escaped.
std::wstring quoteArgumentIfNeeded(std::wstring_view argument);
