#pragma once

#include <cstdint>
#include <string>

namespace downloadertest {

// A small file system mounted for one test, so that writes genuinely run out
// of space. Mounting needs root (and, for ext4, a loop device and
// mkfs.ext4); when it fails, available() is false and reason() says why, and
// the test skips. Unmounted by the destructor.
class SmallDisk {
public:
    // How the disk behaves when a reservation cannot be met: tmpfs gives back
    // what a failed posix_fallocate took, ext4 keeps it.
    enum class Kind { Tmpfs, Ext4 };

    SmallDisk(const std::string& mountPoint, std::int64_t bytes, Kind kind = Kind::Tmpfs);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool available() const { return m_mounted; }
    const std::string& reason() const { return m_reason; }

    // Bytes an unprivileged user could still write (statvfs's f_bavail).
    std::int64_t freeBytes() const;

    // Creates a sparse file of `size` bytes: its size is right, but writing
    // into it needs space the disk does not have.
    void createSparseFile(const std::string& path, std::int64_t size) const;

private:
    std::string m_mountPoint;
    bool m_mounted = false;
    std::string m_reason;
};

}  // namespace downloadertest
