#pragma once

#include <boost/shared_array.hpp>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What a received header line is. The numbers are fixed: 4 and 7 are never
// produced.
enum HeaderKind : std::int32_t {
    HK_Status = 0,
    HK_MessageHash = 1,
    HK_MessageError = 2,
    HK_LastModified = 3,
    HK_ContentLength = 5,
    HK_ContentDisposition = 6,
    HK_Other = 8,
};

// One parsed header line. For HK_Status the value is the status code token
// ("206"); for the named headers it is the header's value; for HK_Other it is
// the whole line.
struct ResponseHeader {
    HeaderKind kind = HK_Other;
    std::string value;
};

class Downloader;

// The record every libcurl callback of one HTTP request receives as its user
// pointer (the Downloader exposes it as Downloader::UserPData). It is always
// held by a shared pointer; libcurl gets the raw pointer, so the owner keeps
// the record alive until the easy handle is gone. Only the thread driving the
// request touches it.
//
// Before each request its owner clears `headers`, resets `statusHeader` to a
// default ResponseHeader and sets `contentSize` to 0.
struct DownloaderUserPData {
    // The session the record belongs to; null for the single requests.
    Downloader* owner = nullptr;
    // Every header line of the request's responses, redirects included, in
    // arrival order.
    std::vector<ResponseHeader> headers;
    // The latest status line; HK_Other with an empty value before any arrived.
    ResponseHeader statusHeader;
    std::int32_t workerIndex = 0;
    // -1 before the worker's first range.
    std::int32_t partIndex = -1;
    std::int32_t expectedLength = 0;
    // Numeric value of the latest Content-Length line; 0 before any arrived.
    std::int32_t contentSize = 0;
    boost::shared_array<char> buffer;
    // Bytes of the current part held in `buffer`, from the start of the part.
    std::int32_t downloadedLength = 0;
    // How many header lines there were when the body last passed the checks
    // on them; 0 until it has. They hold until another line arrives.
    std::size_t checkedHeaderCount = 0;
};

// Classifies one header line with CR and LF already removed. Never throws
// for malformed input.
ResponseHeader parseHeaderLine(std::string line);

// libcurl's CURLOPT_HEADERFUNCTION; CURLOPT_HEADERDATA must be the request's
// DownloaderUserPData*. Appends the parsed line to `headers` (never clears
// it) and lifts out the status and Content-Length. Returns size * count; only
// when the line cannot be stored (out of memory) does it return 0, so that the
// transfer fails instead of going on with a header silently missing.
std::size_t headerCallback(char* data, std::size_t size, std::size_t count, void* userData);

// True when `statusHeader` is the partial-content answer a ranged request
// expects: the status token is exactly "206".
bool isPartialContent(const ResponseHeader& statusHeader);
