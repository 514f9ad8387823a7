#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "downloader/ResponseHeader.h"
#include "net/ProxySettings.h"

// Bound on a whole request after it has connected: a transfer slower than
// kLowSpeedBytesPerSecond for kLowSpeedSeconds in a row ends with libcurl's
// time-out result (28). Only the connection phase has a time-out of its own,
// so without this a server that accepts and then stays silent would hold the
// caller, and with it the setup flow, for ever.
struct RequestLimits {
    static constexpr long kLowSpeedBytesPerSecond = 1;
    static constexpr long kLowSpeedSeconds = 30;

    long lowSpeedBytesPerSecond = kLowSpeedBytesPerSecond;
    long lowSpeedSeconds = kLowSpeedSeconds;
};

// One blocking request on the calling thread. Sends the caller's extra header
// lines, then "User-Agent: Quellmark Downloader" and an empty "Expect:". Does
// not follow redirects. Every body byte is appended to `bodyStream` (none
// when `headerOnly`). Returns libcurl's result code: 0 also for HTTP error
// statuses. `errorText` receives libcurl's message on failure and is emptied
// on success. The proxy is used only when proxy.mode is 2 and proxy.host is
// not empty; otherwise the request goes out directly, whatever the
// environment's proxy variables say. Connection time-out: 15 s.
std::int32_t sendRequest(const std::string& url, const std::vector<std::string>& extraHeaders,
                         ProxySettings proxy, std::ostream& bodyStream, std::string& errorText,
                         bool headerOnly, const RequestLimits& limits = RequestLimits());

// A header-only request (HEAD) on the calling thread, following up to 5
// redirects (a sixth gives 47). Same header lines and proxy rule as
// sendRequest; connection time-out: 5 s. On success `headers` is replaced by
// the header lines of every response of the redirect chain in arrival order,
// and `errorText` is emptied; on failure `headers` is left untouched and
// `errorText` receives libcurl's message.
std::int32_t fetchHeaders(const std::string& url, const std::vector<std::string>& extraHeaders,
                          ProxySettings proxy, std::vector<ResponseHeader>& headers,
                          std::string& errorText, const RequestLimits& limits = RequestLimits());

// The size a header list announces: the value text of the last Content-Length
// line after the last status line, that is of the final response of a
// redirect chain. A redirect's own Content-Length never counts; a final
// response without one gives no value. The text is returned as received;
// reading it as a number is the caller's business.
std::optional<std::string> finalContentLength(const std::vector<ResponseHeader>& headers);
