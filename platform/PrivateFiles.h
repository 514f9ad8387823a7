#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// The shared temporary folder can be written by every user and its file
// names are predictable, so the setup flow keeps its files in a folder of
// its own inside it.

struct PrivateFolder {
    std::string path;
    // Why the usual per-user folder was not used; empty when it was.
    std::string fallbackReason;
};

// Returns "<tempRoot>/websetup-<uid>", creating it with mode 0700 when it
// does not exist. An existing entry is used only when it is a directory (not
// a symbolic link) owned by the calling user with mode 0700: anything else
// may have been planted by another user, to lock the stub out or to have it
// use files of theirs, and is left alone. The stub then works in a fallback
// folder "<tempRoot>/websetup-<uid>-XXXXXX" instead and says why: the first
// by name of those an earlier run made that passes the same checks, so that
// it resumes there, else a fresh one. Throws std::runtime_error naming the
// paths and the reasons when no folder can be had.
// On Windows the folder is "<tempRoot>\websetup-<user SID>", its access list
// granting the user alone, and links (reparse points) or a folder of another
// owner are refused. Any thread.
PrivateFolder privateTempFolder(const std::string& tempRoot);

// The per-user folder privateTempFolder uses when it can, named without
// touching the disk (the stub's --help names it). Throws std::runtime_error
// when the user cannot be named (Windows).
std::string usualPrivateFolder(const std::string& tempRoot);

// Every file of the private folder (the download record, the installer) is
// opened for writing only after this: a symbolic link at path, or a file with
// more than one link (its other names may be anywhere), is removed - the
// entry, never what it leads to - so that the open creates a file of our own
// instead of writing through into another. Opening by name afterwards is safe
// because nobody but the user can add entries to the private folder. Returns
// why path cannot be made safe (a directory or another kind of entry there,
// or a failed removal); empty otherwise, also when nothing is there.
// On Windows, reparse points take the place of symbolic links.
std::string unlinkUnsafeEntry(const std::string& path);

// Leaves the file at path readable, writable and executable by its owner
// only, without following a symbolic link; false when it cannot. On Windows,
// where the folder's access list already keeps other users out, the file is
// instead held open denying writes and deletion until the process ends, so
// that it cannot change between this call and its start.
bool restrictToOwner(const std::string& path);

// An exclusive advisory lock on a file, held until destruction (or the end of
// the process). The file is created with mode 0600 if it does not exist.
class FileLock {
public:
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Null when another open file description holds the lock; throws
    // std::runtime_error when the file cannot be opened or locked for another
    // reason. A linked entry at path is replaced first (unlinkUnsafeEntry),
    // so that the lock is on the file the record is then written to. Never
    // blocks.
    static std::unique_ptr<FileLock> tryLock(const std::string& path);

private:
    explicit FileLock(std::intptr_t handle) : m_handle(handle) {}
    // A file descriptor, or a Windows file handle.
    std::intptr_t m_handle;
};

}  // namespace platform
