#include "tools/publish/OutputFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace {

std::runtime_error writeFailure(const std::string& path, int error) {
    return std::runtime_error(path + ": cannot write: " + std::generic_category().message(error));
}

// Writes text to fd, flushes it to disk and closes fd; 0 or the errno of the
// first failure.
int writeAndClose(int fd, const std::string& text) {
    int failure = 0;
    for (std::size_t done = 0; failure == 0 && done < text.size();) {
        const ssize_t count = ::write(fd, text.data() + done, text.size() - done);
        if (count >= 0) {
            done += static_cast<std::size_t>(count);
        } else if (errno != EINTR) {
            failure = errno;
        }
    }
    if (failure == 0 && ::fsync(fd) != 0) failure = errno;
    if (::close(fd) != 0 && failure == 0) failure = errno;
    return failure;
}

}  // namespace

void replaceFile(const std::string& path, const std::string& text) {
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) throw writeFailure(path, errno);
    // mkstemp makes the file private; a served file is not.
    int failure = ::fchmod(fd, 0644) == 0 ? 0 : errno;
    const int written = writeAndClose(fd, text);
    if (failure == 0) failure = written;
    if (failure == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) failure = errno;
    if (failure == 0) return;
    ::unlink(temporary.c_str());
    throw writeFailure(path, failure);
}

void createNewFile(const std::string& path, const std::string& text, mode_t mode) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0 && errno == EEXIST) throw std::runtime_error(path + " exists; not overwritten");
    if (fd < 0) throw writeFailure(path, errno);
    const int failure = writeAndClose(fd, text);
    if (failure == 0) return;
    ::unlink(path.c_str());
    throw writeFailure(path, failure);
}
