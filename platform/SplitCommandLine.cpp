#include "platform/ShellOpen.h"

// Plain text work, built on every platform: websetup-stamp --show and the
// stub's --help split the installer's parameter text with it.
namespace platform {

std::vector<std::wstring> splitCommandLine(std::wstring_view text) {
    std::vector<std::wstring> arguments;
    std::wstring current;
    bool inArgument = false;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size();) {
        const wchar_t c = text[i];
        if ((c == L' ' || c == L'\t') && !quoted) {
            if (inArgument) arguments.push_back(std::move(current));
            current.clear();
            inArgument = false;
            ++i;
            continue;
        }
        inArgument = true;
        if (c == L'\\') {
            std::size_t count = 0;
            while (i < text.size() && text[i] == L'\\') {
                ++count;
                ++i;
            }
            if (i < text.size() && text[i] == L'"') {
                current.append(count / 2, L'\\');
                if (count % 2 == 1) {
                    current.push_back(L'"');
                    ++i;
                }
            } else {
                current.append(count, L'\\');
            }
        } else if (c == L'"') {
            if (quoted && i + 1 < text.size() && text[i + 1] == L'"') {
                current.push_back(L'"');
                i += 2;
            } else {
                quoted = !quoted;
                ++i;
            }
        } else {
            current.push_back(c);
            ++i;
        }
    }
    if (inArgument) arguments.push_back(std::move(current));
    return arguments;
}

}  // namespace platform
