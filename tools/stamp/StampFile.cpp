#include "tools/stamp/StampFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

#include "tools/stamp/CertificateTable.h"

namespace {

[[noreturn]] void fail(const std::string& operation, const std::string& path, int error) {
    throw StampIoError("cannot " + operation + " '" + path +
                       "': " + std::generic_category().message(error));
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        // Only reached on paths that already report a failure, or after a
        // release(); a close error here has nothing left to spoil.
        if (m_fd >= 0) ::close(m_fd);
    }
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

// A temporary file that is removed unless it was renamed into place.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string path) : m_path(std::move(path)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (!m_path.empty()) ::unlink(m_path.c_str());
    }
    const std::string& path() const { return m_path; }
    void renameTo(const std::string& target) {
        if (::rename(m_path.c_str(), target.c_str()) != 0) fail("replace", target, errno);
        m_path.clear();
    }

private:
    std::string m_path;
};

void writeAll(int fd, std::string_view data, const std::string& path) {
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            fail("write", path, errno);
        }
        data.remove_prefix(static_cast<std::size_t>(written));
    }
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The stub with the block at its end: inside the certificate table of a
// signed executable, so that the signature stays valid, and plainly behind
// everything else in any other file. A block already stamped is replaced.
std::string stampedCopy(std::string_view stub, std::string_view block) {
    if (const auto table = findCertificateTable(stub)) {
        return withBlockInCertificateTable(stub, *table, block);
    }
    return std::string(stub.substr(0, findStampedBlock(stub).value_or(stub.size()))).append(block);
}

}  // namespace

std::string readWholeFile(const std::string& path) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) fail("open", path, errno);
    std::string content;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            fail("read", path, errno);
        }
        if (got == 0) return content;
        content.append(buffer, static_cast<std::size_t>(got));
    }
}

void requireReadable(const std::string& path) {
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) fail("open", path, errno);
}

void stampFile(const std::string& stubPath, const std::string& outPath, std::string_view block) {
    const std::string stub = readWholeFile(stubPath);
    struct stat stubStatus {};
    if (::stat(stubPath.c_str(), &stubStatus) != 0) fail("inspect", stubPath, errno);

    const std::string copy = stampedCopy(stub, block);

    std::string pattern = folderOf(outPath) + "/." + nameOf(outPath) + ".stamp-XXXXXX";
    FileDescriptor out(::mkostemp(pattern.data(), O_CLOEXEC));
    if (out.get() < 0) fail("create a temporary file in", folderOf(outPath), errno);
    TemporaryFile temporary(pattern);

    writeAll(out.get(), copy, temporary.path());
    if (::fchmod(out.get(), stubStatus.st_mode & 07777) != 0) {
        fail("set the permissions of", temporary.path(), errno);
    }
    if (::fsync(out.get()) != 0) fail("flush", temporary.path(), errno);
    if (::close(out.release()) != 0) fail("close", temporary.path(), errno);
    temporary.renameTo(outPath);
}
