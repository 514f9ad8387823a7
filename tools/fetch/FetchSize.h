#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "downloader/ResponseHeader.h"

// What websetup-fetch's size request learnt.
struct SizeAnswer {
    // 0, or the exit status of the failure (fetchexit), whose cause line is
    // on stderr then.
    int failure = 0;
    std::int32_t size = 0;
    // Every header line of the answer, redirects included.
    std::vector<ResponseHeader> headers;
    // Where the redirect chain ended: where the file and its signature are.
    std::string finalUrl;
};

// Asks url for the file's size, as the stub asks (fetchHeaders, no proxy):
// the Content-Length of the final answer, which must be a success. A failure
// prints one cause line naming the address and libcurl's words, or the
// status and its reason phrase as the server sent them.
SizeAnswer requestSize(const std::string& url);
