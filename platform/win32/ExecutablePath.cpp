#include "platform/ExecutablePath.h"

#include <windows.h>

#include <vector>

namespace platform {

std::string executablePath() {
    // The settings reader opens the file by its narrow (ANSI) name; a path
    // longer than the buffer is cut by the system, so grow until it fits.
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) return std::string(buffer.data(), length);
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace platform
