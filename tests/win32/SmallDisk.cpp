// The small disk of the full-disk tests has no Windows form: a Windows
// program cannot mount a small file system of its own, so those tests skip.
#include "SmallDisk.h"

#include <filesystem>
#include <fstream>

namespace downloadertest {

SmallDisk::SmallDisk(const std::string& mountPoint, std::int64_t, Kind)
    : m_mountPoint(mountPoint), m_reason("a small disk can be mounted on Linux only") {}

SmallDisk::~SmallDisk() = default;

void SmallDisk::createSparseFile(const std::string& path, std::int64_t size) const {
    std::ofstream(path, std::ios::binary).close();
    std::filesystem::resize_file(path, static_cast<std::uintmax_t>(size));
}

}  // namespace downloadertest
