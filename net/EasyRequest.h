#pragma once

#include <curl/curl.h>

#include <atomic>
#include <string>
#include <vector>

#include "downloader/ResponseHeader.h"
#include "net/CurlHandles.h"
#include "net/ProxySettings.h"

// The floor under a transfer once it has connected: slower than
// lowSpeedBytesPerSecond for lowSpeedSeconds in a row ends it with libcurl's
// time-out result (28). A server that accepts and then goes silent, or drips a
// few bytes a second, would otherwise hold the request for ever.
//
// The floor must stay well below an honest connection's share of a slow
// link: twelve part transfers on a 32 kbit/s line get about 340 B/s each, and
// a drip of a few bytes a second is a hundred times less. libcurl judges the
// speed over its last five seconds, so one TCP segment (about 1.4 KiB) in
// that time keeps a connection that the line serves in turns above 64 B/s.
struct RequestLimits {
    static constexpr long kLowSpeedBytesPerSecond = 64;
    static constexpr long kLowSpeedSeconds = 30;

    long lowSpeedBytesPerSecond = kLowSpeedBytesPerSecond;
    long lowSpeedSeconds = kLowSpeedSeconds;
};

// Everything in which the program's HTTP requests differ from each other.
// Whatever is not a field here is the same for every request: HTTP and HTTPS
// only (redirects too, and never from HTTPS down to HTTP), the proxy decision
// final whatever the environment says, no signals, the build's trust store.
struct RequestOptions {
    enum class UserAgentLine {
        // "User-Agent: Quellmark Downloader" and an empty "Expect:", after
        // the extra lines: the single requests.
        SpacedWithEmptyExpect,
        // "User-Agent:Quellmark Downloader" alone: the part transfers.
        Compact,
    };

    std::string url;
    std::vector<std::string> extraHeaderLines;
    UserAgentLine userAgentLine = UserAgentLine::SpacedWithEmptyExpect;
    // Used only for mode 2 with a host; anything else connects directly.
    ProxySettings proxy;
    // Follows up to 5 redirects when set.
    bool followRedirects = false;
    bool noBody = false;
    // 0 leaves libcurl's defaults.
    long connectTimeoutSeconds = 0;
    long totalTimeoutSeconds = 0;
    // libcurl's receive buffer (CURLOPT_BUFFERSIZE): the most body bytes
    // one call of bodyCallback gets. 0 leaves libcurl's default, 16 KiB.
    long receiveBufferBytes = 0;
    RequestLimits limits;
    // The request ends with CURLE_ABORTED_BY_CALLBACK within about a second
    // of this turning true. Must outlive the handle.
    const std::atomic<bool>* stopFlag = nullptr;
    // Receives the header lines through headerCallback. Must outlive the
    // handle; required, so that every answer is read by the same rules.
    DownloaderUserPData* headerRecord = nullptr;
    curl_write_callback bodyCallback = nullptr;
    void* bodyData = nullptr;
    // CURL_ERROR_SIZE bytes, or null. Must outlive the handle.
    char* errorBuffer = nullptr;
};

// The proxy authentication schemes (CURLOPT_PROXYAUTH) a request offers
// through `proxy`, by what this libcurl can do: with credentials Basic,
// Digest and NTLM; without, Negotiate (and NTLM under SSPI) with the logged-on
// user's own. CURLAUTH_NONE when there is nothing to offer.
unsigned long proxyAuthSchemes(const ProxySettings& proxy);

// After a request through `proxy`: the name of the scheme ("Basic",
// "Negotiate", ...) with which libcurl answered the proxy's last challenge;
// empty when the proxy asked for none this request could answer. Whether the
// answer was accepted is the final status's business.
std::string proxyAuthSchemeUsed(CURL* handle, const ProxySettings& proxy);

// One libcurl easy handle set up from a RequestOptions, with the header list
// it points at. The thread that drives the handle owns it.
class EasyRequest {
public:
    EasyRequest() = default;

    // Replaces any earlier handle; libcurl's result for the first option it
    // refused, CURLE_OUT_OF_MEMORY or CURLE_FAILED_INIT when nothing could be
    // allocated. On failure no handle is held.
    CURLcode build(const RequestOptions& options);

    CURL* get() const { return m_handle.get(); }
    explicit operator bool() const { return static_cast<bool>(m_handle); }
    void reset();

private:
    // Declared first so that the handle, which points at it, goes first.
    CurlHeaderList m_headerLines;
    CurlEasyHandle m_handle;
};
