#pragma once

#include <string>
#include <system_error>

namespace platform {

// "<what>: <the system's reason>", the form of every failure the platform
// layer reports: the errno text on Linux; on Windows the system's own words
// for the error, followed by its number.
inline std::string errnoText(const std::string& what, int error) {
    return what + ": " + std::generic_category().message(error);
}

#ifdef _WIN32
std::string windowsErrorText(const std::string& what, unsigned long error);
#endif

}  // namespace platform
