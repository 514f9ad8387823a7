// The installer of the Windows smoke tests: writes the arguments it was
// started with, split by the system's command-line rules, one UTF-8 line each
// (the format of the Linux tests' fake installer), to
// %WEBSETUP_E2E_RECORD_DIR%\run.<pid>.argv. The file is written under
// another name first, so that it appears whole.
#include <windows.h>
// The headers below need the types of windows.h.
#include <shellapi.h>

#include <string>

namespace {

std::string toUtf8(const wchar_t* text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string result(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), size, nullptr, nullptr);
    result.pop_back();
    return result;
}

}  // namespace

int main() {
    wchar_t folder[MAX_PATH];
    const DWORD length = ::GetEnvironmentVariableW(L"WEBSETUP_E2E_RECORD_DIR", folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 2;
    int count = 0;
    wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (arguments == nullptr) return 3;
    std::string lines;
    for (int i = 1; i < count; ++i) lines += toUtf8(arguments[i]) + "\n";
    ::LocalFree(arguments);

    const std::wstring run =
        std::wstring(folder) + L"\\run." + std::to_wstring(::GetCurrentProcessId());
    const std::wstring partial = run + L".tmp";
    const HANDLE file = ::CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 4;
    DWORD written = 0;
    const BOOL wrote =
        ::WriteFile(file, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
    ::CloseHandle(file);
    if (!wrote || written != lines.size()) return 5;
    return ::MoveFileW(partial.c_str(), (run + L".argv").c_str()) ? 0 : 6;
}
