#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// A file held open for reading from the moment it is checked until the
// program in it has been started, so that what is started is what was
// checked: the check reads through this handle, and the start goes through
// it where the platform allows (shellOpen(ReadOnlyFile&, ...)).
// Linux: a descriptor opened without following a link at the last step, not
// inherited by other children. Windows: a handle that denies writing and
// deletion to everyone while it is open; links (reparse points) are refused.
// Owned by one thread at a time.
class ReadOnlyFile {
public:
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    // Null with `error` naming the path and the system's reason when the
    // file cannot be opened so.
    static std::unique_ptr<ReadOnlyFile> open(const std::string& path, std::string& error);

    // Reads up to `size` bytes at `offset` (fewer only at the end of the
    // file); -1 with `error` set on failure. Does not depend on, or move, a
    // shared file position.
    std::int64_t readAt(std::int64_t offset, unsigned char* buffer, std::size_t size,
                        std::string& error) const;

    // The path it was opened with (UTF-8).
    const std::string& path() const { return m_path; }
    // The descriptor, or the Windows HANDLE.
    std::intptr_t nativeHandle() const { return m_handle; }

private:
    ReadOnlyFile(std::string path, std::intptr_t handle)
        : m_path(std::move(path)), m_handle(handle) {}

    std::string m_path;
    std::intptr_t m_handle;
};

}  // namespace platform
