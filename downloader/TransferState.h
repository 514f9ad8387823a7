#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "downloader/Downloader.h"
#include "net/CurlHandles.h"
#include "net/EasyRequest.h"

// Everything one transfer from one address owns. Declared so that the
// libcurl handles go before the records their callbacks point at.
struct TransferState {
    // One record per worker, shared with the callbacks of its handle.
    Downloader::UserDataList userData;
    // The range text of each worker; libcurl keeps a pointer to it.
    std::vector<std::string> ranges;
    CurlMultiHandle multiHandle;
    std::vector<EasyRequest> workerHandles;
    // The handles to (re)start: every handle at first, afterwards those whose
    // transfer finished in the last iteration, with libcurl's result.
    std::map<CURL*, CURLcode> handlesErrorMap;
    // Failed part transfers on this address, never reset.
    std::int32_t curlOrVerificationErrorCount = 0;
    // Saved lengths of an earlier transfer count only in the first iteration.
    bool firstIteration = true;

    std::int32_t workerOf(CURL* handle) const {
        for (std::size_t i = 0; i < workerHandles.size(); ++i) {
            if (workerHandles[i].get() == handle) {
                return static_cast<std::int32_t>(i);
            }
        }
        return -1;
    }
};
