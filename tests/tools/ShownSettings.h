#pragma once

#include <string>

// The settings lines of `websetup-stamp --show` output: everything before the
// blank line that starts the installer's parameters.
inline std::string shownSettings(const std::string& shown) {
    const std::size_t end = shown.find("\n\n");
    return end == std::string::npos ? shown : shown.substr(0, end + 1);
}
