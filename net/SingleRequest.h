#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "downloader/ResponseHeader.h"
#include "net/EasyRequest.h"
#include "net/ProxySettings.h"

// How a caller bounds one blocking request beyond its own time limits.
struct RequestControl {
    // Set from another thread, it ends the request within about a second
    // with CURLE_ABORTED_BY_CALLBACK (42).
    const std::atomic<bool>* stopFlag = nullptr;
    RequestLimits limits;
};

// What a caller that judges an answer itself learns of it.
struct RequestAnswer {
    // The final answer's status; 0 when none arrived whole.
    int status = 0;
    // The scheme with which a proxy's challenge was answered ("Basic",
    // "Negotiate", ...), empty when there was none; never a credential.
    std::string proxyAuthScheme;
};

// The most body bytes sendRequest keeps; reaching it ends the transfer as a
// success.
inline constexpr std::size_t kMaxRequestBodyBytes = 4096;
// sendRequest's whole exchange, connection included, ends in time with 28.
inline constexpr long kSendRequestTimeoutSeconds = 15;

// One blocking GET on the calling thread, as the connectivity probe needs it.
// Sends the caller's extra header lines, then "User-Agent: Quellmark
// Downloader" and an empty "Expect:". Does not follow redirects. The first
// kMaxRequestBodyBytes body bytes are appended to `bodyStream` (none when
// `headerOnly`); the transfer ends there, as a success. Returns libcurl's
// result code, and CURLE_HTTP_RETURNED_ERROR (22) for a final status of 400
// or more: a proxy that refuses (407) has not carried the request. A
// malformed header line gives CURLE_WEIRD_SERVER_REPLY (8). `errorText`
// receives the reason on failure and is emptied on success. The proxy is used
// only when proxy.mode is 2 and proxy.host is not empty; otherwise the
// request goes out directly, whatever the environment's proxy variables say.
// Connection time-out 15 s, the whole exchange kSendRequestTimeoutSeconds.
// A proxy that asks for credentials gets those of `proxy`, or the logged-on
// user's (proxyAuthSchemes). When `answer` is given it receives what the
// caller needs to judge the answer itself.
std::int32_t sendRequest(const std::string& url, const std::vector<std::string>& extraHeaders,
                         ProxySettings proxy, std::ostream& bodyStream, std::string& errorText,
                         bool headerOnly, const RequestControl& control = RequestControl(),
                         RequestAnswer* answer = nullptr);

// A header-only request (HEAD) on the calling thread, following up to 5
// redirects (a sixth gives 47). Same header lines and proxy rule as
// sendRequest; connection time-out: 5 s. On success `headers` is replaced by
// the header lines of every response of the redirect chain in arrival order,
// and `errorText` is emptied, whatever the final status; on failure `headers`
// is left untouched and `errorText` receives the reason. A malformed header
// line gives CURLE_WEIRD_SERVER_REPLY (8).
std::int32_t fetchHeaders(const std::string& url, const std::vector<std::string>& extraHeaders,
                          ProxySettings proxy, std::vector<ResponseHeader>& headers,
                          std::string& errorText, const RequestControl& control = RequestControl());

// The status code of the final response in a header list (its last status
// line); 0 when there is none.
int finalStatus(const std::vector<ResponseHeader>& headers);
// The same status for people to read, "404 Not Found" (statusText); empty
// when there is none.
std::string finalStatusText(const std::vector<ResponseHeader>& headers);

// The size a header list announces: the value text of the last Content-Length
// line after the last status line, that is of the final response of a
// redirect chain. A redirect's own Content-Length never counts; a final
// response without one gives no value. The text is returned as received;
// reading it as a number is parseContentLength's business.
std::optional<std::string> finalContentLength(const std::vector<ResponseHeader>& headers);
