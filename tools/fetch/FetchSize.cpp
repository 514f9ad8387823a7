#include "tools/fetch/FetchSize.h"

#include <curl/curl.h>

#include <cstdio>
#include <limits>
#include <optional>

#include "net/SingleRequest.h"
#include "tools/fetch/FetchExitStatus.h"
#include "verify/SignatureAddress.h"

namespace {

SizeAnswer failed(int status, const std::string& cause) {
    std::fprintf(stderr, "websetup-fetch: %s\n", cause.c_str());
    SizeAnswer answer;
    answer.failure = status;
    return answer;
}

}  // namespace

SizeAnswer requestSize(const std::string& url) {
    std::vector<ResponseHeader> headers;
    std::string errorText;
    const std::int32_t result = fetchHeaders(url, {}, ProxySettings(), headers, errorText);
    if (result == CURLE_WEIRD_SERVER_REPLY) {
        // An answer came, but one that cannot be read safely.
        return failed(fetchexit::kNoSize, url + " gives no usable size: " + errorText);
    }
    if (result != CURLE_OK) {
        if (errorText.empty()) errorText = curl_easy_strerror(static_cast<CURLcode>(result));
        return failed(fetchexit::kNoConnection, "could not connect to " + url + ": " + errorText +
                                                    " (libcurl " + std::to_string(result) + ")");
    }
    const std::string finalUrl = finalAddress(url, headers).value_or(url);
    const std::string where = finalUrl == url ? url : finalUrl + " (redirected from " + url + ")";
    const int status = finalStatus(headers);
    if (status < 200 || status > 299) {
        return failed(fetchexit::kRefused, where + " answered " + finalStatusText(headers));
    }
    const std::optional<std::string> length = finalContentLength(headers);
    if (!length) return failed(fetchexit::kNoSize, where + " gives no usable size: no length");
    const std::optional<std::int64_t> size = parseContentLength(*length);
    if (!size || *size <= 0 || *size > std::numeric_limits<std::int32_t>::max()) {
        return failed(fetchexit::kNoSize, where + " gives no usable size: its length is " +
                                              *length + " (1 to 2147483647 bytes are usable)");
    }
    SizeAnswer answer;
    answer.size = static_cast<std::int32_t>(*size);
    answer.headers = std::move(headers);
    answer.finalUrl = finalUrl;
    return answer;
}
