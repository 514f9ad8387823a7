#include "platform/ShellOpen.h"

#include <windows.h>
// The headers below need the types of windows.h.
#include <shellapi.h>

#include <cstdint>

#include "text/TextConversion.h"

namespace platform {

ShellOpenResult shellOpen(const std::wstring& file, const std::optional<std::wstring>& parameters) {
    const HINSTANCE result =
        ::ShellExecuteW(nullptr, L"open", file.c_str(), parameters ? parameters->c_str() : nullptr,
                        nullptr, SW_SHOWNORMAL);
    // Values above 32 mean success; the others are the historic error codes.
    const auto code = reinterpret_cast<std::intptr_t>(result);
    if (code > 32) return {true, {}};
    return {false, "ShellExecuteW failed with code " + std::to_string(code)};
}

ShellOpenResult shellOpen(const ReadOnlyFile& file, const std::optional<std::wstring>& parameters) {
    return shellOpen(utf8ToWide(file.path()), parameters);
}

ShellOpenResult openWebPage(const std::string& url) { return shellOpen(utf8ToWide(url), {}); }

}  // namespace platform
