// The installer of the Windows smoke tests. It records how it was started in
// %WEBSETUP_E2E_RECORD_DIR%:
//  - run.<pid>.params: the parameter text exactly as received, everything of
//    the command line after the program part, blanks included;
//  - run.<pid>.argv: the arguments split by the system's command-line rules,
//    one UTF-8 line each (the format of the Linux tests' fake installer).
// Each file is written under another name first, so that it appears whole;
// the arguments come last, so that their file means the run is recorded.
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

// What follows the program part of a command line, by the rule the system's
// splitter applies to it: a quoted program part ends at the next quote,
// whatever it holds; an unquoted one at the first blank or tab.
const wchar_t* parameterText(const wchar_t* commandLine) {
    const wchar_t* at = commandLine;
    if (*at == L'"') {
        ++at;
        while (*at != L'\0' && *at != L'"') ++at;
        if (*at == L'"') ++at;
    } else {
        while (*at != L'\0' && *at != L' ' && *at != L'\t') ++at;
    }
    return at;
}

bool writeWhole(const std::wstring& path, const std::string& bytes) {
    const std::wstring partial = path + L".tmp";
    const HANDLE file = ::CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL wrote =
        ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
    return wrote && written == bytes.size() && ::MoveFileW(partial.c_str(), path.c_str());
}

}  // namespace

int main() {
    wchar_t folder[MAX_PATH];
    const DWORD length = ::GetEnvironmentVariableW(L"WEBSETUP_E2E_RECORD_DIR", folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 2;
    const wchar_t* commandLine = ::GetCommandLineW();
    int count = 0;
    wchar_t** arguments = ::CommandLineToArgvW(commandLine, &count);
    if (arguments == nullptr) return 3;
    std::string lines;
    for (int i = 1; i < count; ++i) lines += toUtf8(arguments[i]) + "\n";
    ::LocalFree(arguments);

    const std::wstring run =
        std::wstring(folder) + L"\\run." + std::to_wstring(::GetCurrentProcessId());
    if (!writeWhole(run + L".params", toUtf8(parameterText(commandLine)))) return 4;
    return writeWhole(run + L".argv", lines) ? 0 : 5;
}
