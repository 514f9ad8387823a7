#include "verify/SignatureAddress.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <memory>

namespace {

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using Url = std::unique_ptr<CURLU, UrlDeleter>;

std::optional<std::string> partOf(const Url& url, CURLUPart part) {
    char* text = nullptr;
    if (curl_url_get(url.get(), part, &text, 0) != CURLUE_OK) return std::nullopt;
    std::string result(text);
    curl_free(text);
    return result;
}

bool isLocation(const std::string& name) {
    std::string lowered(name);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lowered == "location";
}

}  // namespace

std::optional<std::string> finalAddress(const std::string& requestUrl,
                                        const std::vector<ResponseHeader>& headers) {
    const Url url(curl_url());
    if (!url || curl_url_set(url.get(), CURLUPART_URL, requestUrl.c_str(), 0) != CURLUE_OK) {
        return std::nullopt;
    }
    // The Location of the response being read, applied once the next status
    // line shows that it was followed.
    std::optional<std::string> pending;
    for (const ResponseHeader& header : headers) {
        if (header.kind == HK_Status) {
            if (pending && curl_url_set(url.get(), CURLUPART_URL, pending->c_str(),
                                        CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
                return std::nullopt;
            }
            pending.reset();
            continue;
        }
        if (header.kind != HK_Other) continue;
        const std::optional<HeaderField> field = splitHeaderField(header.value);
        if (field && isLocation(field->name)) pending = field->value;
    }
    return partOf(url, CURLUPART_URL);
}

std::optional<std::string> signatureAddress(const std::string& url) {
    const Url parsed(curl_url());
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
        return std::nullopt;
    }
    const std::optional<std::string> path = partOf(parsed, CURLUPART_PATH);
    if (!path ||
        curl_url_set(parsed.get(), CURLUPART_PATH, (*path + ".minisig").c_str(), 0) != CURLUE_OK ||
        curl_url_set(parsed.get(), CURLUPART_FRAGMENT, nullptr, 0) != CURLUE_OK) {
        return std::nullopt;
    }
    return partOf(parsed, CURLUPART_URL);
}
