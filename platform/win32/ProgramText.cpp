#include "platform/ProgramText.h"

#include <windows.h>

#include "text/TextConversion.h"

namespace platform {
namespace {

// Standard output given to the program by a redirection (a file or a pipe).
bool writeToRedirectedOutput(const std::string& text) {
    const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (output == nullptr || output == INVALID_HANDLE_VALUE) return false;
    const DWORD type = ::GetFileType(output);
    if (type != FILE_TYPE_DISK && type != FILE_TYPE_PIPE) return false;
    DWORD written = 0;
    return ::WriteFile(output, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

// The console of the command prompt the program was started from. The
// prompt does not wait for a window program, so the text may come after
// its next prompt; the user still sees all of it.
bool writeToParentConsole(const std::wstring& text) {
    if (!::AttachConsole(ATTACH_PARENT_PROCESS)) return false;
    const HANDLE console =
        ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, 0, nullptr);
    bool written = false;
    if (console != INVALID_HANDLE_VALUE) {
        std::wstring lines = L"\r\n";
        for (const wchar_t c : text) {
            if (c == L'\n') lines += L'\r';
            lines += c;
        }
        DWORD count = 0;
        written = ::WriteConsoleW(console, lines.data(), static_cast<DWORD>(lines.size()), &count,
                                  nullptr) != FALSE;
        ::CloseHandle(console);
    }
    ::FreeConsole();
    return written;
}

}  // namespace

void showProgramText(const std::string& caption, const std::string& text) {
    if (writeToRedirectedOutput(text)) return;
    const std::wstring wide = utf8ToWide(text);
    if (writeToParentConsole(wide)) return;
    ::MessageBoxW(nullptr, wide.c_str(), utf8ToWide(caption).c_str(), MB_OK | MB_ICONINFORMATION);
}

}  // namespace platform
