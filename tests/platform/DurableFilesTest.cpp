#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/DurableFiles.h"
#include "support/Sandbox.h"

namespace {

namespace fs = std::filesystem;

// The steps of a resume point: the state is replaced whole and never
// written through a link planted at its temporary name, removed for good,
// and only a plain file of the full size counts as the installer. Also run
// under wine, over the Win32 calls.
TEST(DurableFiles, StateIsReplacedWholeAndTheInstallerMustBePlainAndWhole) {
    testsupport::Sandbox sandbox;
    const std::string state = sandbox.file("_.txt.resume");
#ifndef _WIN32
    const std::string victim = sandbox.writeFile("victim", "untouched");
    fs::create_symlink(victim, state + ".new");
#endif
    EXPECT_EQ(platform::replaceFileDurably(state, "first"), "");
    EXPECT_EQ(platform::replaceFileDurably(state, "second"), "");
    EXPECT_EQ(testsupport::readFile(state), "second");
    EXPECT_FALSE(fs::exists(fs::symlink_status(state + ".new")));
#ifndef _WIN32
    EXPECT_EQ(testsupport::readFile(victim), "untouched");
#endif
    EXPECT_EQ(platform::removeFileDurably(state), "");
    EXPECT_FALSE(fs::exists(state));
    EXPECT_EQ(platform::removeFileDurably(state), "");  // nothing there is fine
    EXPECT_NE(platform::replaceFileDurably(sandbox.file("missing/state"), "x"), "");

    const std::string installer = sandbox.writeFile("i.exe", "MZ..");
    EXPECT_EQ(platform::syncFileData(installer), "");
    EXPECT_NE(platform::syncFileData(sandbox.file("missing.exe")), "");
    EXPECT_TRUE(platform::isOwnPlainFile(installer, 4));
    EXPECT_FALSE(platform::isOwnPlainFile(installer, 5));
    EXPECT_FALSE(platform::isOwnPlainFile(sandbox.file("missing.exe"), 4));
    EXPECT_FALSE(platform::isOwnPlainFile(sandbox.path().string(), 0));
#ifndef _WIN32
    fs::create_symlink(installer, sandbox.file("link.exe"));
    EXPECT_FALSE(platform::isOwnPlainFile(sandbox.file("link.exe"), 4));
#endif
}

}  // namespace
