#include "SmallDisk.h"

#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "support/Process.h"

namespace downloadertest {
namespace {

// Why a tmpfs cannot be mounted; empty once it is.
std::string mountTmpfs(const std::string& mountPoint, std::int64_t bytes) {
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0700";
    if (::mount("websetup-test", mountPoint.c_str(), "tmpfs", 0, options.c_str()) != 0) {
        return std::string("cannot mount a tmpfs here: ") + std::strerror(errno);
    }
    return {};
}

// The output of a helper program that failed, for the skip message.
std::string failureOf(const testsupport::ProcessResult& result) {
    return "exit status " + std::to_string(result.exitCode) + ": " + result.err + result.out;
}

// Why an ext4 image beside the mount point cannot be made and mounted
// through a loop device; empty once it is. The loop device goes with the
// unmount (mount sets it to clear itself).
std::string mountExt4Image(const std::string& mountPoint, std::int64_t bytes) {
    const std::string image = mountPoint + ".ext4";
    std::ofstream(image, std::ios::binary).close();
    std::filesystem::resize_file(image, static_cast<std::uintmax_t>(bytes));
    for (const char* program : {"/usr/sbin/mkfs.ext4", "/usr/bin/mount"}) {
        if (::access(program, X_OK) != 0) return std::string(program) + " is not installed";
    }
    // No blocks reserved for root: the tests run as root, and what they see
    // free is then what a user sees.
    const auto made =
        testsupport::runProcess({"/usr/sbin/mkfs.ext4", "-q", "-F", "-m", "0", image});
    if (made.exitCode != 0) return "mkfs.ext4 failed, " + failureOf(made);
    const auto mounted =
        testsupport::runProcess({"/usr/bin/mount", "-o", "loop", image, mountPoint});
    if (mounted.exitCode != 0) return "cannot mount an ext4 image here, " + failureOf(mounted);
    return {};
}

}  // namespace

SmallDisk::SmallDisk(const std::string& mountPoint, std::int64_t bytes, Kind kind)
    : m_mountPoint(mountPoint) {
    if (::geteuid() != 0) {
        m_reason = "mounting a small disk needs root";
        return;
    }
    std::filesystem::create_directories(mountPoint);
    m_reason =
        kind == Kind::Tmpfs ? mountTmpfs(mountPoint, bytes) : mountExt4Image(mountPoint, bytes);
    m_mounted = m_reason.empty();
}

SmallDisk::~SmallDisk() {
    if (m_mounted && ::umount2(m_mountPoint.c_str(), MNT_DETACH) != 0) {
        // Nothing else can be done in a destructor; the message names the
        // mount so that it can be removed by hand.
        std::fprintf(stderr, "cannot unmount %s: %s\n", m_mountPoint.c_str(), std::strerror(errno));
    }
}

std::int64_t SmallDisk::freeBytes() const {
    struct statvfs status {};
    if (::statvfs(m_mountPoint.c_str(), &status) != 0) {
        throw std::runtime_error("statvfs " + m_mountPoint + ": " + std::strerror(errno));
    }
    return static_cast<std::int64_t>(status.f_bavail) * static_cast<std::int64_t>(status.f_frsize);
}

void SmallDisk::createSparseFile(const std::string& path, std::int64_t size) const {
    std::ofstream(path, std::ios::binary).close();
    std::filesystem::resize_file(path, static_cast<std::uintmax_t>(size));
}

}  // namespace downloadertest
