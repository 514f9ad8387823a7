#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The steps a crash-safe resume is built from. Each returns an empty text on
// success and the cause (operation, path, system error) otherwise. Any
// thread; paths are UTF-8.

// Forces the data written to the file at path so far onto the disk, so that
// nothing written before this call can be lost by a power failure after it.
// Linux: fdatasync through a descriptor of its own (the data of an inode is
// synced whichever descriptor wrote it). Windows: FlushFileBuffers.
std::string syncFileData(const std::string& path);

// Makes path hold exactly `content`, as one step: a crash leaves either the
// old content or the new one, never a mixture or a shortened file. The
// content goes to "<path>.new", is synced, renamed over path, and the
// folder's entry is synced in turn, so that the rename itself survives a
// power failure.
std::string replaceFileDurably(const std::string& path, const std::string& content);

// Removes path (nothing there is fine) and syncs the folder's entry, so that
// a power failure cannot bring the file back after later writes.
std::string removeFileDurably(const std::string& path);

// True when path is a regular file of this user's, reached without a link,
// with no other name and exactly `size` bytes long: a file the program may
// take as one it wrote. On Windows, where the private folder's access list
// keeps other users out, the owner is not compared.
bool isOwnPlainFile(const std::string& path, std::int64_t size);

}  // namespace platform
