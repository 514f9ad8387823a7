#pragma once

#include <string>
#include <system_error>

namespace platform {

// "<what>: <the system's reason>", the form of every failure the platform
// layer reports: the errno text on Linux, the error number on Windows.
inline std::string errnoText(const std::string& what, int error) {
    return what + ": " + std::generic_category().message(error);
}

inline std::string windowsErrorText(const std::string& what, unsigned long error) {
    return what + ": Windows error " + std::to_string(error);
}

}  // namespace platform
