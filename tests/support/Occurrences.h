#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace testsupport {

// How often `needle` occurs in `text`, overlapping occurrences included:
// a stamped stub must carry exactly the blocks a test expects.
inline std::size_t countOccurrences(std::string_view text, std::string_view needle) {
    std::size_t count = 0;
    for (auto at = text.find(needle); at != std::string_view::npos;
         at = text.find(needle, at + 1)) {
        ++count;
    }
    return count;
}

}  // namespace testsupport
