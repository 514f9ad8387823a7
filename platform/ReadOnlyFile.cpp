#include "platform/ReadOnlyFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/SystemErrorText.h"

namespace platform {

ReadOnlyFile::~ReadOnlyFile() {
    // Opened for reading only: a close has nothing to lose.
    ::close(static_cast<int>(m_handle));
}

std::unique_ptr<ReadOnlyFile> ReadOnlyFile::open(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        error = errnoText("cannot open " + path, errno);
        return nullptr;
    }
    return std::unique_ptr<ReadOnlyFile>(new ReadOnlyFile(path, fd));
}

std::int64_t ReadOnlyFile::readAt(std::int64_t offset, unsigned char* buffer, std::size_t size,
                                  std::string& error) const {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t step = ::pread(static_cast<int>(m_handle), buffer + got, size - got,
                                     static_cast<off_t>(offset + static_cast<std::int64_t>(got)));
        if (step < 0 && errno == EINTR) continue;
        if (step < 0) {
            error = errnoText("cannot read " + m_path, errno);
            return -1;
        }
        if (step == 0) break;
        got += static_cast<std::size_t>(step);
    }
    return static_cast<std::int64_t>(got);
}

}  // namespace platform
