#include "SmallDisk.h"

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace downloadertest {

SmallDisk::SmallDisk(const std::string& mountPoint, std::int64_t bytes) : m_mountPoint(mountPoint) {
    if (::geteuid() != 0) {
        m_reason = "mounting a small tmpfs needs root";
        return;
    }
    std::filesystem::create_directories(mountPoint);
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
    if (::mount("websetup-test", mountPoint.c_str(), "tmpfs", 0, options.c_str()) != 0) {
        m_reason = std::string("cannot mount a tmpfs here: ") + std::strerror(errno);
        return;
    }
    m_mounted = true;
}

SmallDisk::~SmallDisk() {
    if (m_mounted && ::umount2(m_mountPoint.c_str(), MNT_DETACH) != 0) {
        // Nothing else can be done in a destructor; the message names the
        // mount so that it can be removed by hand.
        std::fprintf(stderr, "cannot unmount %s: %s\n", m_mountPoint.c_str(), std::strerror(errno));
    }
}

void SmallDisk::createSparseFile(const std::string& path, std::int64_t size) const {
    std::ofstream(path, std::ios::binary).close();
    std::filesystem::resize_file(path, static_cast<std::uintmax_t>(size));
}

}  // namespace downloadertest
