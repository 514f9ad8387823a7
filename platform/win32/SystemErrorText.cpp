#include "platform/SystemErrorText.h"

#include <windows.h>

#include "text/TextConversion.h"

namespace platform {

std::string windowsErrorText(const std::string& what, unsigned long error) {
    LPWSTR words = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<LPWSTR>(&words), 0, nullptr);
    std::wstring text(words != nullptr ? words : L"", length);
    if (words != nullptr) ::LocalFree(words);
    // The system ends its sentence with a line break.
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
        text.pop_back();
    }
    const std::string number = "Windows error " + std::to_string(error);
    return what + ": " + (text.empty() ? number : wideToUtf8(text) + " (" + number + ")");
}

}  // namespace platform
