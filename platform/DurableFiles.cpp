#include "platform/DurableFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/SystemErrorText.h"

namespace platform {
namespace {

std::string folderOf(const std::string& path) {
    const std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Syncs the folder's entries, which is where a rename or removal lives.
std::string syncFolderOf(const std::string& path) {
    const std::string folder = folderOf(path);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errnoText("cannot open " + folder, errno);
    const bool synced = ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);  // opened for reading only
    return synced ? std::string() : errnoText("cannot sync " + folder, error);
}

bool writeAll(int fd, const std::string& content) {
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t step = ::write(fd, content.data() + done, content.size() - done);
        if (step < 0 && errno == EINTR) continue;
        if (step <= 0) return false;
        done += static_cast<std::size_t>(step);
    }
    return true;
}

}  // namespace

std::string syncFileData(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return errnoText("cannot open " + path, errno);
    const bool synced = ::fdatasync(fd) == 0;
    const int error = errno;
    ::close(fd);  // the sync above is what counts; nothing was written here
    return synced ? std::string() : errnoText("cannot sync " + path, error);
}

std::string replaceFileDurably(const std::string& path, const std::string& content) {
    const std::string temporary = path + ".new";
    // A leftover of a crash, or a planted entry: never written through.
    if (::unlink(temporary.c_str()) != 0 && errno != ENOENT) {
        return errnoText("cannot remove " + temporary, errno);
    }
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                          S_IRUSR | S_IWUSR);
    if (fd < 0) return errnoText("cannot create " + temporary, errno);
    int error = 0;
    if (!writeAll(fd, content) || ::fsync(fd) != 0) error = errno != 0 ? errno : EIO;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error != 0) {
        (void)::unlink(temporary.c_str());  // a part-written file must not stay
        return errnoText("cannot write " + temporary, error);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int renameError = errno;
        (void)::unlink(temporary.c_str());
        return errnoText("cannot rename " + temporary + " to " + path, renameError);
    }
    return syncFolderOf(path);
}

std::string removeFileDurably(const std::string& path) {
    if (::unlink(path.c_str()) != 0) {
        if (errno == ENOENT) return {};
        return errnoText("cannot remove " + path, errno);
    }
    return syncFolderOf(path);
}

bool isOwnPlainFile(const std::string& path, std::int64_t size) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
           status.st_uid == ::geteuid() && status.st_nlink == 1 && status.st_size == size;
}

}  // namespace platform
