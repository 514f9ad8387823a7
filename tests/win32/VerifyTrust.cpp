// Prints the verdict of WinVerifyTrust (the Authenticode policy) on a file as
// eight hexadecimal digits: 00000000 for a valid signature, otherwise the
// error (800B0100 no signature, 80096010 a digest that does not match the
// file). The smoke tests check signed stamped stubs with it.
//
//   verify-trust FILE
//
// Exit status: 0 printed, 2 bad usage.
#include <windows.h>
// The headers below need the types of windows.h.
#include <shellapi.h>
#include <softpub.h>
#include <wintrust.h>

#include <cstdio>

int main() {
    int count = 0;
    wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (arguments == nullptr || count != 2) return 2;

    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = arguments[1];
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    // Nobody answers a dialog in a test, and the test's certificate has no
    // revocation data to fetch.
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID policy = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG verdict = ::WinVerifyTrust(nullptr, &policy, &data);
    // Only releases what the check kept; its result says nothing about the
    // file.
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    ::WinVerifyTrust(nullptr, &policy, &data);
    ::LocalFree(arguments);

    std::printf("%08lX", static_cast<unsigned long>(verdict));
    return 0;
}
