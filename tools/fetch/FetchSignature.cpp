#include "tools/fetch/FetchSignature.h"

#include <atomic>
#include <cstdio>
#include <memory>

#include "platform/ReadOnlyFile.h"
#include "tools/fetch/FetchExitStatus.h"

namespace {

// The tool has no stop request: Ctrl-C ends the process.
const std::atomic<bool> kNeverStopped{false};

}  // namespace

std::optional<PublishedSignature> fetchFileSignature(const std::string& finalUrl) {
    PublishedSignature signature =
        fetchPublishedSignature({finalUrl, ProxySettings()}, kNeverStopped);
    if (!signature.available) {
        std::fprintf(stderr, "websetup-fetch: %s\n", signature.detail.c_str());
        return std::nullopt;
    }
    return signature;
}

int checkFileSignature(const std::string& path, const std::string& finalUrl, const std::string& key,
                       const PublishedSignature& signature) {
    std::string error;
    const std::unique_ptr<platform::ReadOnlyFile> file = platform::ReadOnlyFile::open(path, error);
    if (!file) {
        std::fprintf(stderr, "websetup-fetch: %s\n", error.c_str());
        return fetchexit::kIncomplete;
    }
    const PublisherCheck check = checkPublisherSignature(*file, key, signature, kNeverStopped);
    if (!check.verified) {
        std::fprintf(stderr, "websetup-fetch: %s is not signed with the key given: %s\n",
                     finalUrl.c_str(), check.detail.c_str());
        return fetchexit::kUnsigned;
    }
    std::fprintf(stderr, "websetup-fetch: publisher verified: %s\n", check.detail.c_str());
    return 0;
}
