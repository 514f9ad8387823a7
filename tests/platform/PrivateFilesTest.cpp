#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

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
    const platform::PrivateFolder folder = platform::privateTempFolder(root.path().string());
    EXPECT_EQ(folder.path, expectedFolder(root));
    EXPECT_EQ(folder.fallbackReason, "");
    EXPECT_TRUE(fs::is_directory(folder.path));
    EXPECT_EQ(modeOf(folder.path), 0700u);
    EXPECT_EQ(platform::privateTempFolder(root.path().string()).path, folder.path) << "found again";
}

// Whatever another user could have put at the usual name, or at a name like
// that of a fallback folder, is left as it is. The stub gets a fallback
// folder of its own instead, saying why, and finds that same folder again on
// the next run, so that it resumes there and leaves no new folder behind.
TEST(PrivateTempFolderTest, FallsBackFromWhatOthersCouldHavePlantedToAFolderFoundAgain) {
    const struct {
        const char* name;
        std::function<void(const std::string& path, const Sandbox& elsewhere)> plant;
        bool needsRoot;
    } cases[] = {
        {"a link to a folder only the user can enter",
         [](const std::string& path, const Sandbox& elsewhere) {
             ::chmod(elsewhere.path().c_str(), 0700);
             fs::create_directory_symlink(elsewhere.path(), path);
         },
         false},
        {"a plain file",
         [](const std::string& path, const Sandbox&) { std::ofstream(path) << "x"; }, false},
        {"an own folder open to all",
         [](const std::string& path, const Sandbox&) {
             fs::create_directory(path);
             ::chmod(path.c_str(), 0777);
         },
         false},
        {"an own folder its owner cannot write to",
         [](const std::string& path, const Sandbox&) {
             fs::create_directory(path);
             ::chmod(path.c_str(), 0500);
         },
         false},
        {"a folder of another user",
         [](const std::string& path, const Sandbox&) {
             fs::create_directory(path);
             ::chmod(path.c_str(), 0700);
             ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
         },
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needsRoot && ::geteuid() != 0) continue;  // only root can give a folder away
        const Sandbox root;
        const Sandbox elsewhere;
        const std::string usual = expectedFolder(root);
        const std::string lookAlike = usual + "-Ab12Cd";
        std::vector<struct stat> planted(2);
        for (std::size_t i = 0; i < 2; ++i) {
            const std::string& path = i == 0 ? usual : lookAlike;
            c.plant(path, elsewhere);
            ASSERT_EQ(::lstat(path.c_str(), &planted[i]), 0);
        }

        const platform::PrivateFolder folder = platform::privateTempFolder(root.path().string());
        EXPECT_EQ(folder.path.rfind(usual + "-", 0), 0u) << folder.path;
        EXPECT_NE(folder.path, lookAlike);
        EXPECT_NE(folder.fallbackReason.find(usual), std::string::npos) << folder.fallbackReason;
        EXPECT_TRUE(fs::is_directory(fs::symlink_status(folder.path)));
        EXPECT_EQ(modeOf(folder.path), 0700u);
        for (std::size_t i = 0; i < 2; ++i) {
            struct stat after {};
            ASSERT_EQ(::lstat(i == 0 ? usual.c_str() : lookAlike.c_str(), &after), 0);
            EXPECT_EQ(after.st_mode, planted[i].st_mode) << "left as it was";
        }
        EXPECT_TRUE(fs::is_empty(elsewhere.path()));
        EXPECT_EQ(platform::privateTempFolder(root.path().string()).path, folder.path)
            << "found again on the next run";
    }
}

TEST(PrivateTempFolderTest, NamesBothFailuresWhenNoFolderCanBeHad) {
    const Sandbox root;
    const std::string missing = root.file("missing");
    try {
        platform::privateTempFolder(missing);
        FAIL() << "no folder can exist under a missing root";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("cannot create " + missing + "/websetup-"),
                  std::string::npos)
            << error.what();
    }
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

// A planted entry at a file's name is removed, never what it leads to.
TEST(UnlinkUnsafeEntryTest, RemovesLinksAndKeepsTheirTargets) {
    const struct {
        const char* name;
        std::function<void(const std::string& path, const std::string& target)> plant;
        bool removed;
    } cases[] = {
        {"nothing", [](const std::string&, const std::string&) {}, false},
        {"a file of its own",
         [](const std::string& path, const std::string&) { std::ofstream(path) << "mine"; }, false},
        {"a symbolic link",
         [](const std::string& path, const std::string& target) {
             fs::create_symlink(target, path);
         },
         true},
        {"a hard link",
         [](const std::string& path, const std::string& target) {
             fs::create_hard_link(target, path);
         },
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Sandbox sandbox;
        const std::string target = sandbox.writeFile("elsewhere", "keep");
        const std::string path = sandbox.file("_.txt");
        c.plant(path, target);
        const bool existed = fs::exists(fs::symlink_status(path));
        EXPECT_EQ(platform::unlinkUnsafeEntry(path), "");
        EXPECT_EQ(fs::exists(fs::symlink_status(path)), existed && !c.removed);
        EXPECT_EQ(testsupport::readFile(target), "keep");
        EXPECT_EQ(fs::hard_link_count(target), 1u);
    }

    const Sandbox sandbox;
    fs::create_directory(sandbox.file("_.txt"));
    EXPECT_NE(platform::unlinkUnsafeEntry(sandbox.file("_.txt")), "");
    EXPECT_TRUE(fs::is_directory(sandbox.file("_.txt")));
}

TEST(FileLockTest, LocksAFileOfItsOwnInsteadOfALinkedOne) {
    const Sandbox sandbox;
    const std::string target = sandbox.writeFile("elsewhere", "keep");
    const std::string record = sandbox.file("_.txt");
    for (const bool symbolic : {true, false}) {
        if (symbolic) {
            fs::create_symlink(target, record);
        } else {
            fs::create_hard_link(target, record);
        }
        const auto lock = platform::FileLock::tryLock(record);
        ASSERT_NE(lock, nullptr);
        EXPECT_FALSE(fs::is_symlink(record));
        EXPECT_EQ(fs::hard_link_count(record), 1u);
        EXPECT_EQ(platform::FileLock::tryLock(record), nullptr) << "a second copy stays out";
        EXPECT_NE(platform::FileLock::tryLock(target), nullptr) << "the target was not locked";
        fs::remove(record);
    }
    EXPECT_EQ(testsupport::readFile(target), "keep");
}

}  // namespace
