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

// True when text would not stand as one argument as it is: it is empty or
// holds a blank, a tab or a quote.
bool needsQuoting(std::wstring_view text);

// argument as one command-line argument: unchanged unless needsQuoting,
// otherwise put between quotes, escaped.
std::wstring quoteArgumentIfNeeded(std::wstring_view argument);
