#include "platform/PrivateFiles.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <vector>

#include "platform/SystemErrorText.h"

namespace platform {
namespace {

std::runtime_error failure(const std::string& what, int error) {
    return std::runtime_error(errnoText(what, error));
}

// Why folder cannot be our private folder; empty when it can. Judged through
// a descriptor that did not follow a link. A loose mode is not tightened:
// while it was loose, others could have put files in it.
std::string unusableBecause(const std::string& folder, uid_t user) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return errnoText(folder + " is not a directory of its own", errno);
    struct stat status {};
    const bool statted = ::fstat(fd, &status) == 0;
    const int statError = errno;
    ::close(fd);  // read-only directory descriptor: nothing to lose
    if (!statted) return errnoText("cannot examine " + folder, statError);
    if (status.st_uid != user) {
        return folder + " belongs to another user (uid " + std::to_string(status.st_uid) + ")";
    }
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
    if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        return folder + " is open to other users (mode " + mode + ")";
    }
    if ((status.st_mode & S_IRWXU) != S_IRWXU) {
        return folder + " does not give its owner full access (mode " + mode + ")";
    }
    return {};
}

// The names mkdtemp gives "<usual>-XXXXXX": six ASCII letters or digits.
bool isFallbackName(const std::string& name, const std::string& usualName) {
    constexpr std::size_t kSuffixLength = 6;
    const auto letterOrDigit = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    };
    return name.size() == usualName.size() + 1 + kSuffixLength &&
           name.compare(0, usualName.size(), usualName) == 0 && name[usualName.size()] == '-' &&
           std::all_of(name.end() - kSuffixLength, name.end(), letterOrDigit);
}

// A fallback folder an earlier run made, so that a stub that has to fall
// back resumes there and does not leave a new folder behind each run. A
// look-alike is taken only when it passes the same checks as the usual
// folder: another user can plant the name, but not a folder that is ours.
// The first by name, so that every run picks the same one.
std::optional<std::string> earlierFallback(const std::string& tempRoot,
                                           const std::string& usualName, uid_t user) {
    DIR* const directory = ::opendir(tempRoot.c_str());
    if (directory == nullptr) return std::nullopt;  // mkdtemp then says what is wrong
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(directory)) {
        if (isFallbackName(entry->d_name, usualName)) names.emplace_back(entry->d_name);
    }
    ::closedir(directory);  // read only
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string folder = tempRoot + "/" + name;
        if (unusableBecause(folder, user).empty()) return folder;
    }
    return std::nullopt;
}

}  // namespace

std::string usualPrivateFolder(const std::string& tempRoot) {
    return tempRoot + "/websetup-" + std::to_string(::geteuid());
}

PrivateFolder privateTempFolder(const std::string& tempRoot) {
    const uid_t user = ::geteuid();
    const std::string usual = usualPrivateFolder(tempRoot);
    const std::string usualName = usual.substr(tempRoot.size() + 1);
    const std::string reason = ::mkdir(usual.c_str(), S_IRWXU) != 0 && errno != EEXIST
                                   ? errnoText("cannot create " + usual, errno)
                                   : unusableBecause(usual, user);
    if (reason.empty()) return {usual, {}};
    if (std::optional<std::string> earlier = earlierFallback(tempRoot, usualName, user)) {
        return {*earlier, reason};
    }
    std::string fresh = usual + "-XXXXXX";
    if (::mkdtemp(fresh.data()) == nullptr) {
        throw failure(reason + "; cannot create a folder in " + tempRoot + " either", errno);
    }
    return {fresh, reason};
}

std::string unlinkUnsafeEntry(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        return errno == ENOENT ? std::string() : errnoText("cannot examine " + path, errno);
    }
    const bool link = S_ISLNK(status.st_mode);
    if (!link && !S_ISREG(status.st_mode)) return path + " is not a regular file";
    if (!link && status.st_nlink == 1) return {};
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        return errnoText("cannot remove the linked entry " + path, errno);
    }
    return {};
}

bool restrictToOwner(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    const bool changed = ::fchmod(fd, S_IRWXU) == 0;
    ::close(fd);  // opened for reading only
    return changed;
}

FileLock::~FileLock() {
    // Closing releases the lock; nothing was written through this descriptor.
    ::close(static_cast<int>(m_handle));
}

std::unique_ptr<FileLock> FileLock::tryLock(const std::string& path) {
    const std::string unsafe = unlinkUnsafeEntry(path);
    if (!unsafe.empty()) throw std::runtime_error(unsafe);
    const int fd =
        ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) throw failure("cannot open " + path, errno);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);  // not locked, nothing written
        if (error == EWOULDBLOCK) return nullptr;
        throw failure("cannot lock " + path, error);
    }
    return std::unique_ptr<FileLock>(new FileLock(fd));
}

}  // namespace platform
