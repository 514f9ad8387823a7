#include "net/SingleRequest.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <utility>

namespace {

constexpr long kSendConnectTimeoutSeconds = 15;
constexpr long kFetchConnectTimeoutSeconds = 5;
constexpr int kFirstErrorStatus = 400;

// Keeps the first kMaxRequestBodyBytes of a body and then ends the transfer.
struct BoundedBody {
    std::ostream* stream = nullptr;
    std::size_t kept = 0;
    bool full = false;
};

std::size_t writeBoundedBody(char* data, std::size_t size, std::size_t count, void* userData) {
    const std::size_t total = size * count;
    try {
        auto& body = *static_cast<BoundedBody*>(userData);
        const std::size_t room = kMaxRequestBodyBytes - body.kept;
        const std::size_t taken = std::min(total, room);
        body.stream->write(data, static_cast<std::streamsize>(taken));
        body.kept += taken;
        // A stream that no longer takes the bytes fails the transfer rather
        // than reporting a body with a hole as success.
        if (!*body.stream) {
            return 0;
        }
        body.full = taken < total || body.kept == kMaxRequestBodyBytes;
        return body.full ? 0 : total;
    } catch (...) {
        // The stream asked for exceptions; no exception may cross libcurl.
        return 0;
    }
}

// Runs one request; `errorText` is set on failure and emptied on success.
CURLcode perform(RequestOptions options, const DownloaderUserPData& record, const BoundedBody* body,
                 std::string& errorText, std::string* proxyAuthScheme = nullptr) {
    std::array<char, CURL_ERROR_SIZE> errorBuffer{};
    options.errorBuffer = errorBuffer.data();
    CURLcode result = CURLE_OK;
    {
        EasyRequest request;
        result = request.build(options);
        if (result == CURLE_OK) {
            result = curl_easy_perform(request.get());
            if (proxyAuthScheme != nullptr) {
                *proxyAuthScheme = proxyAuthSchemeUsed(request.get(), options.proxy);
            }
        }
    }
    // Read only after the handle is gone: libcurl writes the buffer until then.
    errorBuffer.back() = '\0';
    errorText = errorBuffer.data();
    if (record.malformedHeader) {
        errorText = "malformed header line in the answer";
        return CURLE_WEIRD_SERVER_REPLY;
    }
    if (result == CURLE_WRITE_ERROR && body != nullptr && body->full) {
        result = CURLE_OK;  // ended on purpose at the cap
    }
    if (result == CURLE_OK) {
        errorText.clear();
    }
    return result;
}

RequestOptions commonOptions(const std::string& url, const std::vector<std::string>& extraHeaders,
                             ProxySettings proxy, const RequestControl& control,
                             DownloaderUserPData& record) {
    RequestOptions options;
    options.url = url;
    options.extraHeaderLines = extraHeaders;
    options.proxy = std::move(proxy);
    options.limits = control.limits;
    options.stopFlag = control.stopFlag;
    options.headerRecord = &record;
    return options;
}

}  // namespace

std::int32_t sendRequest(const std::string& url, const std::vector<std::string>& extraHeaders,
                         ProxySettings proxy, std::ostream& bodyStream, std::string& errorText,
                         bool headerOnly, const RequestControl& control, RequestAnswer* answer) {
    DownloaderUserPData record;
    BoundedBody body;
    body.stream = &bodyStream;
    RequestOptions options = commonOptions(url, extraHeaders, std::move(proxy), control, record);
    options.connectTimeoutSeconds = kSendConnectTimeoutSeconds;
    options.totalTimeoutSeconds = kSendRequestTimeoutSeconds;
    options.noBody = headerOnly;
    options.bodyCallback = &writeBoundedBody;
    options.bodyData = &body;
    std::string proxyAuthScheme;
    const CURLcode result = perform(options, record, &body, errorText, &proxyAuthScheme);
    const int status = result == CURLE_OK ? finalStatus(record.headers) : 0;
    if (answer != nullptr) {
        answer->status = status;
        answer->proxyAuthScheme = std::move(proxyAuthScheme);
    }
    if (status >= kFirstErrorStatus) {
        errorText = "the answer's status is " + statusText(record.statusHeader);
        return CURLE_HTTP_RETURNED_ERROR;
    }
    return static_cast<std::int32_t>(result);
}

std::int32_t fetchHeaders(const std::string& url, const std::vector<std::string>& extraHeaders,
                          ProxySettings proxy, std::vector<ResponseHeader>& headers,
                          std::string& errorText, const RequestControl& control) {
    DownloaderUserPData record;
    RequestOptions options = commonOptions(url, extraHeaders, std::move(proxy), control, record);
    options.connectTimeoutSeconds = kFetchConnectTimeoutSeconds;
    options.noBody = true;
    options.followRedirects = true;
    const CURLcode result = perform(options, record, nullptr, errorText);
    if (result == CURLE_OK) {
        headers = std::move(record.headers);
    }
    return static_cast<std::int32_t>(result);
}

namespace {

const ResponseHeader* finalStatusLine(const std::vector<ResponseHeader>& headers) {
    const auto last =
        std::find_if(headers.rbegin(), headers.rend(),
                     [](const ResponseHeader& header) { return header.kind == HK_Status; });
    return last == headers.rend() ? nullptr : &*last;
}

}  // namespace

int finalStatus(const std::vector<ResponseHeader>& headers) {
    const ResponseHeader* status = finalStatusLine(headers);
    // A status line's code is three digits (parseHeaderLine).
    return status ? std::stoi(status->value) : 0;
}

std::string finalStatusText(const std::vector<ResponseHeader>& headers) {
    const ResponseHeader* status = finalStatusLine(headers);
    return status ? statusText(*status) : std::string();
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
