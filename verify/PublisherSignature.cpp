#include "verify/PublisherSignature.h"

#include <curl/curl.h>

#include <optional>

#include "net/SingleRequest.h"
#include "verify/BoundedTextSink.h"
#include "verify/MinisignSignature.h"
#include "verify/SignatureAddress.h"

namespace {

PublisherCheck refused(std::string detail) { return {false, false, std::move(detail)}; }

}  // namespace

PublishedSignature fetchPublishedSignature(const InstallerOrigin& origin,
                                           const std::atomic<bool>& stop) {
    PublishedSignature published;
    const std::optional<std::string> address = signatureAddress(origin.url);
    if (!address) {
        published.detail = "no signature address for " + origin.url;
        return published;
    }
    BoundedTextSink body(kMaxSignatureFileBytes);
    std::string errorText;
    RequestControl control;
    control.stopFlag = &stop;
    const std::int32_t result =
        sendRequest(*address, {}, origin.proxy, body, errorText, false, control);
    if (result == CURLE_ABORTED_BY_CALLBACK && stop) {
        published.stopped = true;
        published.detail = "stopped";
    } else if (body.overflowed()) {
        published.detail = *address + " is larger than a signature (over " +
                           std::to_string(kMaxSignatureFileBytes) + " bytes)";
    } else if (result != CURLE_OK) {
        published.detail =
            "no signature at " + *address + " (" + std::to_string(result) + ": " + errorText + ")";
    } else if (std::string error; !parseMinisignSignature(body.text(), error)) {
        published.detail = *address + ": " + error;
    } else {
        published.available = true;
        published.text = body.text();
    }
    return published;
}

PublisherCheck checkPublisherSignature(const platform::ReadOnlyFile& installer,
                                       const std::string& pinnedPublisher,
                                       const PublishedSignature& published,
                                       const std::atomic<bool>& stop) {
    const std::optional<MinisignPublicKey> key = parseMinisignPublicKey(pinnedPublisher);
    // A build whose pin cannot be read trusts nobody rather than everybody.
    if (!key) return refused("the pinned publisher key is not a minisign public key");
    if (!published.available) return refused(published.detail);
    std::string error;
    const std::optional<MinisignSignature> signature =
        parseMinisignSignature(published.text, error);
    if (!signature) return refused(error);
    error = verifyMinisignSignature(installer, *signature, *key, &stop);
    if (error == "stopped" && stop) return {false, true, error};
    if (!error.empty()) return refused(error);
    return {true, false, "signed with the pinned key " + minisignKeyIdText(key->keyId)};
}

std::string pinnedPublisherName(const std::string& pinnedPublisher) {
    const std::optional<MinisignPublicKey> key = parseMinisignPublicKey(pinnedPublisher);
    return key ? "key " + minisignKeyIdText(key->keyId) : "an unreadable key";
}
