#pragma once

#include <curl/curl.h>

#include <memory>
#include <string>

// Owning handles for libcurl's C objects. The thread that drives a handle
// owns it; the deleters run on that thread too.

struct CurlEasyDeleter {
    void operator()(CURL* handle) const noexcept { curl_easy_cleanup(handle); }
};
using CurlEasyHandle = std::unique_ptr<CURL, CurlEasyDeleter>;

struct CurlMultiDeleter {
    void operator()(CURLM* handle) const noexcept {
        // Ignored: a failed cleanup leaves nothing the owner could still do.
        (void)curl_multi_cleanup(handle);
    }
};
using CurlMultiHandle = std::unique_ptr<CURLM, CurlMultiDeleter>;

struct CurlHeaderListDeleter {
    void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};
using CurlHeaderList = std::unique_ptr<curl_slist, CurlHeaderListDeleter>;

// Appends one header line. On failure (out of memory) the list is left as it
// was and false is returned.
inline bool appendHeaderLine(CurlHeaderList& list, const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (grown == nullptr) {
        return false;
    }
    // Once the list exists its head stays the same; release first so that
    // reset does not free it.
    (void)list.release();
    list.reset(grown);
    return true;
}
