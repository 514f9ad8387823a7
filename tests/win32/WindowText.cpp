// Prints what a window shows: the texts of the visible child controls of the
// top-level window titled exactly TITLE, one UTF-8 line each, in the window's
// own order of its children (a dialog's template order). The smoke tests read
// the stub's boxes with it, in the stub's wine prefix.
//
//   window-text TITLE
//
// Exit status: 0 printed, 1 no such window, 2 bad usage, 3 output failed.
#include <windows.h>
// The headers below need the types of windows.h.
#include <shellapi.h>

#include <string>

namespace {

std::string toUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(),
                          size, nullptr, nullptr);
    return result;
}

std::wstring windowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        ::GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

BOOL CALLBACK addChildText(HWND child, LPARAM lines) {
    // A hidden control (the box's unused button) is not part of what is shown.
    if (::IsWindowVisible(child)) {
        *reinterpret_cast<std::string*>(lines) += toUtf8(windowText(child)) + "\n";
    }
    return TRUE;
}

}  // namespace

int main() {
    int count = 0;
    wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (arguments == nullptr || count != 2) return 2;
    const HWND window = ::FindWindowW(nullptr, arguments[1]);
    ::LocalFree(arguments);
    if (window == nullptr) return 1;

    std::string lines;
    ::EnumChildWindows(window, &addChildText, reinterpret_cast<LPARAM>(&lines));
    // Written as bytes: the C runtime's text mode would turn "\n" into "\r\n".
    DWORD written = 0;
    const BOOL wrote = ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), lines.data(),
                                   static_cast<DWORD>(lines.size()), &written, nullptr);
    return wrote && written == lines.size() ? 0 : 3;
}
