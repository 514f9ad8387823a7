#include "net/SingleRequest.h"

#include <curl/curl.h>

#include <array>
#include <memory>
#include <utility>

#include "net/CurlHandles.h"
#include "net/CurlTls.h"

namespace {

constexpr const char* kUserAgentLine = "User-Agent: Quellmark Downloader";
// Keeps libcurl from adding "Expect: 100-continue" on its own.
constexpr const char* kEmptyExpectLine = "Expect:";

constexpr long kSendConnectTimeoutSeconds = 15;
constexpr long kFetchConnectTimeoutSeconds = 5;
constexpr long kMaxRedirects = 5;

// How one of the two operations differs from the other.
struct Exchange {
    long connectTimeoutSeconds = 0;
    bool noBody = false;
    bool followRedirects = false;
    std::ostream* body = nullptr;               // receives the body when set
    DownloaderUserPData* headerSink = nullptr;  // receives the header lines when set
};

std::size_t writeBody(char* data, std::size_t size, std::size_t count, void* userData) {
    const std::size_t total = size * count;
    try {
        auto& stream = *static_cast<std::ostream*>(userData);
        stream.write(data, static_cast<std::streamsize>(total));
        // A stream that no longer takes the bytes fails the transfer rather
        // than reporting a body with a hole as success.
        return stream ? total : 0;
    } catch (...) {
        // The stream asked for exceptions; no exception may cross libcurl.
        return 0;
    }
}

// The proxy is used only for mode 2 with a host. Anything else is an explicit
// direct connection: libcurl would otherwise pick a proxy from the
// environment by itself.
CURLcode applyProxy(CURL* handle, const ProxySettings& proxy) {
    if (proxy.mode != 2 || proxy.host.empty()) {
        return curl_easy_setopt(handle, CURLOPT_PROXY, "");
    }
    const std::string address = proxy.host + ":" + proxy.port;
    CURLcode result = curl_easy_setopt(handle, CURLOPT_PROXY, address.c_str());
    // Empty credentials are no credentials: set, they would make libcurl send
    // "Proxy-Authorization: Basic" with an empty user to every proxy.
    if (result == CURLE_OK && !(proxy.user.empty() && proxy.password.empty())) {
        result = curl_easy_setopt(handle, CURLOPT_PROXYUSERNAME, proxy.user.c_str());
        if (result == CURLE_OK) {
            result = curl_easy_setopt(handle, CURLOPT_PROXYPASSWORD, proxy.password.c_str());
        }
    }
    return result;
}

CURLcode applyOptions(CURL* handle, const std::string& url, curl_slist* headerLines,
                      const ProxySettings& proxy, const RequestLimits& limits,
                      const Exchange& exchange, char* errorBuffer) {
    CURLcode result = CURLE_OK;
    // Stops at the first option libcurl refuses and keeps its result.
    const auto set = [&](CURLoption option, auto value) {
        if (result == CURLE_OK) {
            result = curl_easy_setopt(handle, option, value);
        }
    };
    set(CURLOPT_URL, url.c_str());
    set(CURLOPT_NOPROGRESS, 1L);
    set(CURLOPT_ERRORBUFFER, errorBuffer);
    if (exchange.body != nullptr) {
        set(CURLOPT_WRITEFUNCTION, &writeBody);
        set(CURLOPT_WRITEDATA, static_cast<void*>(exchange.body));
    }
    set(CURLOPT_HTTPHEADER, headerLines);
    if (exchange.headerSink != nullptr) {
        set(CURLOPT_HEADERDATA, static_cast<void*>(exchange.headerSink));
        set(CURLOPT_HEADERFUNCTION, &headerCallback);
    }
    if (exchange.followRedirects) {
        set(CURLOPT_FOLLOWLOCATION, 1L);
        set(CURLOPT_MAXREDIRS, kMaxRedirects);
    }
    set(CURLOPT_CONNECTTIMEOUT, exchange.connectTimeoutSeconds);
    if (exchange.noBody) {
        set(CURLOPT_NOBODY, 1L);
    }
    if (result == CURLE_OK) {
        result = applyProxy(handle, proxy);
    }
    set(CURLOPT_LOW_SPEED_LIMIT, limits.lowSpeedBytesPerSecond);
    set(CURLOPT_LOW_SPEED_TIME, limits.lowSpeedSeconds);
    if (result == CURLE_OK) {
        result = applyBuildTrustStore(handle);
    }
    return result;
}

// Runs one request; `errorText` is set from the error buffer on failure and
// emptied on success.
CURLcode perform(const std::string& url, const std::vector<std::string>& extraHeaders,
                 const ProxySettings& proxy, const RequestLimits& limits, const Exchange& exchange,
                 std::string& errorText) {
    std::array<char, CURL_ERROR_SIZE> errorBuffer{};
    CURLcode result = CURLE_OK;
    {
        // Declared before the easy handle so that the handle goes first.
        CurlHeaderList headerLines;
        for (const std::string& line : extraHeaders) {
            if (!appendHeaderLine(headerLines, line)) {
                result = CURLE_OUT_OF_MEMORY;
                break;
            }
        }
        if (result == CURLE_OK && !(appendHeaderLine(headerLines, kUserAgentLine) &&
                                    appendHeaderLine(headerLines, kEmptyExpectLine))) {
            result = CURLE_OUT_OF_MEMORY;
        }
        CurlEasyHandle handle;
        if (result == CURLE_OK) {
            handle.reset(curl_easy_init());
            if (!handle) {
                result = CURLE_FAILED_INIT;
            }
        }
        if (result == CURLE_OK) {
            result = applyOptions(handle.get(), url, headerLines.get(), proxy, limits, exchange,
                                  errorBuffer.data());
        }
        if (result == CURLE_OK) {
            result = curl_easy_perform(handle.get());
        }
    }
    // Read only after the handle is gone: libcurl writes the buffer until then.
    errorBuffer.back() = '\0';
    errorText = result == CURLE_OK ? std::string() : std::string(errorBuffer.data());
    return result;
}

}  // namespace

std::int32_t sendRequest(const std::string& url, const std::vector<std::string>& extraHeaders,
                         ProxySettings proxy, std::ostream& bodyStream, std::string& errorText,
                         bool headerOnly, const RequestLimits& limits) {
    Exchange exchange;
    exchange.connectTimeoutSeconds = kSendConnectTimeoutSeconds;
    exchange.noBody = headerOnly;
    exchange.body = &bodyStream;
    return static_cast<std::int32_t>(
        perform(url, extraHeaders, proxy, limits, exchange, errorText));
}

std::int32_t fetchHeaders(const std::string& url, const std::vector<std::string>& extraHeaders,
                          ProxySettings proxy, std::vector<ResponseHeader>& headers,
                          std::string& errorText, const RequestLimits& limits) {
    const auto record = std::make_shared<DownloaderUserPData>();
    Exchange exchange;
    exchange.connectTimeoutSeconds = kFetchConnectTimeoutSeconds;
    exchange.noBody = true;
    exchange.followRedirects = true;
    exchange.headerSink = record.get();
    const CURLcode result = perform(url, extraHeaders, proxy, limits, exchange, errorText);
    if (result == CURLE_OK) {
        headers = std::move(record->headers);
    }
    return static_cast<std::int32_t>(result);
}

std::optional<std::string> finalContentLength(const std::vector<ResponseHeader>& headers) {
    std::optional<std::string> length;
    for (const ResponseHeader& header : headers) {
        if (header.kind == HK_Status) {
            length.reset();
        } else if (header.kind == HK_ContentLength) {
            length = header.value;
        }
    }
    return length;
}
