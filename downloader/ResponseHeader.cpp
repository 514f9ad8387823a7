#include "downloader/ResponseHeader.h"

#include <algorithm>
#include <array>
#include <boost/algorithm/string/case_conv.hpp>
#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <boost/lexical_cast/try_lexical_convert.hpp>
#include <limits>
#include <utility>

namespace {

struct NamedHeader {
    const char* name;
    HeaderKind kind;
};

constexpr std::array<NamedHeader, 5> kNamedHeaders{{
    {"x-message-hash", HK_MessageHash},
    {"x-message-error", HK_MessageError},
    {"last-modified", HK_LastModified},
    {"content-length", HK_ContentLength},
    {"content-disposition", HK_ContentDisposition},
}};

bool isCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The C library's atoi reading (leading white space, optional sign, digits up
// to the first other character, 0 without digits), except that a value
// outside the 32-bit range is clamped to its nearest end instead of being
// undefined: a server controls this text.
std::int32_t decimalPrefixValue(const std::string& text) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
    std::size_t i = 0;
    while (i < text.size() && isCSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulating the magnitude up to one past |kMin| is enough to decide
    // clamping and keeps the arithmetic far from int64 overflow.
    std::int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = std::min<std::int64_t>(magnitude * 10 + (text[i] - '0'), -kMin + 1);
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    return static_cast<std::int32_t>(std::clamp(value, kMin, kMax));
}

}  // namespace

ResponseHeader parseHeaderLine(std::string line) {
    ResponseHeader result;
    if (line.compare(0, 5, "HTTP/") == 0) {
        std::vector<std::string> tokens;
        boost::split(tokens, line, boost::is_any_of("\t "), boost::token_compress_on);
        int code = 0;
        if (tokens.size() > 2 && boost::conversion::try_lexical_convert(tokens[1], code)) {
            result.kind = HK_Status;
            result.value = tokens[1];
            return result;
        }
        result.value = std::move(line);
        return result;
    }

    const std::size_t colon = line.find(':');
    if (colon != std::string::npos) {
        const std::string name = boost::algorithm::to_lower_copy(line.substr(0, colon));
        for (const NamedHeader& named : kNamedHeaders) {
            if (name == named.name) {
                result.kind = named.kind;
                // The one character after the colon is skipped whatever it is.
                result.value = colon + 2 <= line.size() ? line.substr(colon + 2) : std::string();
                return result;
            }
        }
    }
    result.value = std::move(line);
    return result;
}

std::size_t headerCallback(char* data, std::size_t size, std::size_t count, void* userData) {
    const std::size_t total = size * count;
    try {
        auto& record = *static_cast<DownloaderUserPData*>(userData);
        std::string line(data, total);
        line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
        line.erase(std::remove(line.begin(), line.end(), '\n'), line.end());

        ResponseHeader header = parseHeaderLine(std::move(line));
        record.headers.push_back(header);
        if (header.kind == HK_Status) {
            record.statusHeader = std::move(header);
        } else if (header.kind == HK_ContentLength) {
            record.contentSize = decimalPrefixValue(header.value);
        }
        return total;
    } catch (...) {
        // Only allocation can fail here. No exception may cross libcurl.
        return 0;
    }
}

bool isPartialContent(const ResponseHeader& statusHeader) { return statusHeader.value == "206"; }
