#include "verify/StampSignature.h"

#include <optional>

#include "verify/MinisignSignature.h"

StampSignatureCheck checkStampSignature(std::string_view signedBytes,
                                        const std::string& signatureText,
                                        const std::string& stampKey) {
    StampSignatureCheck check;
    std::string error;
    const std::optional<MinisignSignature> signature = parseMinisignSignature(signatureText, error);
    if (!signature) {
        check.problem = "its signature is not a minisign signature: " + error;
        return check;
    }
    check.keyId = minisignKeyIdText(signature->keyId);
    check.trustedComment = signature->trustedComment;
    const std::optional<MinisignPublicKey> key = parseMinisignPublicKey(stampKey);
    if (!key) {
        check.problem = "the stamp key is not a minisign public key";
    } else if (!signature->prehashed) {
        // The block's format names one algorithm; a second form would only
        // be a second way in.
        check.problem = "its signature is not of the prehashed form";
    } else {
        check.problem = verifyMinisignMessage(signedBytes, *signature, *key, "the settings block");
    }
    return check;
}
