#include "verify/PublisherSignature.h"

#include <curl/curl.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "net/SingleRequest.h"
#include "verify/BoundedTextSink.h"
#include "verify/MinisignSignature.h"
#include "verify/SignatureAddress.h"

namespace {

PublisherCheck refused(std::string detail) { return {false, false, std::move(detail)}; }

std::string keyIdsText(const std::vector<MinisignPublicKey>& keys) {
    std::string text;
    for (const MinisignPublicKey& key : keys) {
        if (!text.empty()) text += ", ";
        text += minisignKeyIdText(key.keyId);
    }
    return text;
}

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
    const std::optional<std::vector<MinisignPublicKey>> keys =
        parseMinisignPublicKeys(pinnedPublisher);
    // A build whose pin cannot be read trusts nobody rather than everybody.
    if (!keys) return refused("the pinned publisher key is not a minisign public key");
    if (!published.available) return refused(published.detail);
    std::string error;
    const std::optional<MinisignSignature> signature =
        parseMinisignSignature(published.text, error);
    if (!signature) return refused(error);
    // Key ids tell the pinned keys apart; the one the signature names must
    // also have made it.
    const auto key = std::find_if(keys->begin(), keys->end(), [&](const MinisignPublicKey& pinned) {
        return pinned.keyId == signature->keyId;
    });
    if (key == keys->end()) {
        return refused("signed with key " + minisignKeyIdText(signature->keyId) +
                       ", not with the pinned " + keyIdsText(*keys));
    }
    error = verifyMinisignSignature(installer, *signature, *key, &stop);
    if (error == "stopped" && stop) return {false, true, error};
    if (!error.empty()) return refused(error);
    return {true, false, "signed with the pinned key " + minisignKeyIdText(key->keyId)};
}

std::string pinnedPublisherName(const std::string& pinnedPublisher) {
    const std::optional<std::vector<MinisignPublicKey>> keys =
        parseMinisignPublicKeys(pinnedPublisher);
    if (!keys) return "an unreadable key";
    return (keys->size() == 1 ? "key " : "keys ") + keyIdsText(*keys);
}
