#pragma once

#include <cstdint>
#include <string>

namespace downloadertest {

// A small tmpfs mounted for one test, so that writes genuinely run out of
// space. Mounting needs root; when it fails, available() is false and
// reason() says why, and the test skips. Unmounted by the destructor.
class SmallDisk {
public:
    SmallDisk(const std::string& mountPoint, std::int64_t bytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool available() const { return m_mounted; }
    const std::string& reason() const { return m_reason; }

    // Creates a sparse file of `size` bytes: its size is right, but writing
    // into it needs space the disk does not have.
    void createSparseFile(const std::string& path, std::int64_t size) const;

private:
    std::string m_mountPoint;
    bool m_mounted = false;
    std::string m_reason;
};

}  // namespace downloadertest
