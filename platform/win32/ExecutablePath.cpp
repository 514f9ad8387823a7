#include "platform/ExecutablePath.h"

#include <windows.h>

#include <vector>

#include "text/TextConversion.h"

namespace platform {

std::string executablePath() {
    // The wide name: the ANSI one turns letters outside the code page into
    // '?', and the stub, saved in such a folder, would not find its own file.
    // A path longer than the buffer is cut by the system, so grow until it
    // fits.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) return wideToUtf8(std::wstring_view(buffer.data(), length));
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace platform
