#pragma once

#include <boost/shared_array.hpp>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
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
    ResponseHeader() = default;
    ResponseHeader(HeaderKind headerKind, std::string headerValue, std::string reasonPhrase = {})
        : kind(headerKind), value(std::move(headerValue)), reason(std::move(reasonPhrase)) {}

    HeaderKind kind = HK_Other;
    std::string value;
    // HK_Status only: the reason phrase as the server sent it ("Not Found"),
    // blanks around it removed; empty when it sent none (HTTP/2 never does).
    std::string reason;
};

// A status for people to read: the code and the reason phrase, "404 Not
// Found", or the code alone when there is no phrase. The phrase is the
// server's text: bytes other than printable ASCII become '?' and it is cut
// to a line's worth, so it cannot rewrite a terminal or fill a log.
std::string statusText(const ResponseHeader& status);

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
    // Bytes of header lines received for the current request.
    std::size_t headerBytes = 0;
    // Set when a line was malformed or the header lines grew past their
    // limit: the request was aborted and nothing of its answer may be used.
    bool malformedHeader = false;

    // Resets everything the header and body callbacks fill, before a new
    // request on the record.
    void startRequest();
};

// The most header bytes one request may receive, redirects included. libcurl
// limits single lines but not their number; without this a server could grow
// the header list without end.
inline constexpr std::size_t kMaxHeaderBytes = 256 * 1024;

// A field line split at its colon: the name as sent and the value without
// the blanks and tabs around it.
struct HeaderField {
    std::string name;
    std::string value;
};

// The field of a "name: value" line whose name is a token (no blank, no
// separator); empty for anything else. Blanks between the name and the colon
// are dropped: RFC 9112 forbids a server to send them but has a proxy remove
// them, so the line names that field and is checked as it.
std::optional<HeaderField> splitHeaderField(const std::string& line);

// The one reading of a Content-Length value: decimal digits only, nothing
// else (no sign, no blank, no trailing text), at most 18 of them; empty for
// anything else.
std::optional<std::int64_t> parseContentLength(const std::string& value);

// Whether a received line (CR and LF removed) may belong to a response: the
// empty line ending a header block, a status line, or a field line as
// splitHeaderField reads it, whose value is a valid Content-Length when the
// field is one.
bool isWellFormedHeaderLine(const std::string& line);

// Classifies one header line with CR and LF already removed. A status line
// is "HTTP/" followed by a version and a three-digit code (the reason may be
// missing); a named field matches whatever the case of its name. Never throws
// for malformed input, which comes back as HK_Other with the whole line.
ResponseHeader parseHeaderLine(std::string line);

// libcurl's CURLOPT_HEADERFUNCTION; CURLOPT_HEADERDATA must be the request's
// DownloaderUserPData*. Appends the parsed line to `headers` (never clears
// it) and lifts out the status and Content-Length. A folded line (one that
// starts with a blank or tab) continues the field line before it: the two
// are read as one line joined by a blank, which replaces that last entry.
// Returns size * count, or 0 (which aborts the transfer with
// CURLE_WRITE_ERROR) when the line is not well formed (a folded line with no
// field line before it included), when it gives the response a second
// Content-Length of another value, when the request's header lines exceed
// kMaxHeaderBytes, or when the line cannot be stored: a response with a line
// we cannot read may hide the header that would have refused it. All but the
// last set malformedHeader.
std::size_t headerCallback(char* data, std::size_t size, std::size_t count, void* userData);

// True when `statusHeader` is the partial-content answer a ranged request
// expects: the status token is exactly "206".
bool isPartialContent(const ResponseHeader& statusHeader);
