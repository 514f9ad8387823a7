#include "platform/ExecutablePath.h"

#include <boost/filesystem/operations.hpp>

namespace platform {

std::string executablePath() {
    // /proc/self/exe names the file the process was started from, even when it
    // was started through a symbolic link or a relative path.
    boost::system::error_code error;
    const auto path = boost::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
}

}  // namespace platform
