#include "platform/UninstallEntry.h"

#include <windows.h>
// The headers below need the types of windows.h.
#include <shlwapi.h>

#include <array>

#include "text/TextConversion.h"

namespace platform {
namespace {

constexpr wchar_t kUninstallKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

class RegistryKey {
public:
    RegistryKey(HKEY parent, const std::wstring& path) {
        // No view flag: a 32-bit program reads the 32-bit view of the machine's
        // software keys, where its products register.
        if (::RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &m_key) != ERROR_SUCCESS) {
            m_key = nullptr;
        }
    }
    ~RegistryKey() {
        if (m_key != nullptr) ::RegCloseKey(m_key);
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    HKEY get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

}  // namespace

std::optional<std::string> readUninstallValue(const std::string& entry,
                                              const std::string& valueName) {
    const RegistryKey key(HKEY_LOCAL_MACHINE, kUninstallKey + utf8ToWide(entry));
    if (key.get() == nullptr) return std::nullopt;
    // 512 units: a longer value fails the read with ERROR_MORE_DATA.
    std::array<wchar_t, 512> buffer{};
    DWORD bytes = sizeof buffer;
    if (::RegQueryValueExW(key.get(), utf8ToWide(valueName).c_str(), nullptr, nullptr,
                           reinterpret_cast<BYTE*>(buffer.data()), &bytes) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    // The caller counts the terminating NUL itself, so the one read is
    // dropped; stored text may lack it, and may hold others before it.
    std::wstring value(buffer.data(), bytes / sizeof(wchar_t));
    if (!value.empty() && value.back() == L'\0') value.pop_back();
    return wideToUtf8(value);
}

bool pathExists(const std::string& path) {
    return ::PathFileExistsW(utf8ToWide(path).c_str()) != FALSE;
}

}  // namespace platform
