#include "platform/ShellOpen.h"

#include <windows.h>
// The headers below need the types of windows.h.
#include <shellapi.h>

#include <cstdint>

#include "platform/SystemErrorText.h"
#include "text/TextConversion.h"

namespace platform {

ShellOpenResult shellOpen(const std::wstring& file, const std::optional<std::wstring>& parameters) {
    ::SetLastError(ERROR_SUCCESS);
    const HINSTANCE result =
        ::ShellExecuteW(nullptr, L"open", file.c_str(), parameters ? parameters->c_str() : nullptr,
                        nullptr, SW_SHOWNORMAL);
    // Values above 32 mean success; the others are the historic error codes,
    // which for the common causes (2, 3, 5, 8, 11) are the system's error
    // numbers as well. The system's own error says more where it is set.
    const auto code = reinterpret_cast<std::intptr_t>(result);
    if (code > 32) return {true, {}};
    const DWORD error = ::GetLastError();
    return {false, windowsErrorText("cannot start " + wideToUtf8(file),
                                    error != ERROR_SUCCESS ? error : static_cast<DWORD>(code))};
}

ShellOpenResult shellOpen(const ReadOnlyFile& file, const std::optional<std::wstring>& parameters) {
    return shellOpen(utf8ToWide(file.path()), parameters);
}

ShellOpenResult openWebPage(const std::string& url) { return shellOpen(utf8ToWide(url), {}); }

}  // namespace platform
