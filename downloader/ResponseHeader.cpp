#include "downloader/ResponseHeader.h"

#include <algorithm>
#include <array>
#include <boost/algorithm/string/case_conv.hpp>
#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/predicate.hpp>
#include <boost/algorithm/string/split.hpp>
#include <limits>
#include <string_view>
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

constexpr std::size_t kMaxContentLengthDigits = 18;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// RFC 9110's tchar: what a field name is made of.
bool isTokenCharacter(char c) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7f) {
        return false;
    }
    static constexpr std::string_view kSeparators = "\"(),/:;<=>?@[\\]{}";
    return kSeparators.find(c) == std::string_view::npos;
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string withoutSurroundingBlanks(const std::string& text) {
    const auto first = std::find_if_not(text.begin(), text.end(), isBlank);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), isBlank).base();
    return first < last ? std::string(first, last) : std::string();
}

bool startsStatusLine(const std::string& line) { return line.compare(0, 5, "HTTP/") == 0; }

// The status code token of a status line; empty when the line is none.
std::optional<std::string> statusCode(const std::string& line) {
    if (!startsStatusLine(line)) {
        return std::nullopt;
    }
    std::vector<std::string> tokens;
    boost::split(tokens, line, boost::is_any_of("\t "), boost::token_compress_on);
    if (tokens.size() < 2 || tokens[1].size() != 3 ||
        !std::all_of(tokens[1].begin(), tokens[1].end(), isDigit)) {
        return std::nullopt;
    }
    return tokens[1];
}

// The field line a folded line continues: the last line received, unless
// that was no field line (a status line, the end of a block, nothing yet).
std::optional<std::string> continuedFieldLine(const std::vector<ResponseHeader>& headers) {
    if (headers.empty() || headers.back().kind == HK_Status) {
        return std::nullopt;
    }
    const ResponseHeader& last = headers.back();
    if (last.kind == HK_Other) {
        if (last.value.empty()) return std::nullopt;
        return last.value;
    }
    for (const NamedHeader& named : kNamedHeaders) {
        if (named.kind == last.kind) return std::string(named.name) + ": " + last.value;
    }
    return std::nullopt;
}

// Whether the response being read (the lines after the last status line)
// already announced a length other than `length`.
bool contradictsEarlierLength(const std::vector<ResponseHeader>& headers, std::int64_t length) {
    for (auto header = headers.rbegin(); header != headers.rend() && header->kind != HK_Status;
         ++header) {
        if (header->kind == HK_ContentLength && parseContentLength(header->value) != length) {
            return true;
        }
    }
    return false;
}

std::size_t refuseAnswer(DownloaderUserPData& record) {
    record.malformedHeader = true;
    return 0;
}

// What follows the status code of a status line, without the blanks around it.
std::string statusReason(const std::string& line) {
    const std::size_t version = line.find_first_of("\t ");
    const std::size_t code = line.find_first_not_of("\t ", version);
    return withoutSurroundingBlanks(line.substr(std::min(line.size(), code + 3)));
}

constexpr std::size_t kMaxShownReasonBytes = 80;

}  // namespace

void DownloaderUserPData::startRequest() {
    headers.clear();
    statusHeader = ResponseHeader();
    contentSize = 0;
    checkedHeaderCount = 0;
    headerBytes = 0;
    malformedHeader = false;
}

std::optional<HeaderField> splitHeaderField(const std::string& line) {
    const auto nameEnd = std::find_if_not(line.begin(), line.end(), isTokenCharacter);
    const auto colon = std::find_if_not(nameEnd, line.end(), isBlank);
    if (nameEnd == line.begin() || colon == line.end() || *colon != ':') {
        return std::nullopt;
    }
    return HeaderField{std::string(line.begin(), nameEnd),
                       withoutSurroundingBlanks(std::string(colon + 1, line.end()))};
}

std::optional<std::int64_t> parseContentLength(const std::string& value) {
    if (value.empty() || value.size() > kMaxContentLengthDigits ||
        !std::all_of(value.begin(), value.end(), isDigit)) {
        return std::nullopt;
    }
    std::int64_t number = 0;
    for (const char digit : value) {
        number = number * 10 + (digit - '0');
    }
    return number;
}

bool isWellFormedHeaderLine(const std::string& line) {
    if (line.empty()) {
        return true;
    }
    if (startsStatusLine(line)) {
        return statusCode(line).has_value();
    }
    const std::optional<HeaderField> field = splitHeaderField(line);
    if (!field) {
        return false;
    }
    return !boost::algorithm::iequals(field->name, "content-length") ||
           parseContentLength(field->value).has_value();
}

ResponseHeader parseHeaderLine(std::string line) {
    ResponseHeader result;
    if (std::optional<std::string> code = statusCode(line)) {
        result.kind = HK_Status;
        result.value = std::move(*code);
        result.reason = statusReason(line);
        return result;
    }
    if (const std::optional<HeaderField> field = splitHeaderField(line)) {
        const std::string name = boost::algorithm::to_lower_copy(field->name);
        for (const NamedHeader& named : kNamedHeaders) {
            if (name == named.name) {
                result.kind = named.kind;
                result.value = field->value;
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
        record.headerBytes += total;
        std::string line(data, total);
        line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
        line.erase(std::remove(line.begin(), line.end(), '\n'), line.end());
        if (record.headerBytes > kMaxHeaderBytes) {
            return refuseAnswer(record);
        }
        if (!line.empty() && isBlank(line.front())) {
            // A folded line (obs-fold). libcurl hands it over as a line of
            // its own; RFC 9112 has a user agent replace the fold with a
            // blank and read the field it continues.
            std::optional<std::string> continued = continuedFieldLine(record.headers);
            if (!continued) {
                return refuseAnswer(record);
            }
            line = *continued + ' ' + withoutSurroundingBlanks(line);
            record.headers.pop_back();
            // The list changed without growing: the body's checks on it
            // must run again.
            record.checkedHeaderCount = 0;
        }
        if (!isWellFormedHeaderLine(line)) {
            return refuseAnswer(record);
        }

        ResponseHeader header = parseHeaderLine(std::move(line));
        if (header.kind == HK_ContentLength &&
            contradictsEarlierLength(record.headers, *parseContentLength(header.value))) {
            return refuseAnswer(record);
        }
        record.headers.push_back(header);
        if (header.kind == HK_Status) {
            record.statusHeader = std::move(header);
        } else if (header.kind == HK_ContentLength) {
            // Well formed, so a number; beyond the 32-bit range it can match
            // no part and no size of ours.
            record.contentSize = static_cast<std::int32_t>(std::min<std::int64_t>(
                *parseContentLength(header.value), std::numeric_limits<std::int32_t>::max()));
        }
        return total;
    } catch (...) {
        // Only allocation can fail here. No exception may cross libcurl.
        return 0;
    }
}

bool isPartialContent(const ResponseHeader& statusHeader) { return statusHeader.value == "206"; }

std::string statusText(const ResponseHeader& status) {
    std::string reason = status.reason.substr(0, kMaxShownReasonBytes);
    for (char& c : reason) {
        if (c < 0x20 || c > 0x7e) c = '?';
    }
    return reason.empty() ? status.value : status.value + " " + reason;
}
