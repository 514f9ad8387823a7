#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include "platform/PrivateFiles.h"
#include "support/Sandbox.h"

namespace {

namespace fs = std::filesystem;
using testsupport::Sandbox;

mode_t modeOf(const std::string& path) {
    struct stat status {};
    EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

std::string expectedFolder(const Sandbox& root) {
    return root.file("websetup-" + std::to_string(::geteuid()));
}

TEST(PrivateTempFolderTest, CreatesAFolderOnlyTheUserCanEnter) {
    const Sandbox root;
    const std::string folder = platform::privateTempFolder(root.path().string());
    EXPECT_EQ(folder, expectedFolder(root));
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_EQ(modeOf(folder), 0700u);
    EXPECT_EQ(platform::privateTempFolder(root.path().string()), folder) << "found again";
}

TEST(PrivateTempFolderTest, TakesGroupAndOtherAccessFromAnOwnFolder) {
    const Sandbox root;
    fs::create_directory(expectedFolder(root));
    ::chmod(expectedFolder(root).c_str(), 0777);
    platform::privateTempFolder(root.path().string());
    EXPECT_EQ(modeOf(expectedFolder(root)), 0700u);
}

TEST(PrivateTempFolderTest, RefusesWhatAnotherUserCouldHavePlanted) {
    const Sandbox root;
    const Sandbox elsewhere;
    // A link to a folder of the attacker's choosing, and a plain file.
    fs::create_directory_symlink(elsewhere.path(), expectedFolder(root));
    EXPECT_THROW(platform::privateTempFolder(root.path().string()), std::runtime_error);
    fs::remove(expectedFolder(root));
    root.writeFile(fs::path(expectedFolder(root)).filename().string(), "x");
    EXPECT_THROW(platform::privateTempFolder(root.path().string()), std::runtime_error);
}

TEST(PrivateTempFolderTest, RefusesAFolderOfAnotherOwner) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can give a folder away";
    const Sandbox root;
    fs::create_directory(expectedFolder(root));
    ::chmod(expectedFolder(root).c_str(), 0700);
    ASSERT_EQ(::chown(expectedFolder(root).c_str(), 65534, 65534), 0);
    EXPECT_THROW(platform::privateTempFolder(root.path().string()), std::runtime_error);
}

TEST(RestrictToOwnerTest, LeavesOnlyTheOwnersAccessAndFollowsNoLink) {
    const Sandbox sandbox;
    const std::string file = sandbox.writeFile("installer", "#!/bin/sh\n");
    ::chmod(file.c_str(), 0666);
    ASSERT_TRUE(platform::restrictToOwner(file));
    EXPECT_EQ(modeOf(file), 0700u);

    const std::string target = sandbox.writeFile("target", "x");
    ::chmod(target.c_str(), 0644);
    fs::create_symlink(target, sandbox.file("link"));
    EXPECT_FALSE(platform::restrictToOwner(sandbox.file("link")));
    EXPECT_EQ(modeOf(target), 0644u);
}

TEST(FileLockTest, SecondLockOnTheSameFileIsRefusedUntilTheFirstIsGone) {
    const Sandbox sandbox;
    const std::string record = sandbox.file("_.txt");
    auto first = platform::FileLock::tryLock(record);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(modeOf(record), 0600u);
    EXPECT_EQ(platform::FileLock::tryLock(record), nullptr);
    first.reset();
    EXPECT_NE(platform::FileLock::tryLock(record), nullptr);
}

TEST(FileLockTest, RefusesALinkAtTheRecordsPlace) {
    const Sandbox sandbox;
    const std::string target = sandbox.writeFile("elsewhere", "keep");
    fs::create_symlink(target, sandbox.file("_.txt"));
    EXPECT_THROW(platform::FileLock::tryLock(sandbox.file("_.txt")), std::runtime_error);
    EXPECT_EQ(testsupport::readFile(target), "keep");
}

}  // namespace
