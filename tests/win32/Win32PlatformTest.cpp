// The Win32 forms of the platform layer's guarantees: the record lock, the
// private folder, the installer held against writes, the registry probe.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "app/InstalledProduct.h"
#include "platform/PrivateFiles.h"
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
    const std::string folder = platform::privateTempFolder(root.path().string());
    EXPECT_EQ(folder.rfind(root.path().string() + "\\websetup-S-", 0), 0u) << folder;
    EXPECT_EQ(platform::privateTempFolder(root.path().string()), folder);

    Sandbox other;
    const std::string planted = platform::privateTempFolder(other.path().string());
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

}  // namespace
