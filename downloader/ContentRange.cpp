#include "downloader/ContentRange.h"

#include <boost/algorithm/string/predicate.hpp>
#include <optional>
#include <string>

namespace {

// "bytes FIRST-LAST/TOTAL" exactly as RFC 9110 spells a satisfied range; the
// unit is compared without regard to case.
bool namesWindow(const std::string& value, std::int64_t first, std::int64_t last,
                 std::int64_t total) {
    const std::string unit = "bytes ";
    if (!boost::algorithm::istarts_with(value, unit)) {
        return false;
    }
    const std::string window = value.substr(unit.size());
    const std::size_t dash = window.find('-');
    const std::size_t slash = window.find('/', dash == std::string::npos ? 0 : dash);
    if (dash == std::string::npos || slash == std::string::npos) {
        return false;
    }
    const std::optional<std::int64_t> sentFirst = parseContentLength(window.substr(0, dash));
    const std::optional<std::int64_t> sentLast =
        parseContentLength(window.substr(dash + 1, slash - dash - 1));
    const std::optional<std::int64_t> sentTotal = parseContentLength(window.substr(slash + 1));
    return sentFirst == first && sentLast == last && sentTotal == total;
}

}  // namespace

bool contentRangeIs(const std::vector<ResponseHeader>& headers, std::int64_t first,
                    std::int64_t last, std::int64_t total) {
    std::optional<std::string> named;
    bool repeated = false;
    for (const ResponseHeader& header : headers) {
        if (header.kind == HK_Status) {
            // A redirect's headers say nothing about the answer that follows.
            named.reset();
            repeated = false;
            continue;
        }
        const std::optional<HeaderField> field = splitHeaderField(header.value);
        if (header.kind == HK_Other && field &&
            boost::algorithm::iequals(field->name, "content-range")) {
            repeated = repeated || named.has_value();
            named = field->value;
        }
    }
    return named && !repeated && namesWindow(*named, first, last, total);
}
