#include "downloader/ContentRange.h"

#include <boost/algorithm/string/predicate.hpp>
#include <boost/algorithm/string/trim.hpp>
#include <cstdlib>
#include <string>

namespace {

// Reads a whole unsigned decimal number; false for anything else.
bool readNumber(const std::string& text, std::int64_t& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > 18) {
        return false;
    }
    value = std::strtoll(text.c_str(), nullptr, 10);
    return true;
}

// "bytes FIRST-LAST/TOTAL" (TOTAL may be "*").
bool windowMatches(std::string value, std::int64_t first, std::int64_t last) {
    boost::algorithm::trim(value);
    const std::string unit = "bytes ";
    if (!boost::algorithm::istarts_with(value, unit)) {
        return false;
    }
    const std::string window = value.substr(unit.size());
    const std::size_t dash = window.find('-');
    const std::size_t slash = window.find('/');
    if (dash == std::string::npos || slash == std::string::npos || slash < dash) {
        return false;
    }
    std::int64_t sentFirst = 0;
    std::int64_t sentLast = 0;
    return readNumber(boost::algorithm::trim_copy(window.substr(0, dash)), sentFirst) &&
           readNumber(boost::algorithm::trim_copy(window.substr(dash + 1, slash - dash - 1)),
                      sentLast) &&
           sentFirst == first && sentLast == last;
}

}  // namespace

bool contentRangeMatches(const std::vector<ResponseHeader>& headers, std::int64_t first,
                         std::int64_t last) {
    const std::string name = "content-range:";
    bool matches = true;
    for (const ResponseHeader& header : headers) {
        if (header.kind == HK_Status) {
            // A redirect's headers say nothing about the answer that follows.
            matches = true;
        } else if (header.kind == HK_Other && boost::algorithm::istarts_with(header.value, name)) {
            matches = windowMatches(header.value.substr(name.size()), first, last);
        }
    }
    return matches;
}
