#include "net/CurlTls.h"

CURLcode applyBuildTrustStore(CURL* handle) {
    const char* bundle = trustedCaBundle();
    if (bundle[0] == '\0') {
        return CURLE_OK;
    }
    return curl_easy_setopt(handle, CURLOPT_CAINFO, bundle);
}
