// Feeds arbitrary bytes, cut into lines as libcurl hands them over, through
// the header callback and everything that reads its list afterwards.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "downloader/ContentRange.h"
#include "downloader/ResponseHeader.h"
#include "net/SingleRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    DownloaderUserPData record;
    for (std::size_t start = 0; start < input.size();) {
        const std::size_t end = std::min(input.find('\n', start), input.size() - 1) + 1;
        std::string line = input.substr(start, end - start);
        const std::size_t taken = headerCallback(line.data(), 1, line.size(), &record);
        if (taken == 0) {
            if (!record.malformedHeader) std::abort();  // only a refusal may stop the lines
            break;
        }
        if (taken != line.size() || record.contentSize < 0) std::abort();
        start = end;
    }
    if (record.headerBytes > kMaxHeaderBytes + input.size()) std::abort();

    (void)contentRangeIs(record.headers, 0, 99, 100);
    (void)finalStatus(record.headers);
    (void)finalContentLength(record.headers);
    // Every stored Content-Length passed the well-formed check, and within
    // one response all of them name the same length.
    std::optional<std::int64_t> length;
    for (const ResponseHeader& header : record.headers) {
        if (header.kind == HK_Status) {
            length.reset();
        } else if (header.kind == HK_ContentLength) {
            const std::optional<std::int64_t> value = parseContentLength(header.value);
            if (!value || (length && *length != *value)) std::abort();
            length = value;
        }
    }
    for (const ResponseHeader& header : record.headers) {
        (void)splitHeaderField(header.value);
    }
    return 0;
}
