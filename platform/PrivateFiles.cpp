#include "platform/PrivateFiles.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace platform {
namespace {

std::runtime_error failure(const std::string& what, int error) {
    return std::runtime_error(what + ": " + std::strerror(error));
}

}  // namespace

std::string privateTempFolder(const std::string& tempRoot) {
    const uid_t user = ::geteuid();
    const std::string folder = tempRoot + "/websetup-" + std::to_string(user);
    if (::mkdir(folder.c_str(), S_IRWXU) != 0 && errno != EEXIST) {
        throw failure("cannot create " + folder, errno);
    }
    // Whatever is there now, created by us or planted before, is judged
    // through a descriptor that did not follow a link.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) throw failure(folder + " is not a directory of its own", errno);
    struct stat status {};
    const bool statted = ::fstat(fd, &status) == 0;
    const int statError = errno;
    bool ownedByUser = statted && status.st_uid == user;
    if (ownedByUser && (status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        ownedByUser = ::fchmod(fd, S_IRWXU) == 0;
    }
    ::close(fd);  // read-only directory descriptor: nothing to lose
    if (!statted) throw failure("cannot examine " + folder, statError);
    if (!ownedByUser) throw std::runtime_error(folder + " belongs to another user");
    return folder;
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
