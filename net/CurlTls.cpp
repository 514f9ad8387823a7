#include "net/CurlTls.h"

#include "websetup/BuildConfig.h"

CURLcode applyBuildTrustStore(CURL* handle) {
    if (buildconfig::kCaBundle[0] == '\0') {
        return CURLE_OK;
    }
    return curl_easy_setopt(handle, CURLOPT_CAINFO, buildconfig::kCaBundle);
}
