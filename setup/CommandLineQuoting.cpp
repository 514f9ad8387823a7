#include "setup/CommandLineQuoting.h"

std::wstring escapeForQuotes(std::wstring_view value) {
    std::wstring escaped;
    std::size_t backslashes = 0;
    for (const wchar_t c : value) {
        if (c == L'\\') {
            ++backslashes;
        } else if (c == L'"') {
            escaped.append(backslashes + 1, L'\\');
            backslashes = 0;
        } else {
            backslashes = 0;
        }
        escaped.push_back(c);
    }
    // These would escape the closing quote.
    escaped.append(backslashes, L'\\');
    return escaped;
}

bool needsQuoting(std::wstring_view text) {
    return text.empty() || text.find_first_of(L" \t\"") != std::wstring_view::npos;
}

std::wstring quoteArgumentIfNeeded(std::wstring_view argument) {
    if (!needsQuoting(argument)) return std::wstring(argument);
    return L"\"" + escapeForQuotes(argument) + L"\"";
}
