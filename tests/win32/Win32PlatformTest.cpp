// The Win32 forms of the platform layer's guarantees: the record lock, the
// private folder, the installer held against writes, the registry probe, the
// user's proxy.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/InstalledProduct.h"
#include "platform/PrivateFiles.h"
#include "platform/UserProxy.h"
#include "support/Sandbox.h"

namespace {

using testsupport::Sandbox;

bool canOpenForWriting(const std::string& path) {
    const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(file);
    return true;
}

TEST(Win32FileLockTest, ExcludesASecondHolderButNotTheRecordsOwnWrites) {
    Sandbox sandbox;
    const std::string record = sandbox.file("_record.txt");
    auto lock = platform::FileLock::tryLock(record);
    ASSERT_NE(lock, nullptr);
    EXPECT_EQ(platform::FileLock::tryLock(record), nullptr);
    // Windows locks are mandatory: the downloader rewrites the record while
    // the lock is held, so the locked byte must not be one it writes.
    {
        std::ofstream rewrite(record, std::ios::binary | std::ios::trunc);
        rewrite << std::string(4096, 'r');
        EXPECT_TRUE(rewrite.flush());
    }
    EXPECT_EQ(testsupport::readFile(record), std::string(4096, 'r'));
    lock.reset();
    EXPECT_NE(platform::FileLock::tryLock(record), nullptr);
}

TEST(Win32PrivateFilesTest, FolderIsReusedAndAPlantedFileIsRefused) {
    Sandbox root;
    const std::string folder = platform::privateTempFolder(root.path().string()).path;
    EXPECT_EQ(folder.rfind(root.path().string() + "\\websetup-S-", 0), 0u) << folder;
    EXPECT_EQ(platform::privateTempFolder(root.path().string()).path, folder);

    Sandbox other;
    const std::string planted = platform::privateTempFolder(other.path().string()).path;
    ::RemoveDirectoryA(planted.c_str());
    other.writeFile(planted.substr(other.path().string().size() + 1), "not a folder");
    EXPECT_THROW(platform::privateTempFolder(other.path().string()), std::runtime_error);
}

TEST(Win32PrivateFilesTest, InstallerIsHeldAgainstWritesOnceRestricted) {
    Sandbox sandbox;
    const std::string installer = sandbox.writeFile("setup.exe", "MZ");
    ASSERT_TRUE(canOpenForWriting(installer));
    ASSERT_TRUE(platform::restrictToOwner(installer));
    EXPECT_FALSE(canOpenForWriting(installer));
    EXPECT_FALSE(::DeleteFileA(installer.c_str()));
    EXPECT_EQ(testsupport::readFile(installer), "MZ");
    EXPECT_FALSE(platform::restrictToOwner(sandbox.file("missing.exe")));
}

// The product's uninstall entry in the machine's registry, removed again by
// the destructor.
class UninstallEntryTest : public ::testing::Test {
protected:
    static constexpr wchar_t kKey[] =
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ReelBox";

    void TearDown() override { ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKey); }

    void writeEntry(const std::vector<std::pair<const wchar_t*, std::wstring>>& values) {
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKey);
        HKEY key = nullptr;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_WRITE, nullptr,
                                    &key, nullptr),
                  ERROR_SUCCESS);
        for (const auto& [name, value] : values) {
            ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        }
        ::RegCloseKey(key);
    }

    Sandbox install;
};

TEST_F(UninstallEntryTest, InstalledOnlyWithBothValuesAndTheExecutable) {
    install.writeFile("reelbox.exe", "MZ");
    const std::string folder = install.path().string();
    const std::wstring location(folder.begin(), folder.end());
    const struct {
        const char* name;
        std::vector<std::pair<const wchar_t*, std::wstring>> values;
        bool installed;
    } cases[] = {
        {"complete", {{L"DisplayVersion", L"2.1"}, {L"InstallLocation", location}}, true},
        {"no DisplayVersion", {{L"InstallLocation", location}}, false},
        {"no InstallLocation", {{L"DisplayVersion", L"2.1"}}, false},
        {"executable elsewhere",
         {{L"DisplayVersion", L"2.1"}, {L"InstallLocation", location + L"\\sub"}},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeEntry(c.values);
        const InstalledProduct product;
        EXPECT_EQ(product.installed, c.installed);
        if (c.installed) {
            EXPECT_EQ(product.exePath(), location + L"\\reelbox.exe");
        }
    }
    // The value buffer holds 512 units with the terminating NUL.
    writeEntry({{L"DisplayVersion", L"1"}, {L"InstallLocation", std::wstring(511, L'a')}});
    EXPECT_EQ(InstalledProduct().installLocation, std::wstring(511, L'a'));
    writeEntry({{L"DisplayVersion", L"1"}, {L"InstallLocation", std::wstring(512, L'a')}});
    EXPECT_TRUE(InstalledProduct().installLocation.empty());
}

// The current user's proxy as the system's Internet options store it, in the
// binary value that WinHttpGetIEProxyConfigForCurrentUser reads (the
// ProxyEnable and ProxyServer values beside it are not read by it): a header
// of version, change counter and PROXY_TYPE_* flags, then the proxy list, the
// bypass list and the configuration script's address, each an 8-bit text
// behind its length. The value found before the test is put back afterwards.
class UserProxyTest : public ::testing::Test {
protected:
    static constexpr wchar_t kKey[] =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
    static constexpr wchar_t kValue[] = L"DefaultConnectionSettings";

    void SetUp() override {
        DWORD disposition = 0;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_READ | KEY_WRITE,
                                    nullptr, &m_key, &disposition),
                  ERROR_SUCCESS);
        m_createdKey = disposition == REG_CREATED_NEW_KEY;
        DWORD size = 0;
        m_hadValue =
            ::RegQueryValueExW(m_key, kValue, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS;
        m_saved.resize(size);
        if (m_hadValue) {
            ::RegQueryValueExW(m_key, kValue, nullptr, nullptr, m_saved.data(), &size);
        }
    }

    void TearDown() override {
        if (m_key == nullptr) return;
        if (m_hadValue) {
            ::RegSetValueExW(m_key, kValue, 0, REG_BINARY, m_saved.data(),
                             static_cast<DWORD>(m_saved.size()));
        } else {
            ::RegDeleteValueW(m_key, kValue);
        }
        ::RegCloseKey(m_key);
        if (m_createdKey) ::RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
    }

    // Stores the settings; no flags at all removes the value.
    void configure(DWORD flags, const std::string& proxy, const std::string& bypass,
                   const std::string& script) {
        if (flags == 0) {
            ::RegDeleteValueW(m_key, kValue);
            return;
        }
        std::string bytes;
        const auto add = [&bytes](DWORD number) {
            bytes.append(reinterpret_cast<const char*>(&number), sizeof number);
        };
        add(0x46);
        add(1);
        add(flags);
        for (const std::string& text : {proxy, bypass, script}) {
            add(static_cast<DWORD>(text.size()));
            bytes += text;
        }
        ASSERT_EQ(::RegSetValueExW(m_key, kValue, 0, REG_BINARY,
                                   reinterpret_cast<const BYTE*>(bytes.data()),
                                   static_cast<DWORD>(bytes.size())),
                  ERROR_SUCCESS);
    }

    HKEY m_key = nullptr;
    bool m_createdKey = false;
    bool m_hadValue = false;
    std::vector<BYTE> m_saved;
};

TEST_F(UserProxyTest, OnlyASwitchedOnProxyIsTheProxy) {
    // PROXY_TYPE_DIRECT, _PROXY, _AUTO_PROXY_URL and _AUTO_DETECT.
    constexpr DWORD kDirect = 1, kProxy = 2, kScript = 4, kDetect = 8;
    const struct {
        const char* name;
        DWORD flags;
        const char* proxy;
        std::optional<std::wstring> expected;
    } cases[] = {
        {"switched on", kDirect | kProxy, "proxy.example:3128", L"proxy.example:3128"},
        {"an address", kProxy, "127.0.0.1:8080", L"127.0.0.1:8080"},
        {"switched off, the server kept", kDirect, "proxy.example:3128", std::nullopt},
        {"switched on without a server", kDirect | kProxy, "", std::nullopt},
        {"a configuration script only", kDirect | kScript | kDetect, "", std::nullopt},
        {"never configured", 0, "", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        configure(c.flags, c.proxy, "<local>", "http://wpad.example/wpad.dat");
        EXPECT_EQ(platform::userProxyString(), c.expected);
    }
}

}  // namespace
