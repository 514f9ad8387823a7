#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "app/InstalledProduct.h"
#include "platform/UninstallEntry.h"
#include "support/Sandbox.h"

namespace {

using testsupport::Sandbox;

// An uninstall folder of its own, named to the probe by its variable.
class InstalledProductTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv(platform::kUninstallFolderVariable, entries.path().c_str(), 1);
    }
    void TearDown() override { ::unsetenv(platform::kUninstallFolderVariable); }

    void writeEntry(const std::string& content) const { entries.writeFile("ReelBox", content); }

    Sandbox entries;
    Sandbox install;
};

TEST_F(InstalledProductTest, InstalledWhenBothValuesAndTheExecutableArePresent) {
    install.writeFile("reelbox.exe", "x");
    writeEntry("Publisher=someone\r\nDisplayVersion=2.1\r\nInstallLocation=" +
               install.path().string() + "\r\n");
    const InstalledProduct product;
    EXPECT_TRUE(product.installed);
    EXPECT_EQ(product.displayVersion, L"2.1");
    const std::string folder = install.path().string();
    const std::wstring location(folder.begin(), folder.end());
    EXPECT_EQ(product.installLocation, location);
    EXPECT_EQ(product.exePath(), location + L"/reelbox.exe");
}

TEST_F(InstalledProductTest, EveryMissingInputMeansNotInstalled) {
    install.writeFile("reelbox.exe", "x");
    const std::string location = "InstallLocation=" + install.path().string() + "\n";
    const struct {
        const char* name;
        std::string entry;
        bool exePathKnown;
    } cases[] = {
        {"no DisplayVersion", location, false},
        {"no InstallLocation", "DisplayVersion=1\n", false},
        {"executable missing", "DisplayVersion=1\nInstallLocation=" + entries.path().string(),
         true},
        {"location 512 units", "DisplayVersion=1\nInstallLocation=" + std::string(512, 'a'), false},
    };
    for (const auto& c : cases) {
        writeEntry(c.entry);
        const InstalledProduct product;
        EXPECT_FALSE(product.installed) << c.name;
        EXPECT_EQ(!product.exePath().empty(), c.exePathKnown) << c.name;
    }
    ::unsetenv(platform::kUninstallFolderVariable);
    ::setenv(platform::kUninstallFolderVariable, install.file("no-such-folder").c_str(), 1);
    EXPECT_FALSE(InstalledProduct().installed) << "no entry";
}

TEST_F(InstalledProductTest, EmptyLocationIsReadAndTestedAsSuch) {
    writeEntry("DisplayVersion=\nInstallLocation=\n");
    const InstalledProduct product;
    EXPECT_EQ(product.exePath(), L"/reelbox.exe");
    EXPECT_FALSE(product.installed);
}

TEST(EntryValueTextTest, LimitCountsUtf16UnitsWithTheTerminator) {
    EXPECT_EQ(readEntryValueText(std::string(511, 'a')), std::wstring(511, L'a'));
    EXPECT_EQ(readEntryValueText(std::string(512, 'a')), std::nullopt);
    // U+1F600 takes two UTF-16 units: 255 of them and one more unit fit.
    std::string emoji;
    for (int i = 0; i < 255; ++i) emoji += "\xF0\x9F\x98\x80";
    EXPECT_TRUE(readEntryValueText(emoji + "a").has_value());
    EXPECT_FALSE(readEntryValueText(emoji + "ab").has_value());
    EXPECT_EQ(readEntryValueText(std::string("ab\0cd", 5)), std::wstring(L"ab"));
}

}  // namespace
