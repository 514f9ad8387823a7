#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>

// The signature of a signed settings block (app/StampedBlock.h), checked
// against the stamp key a build fixes.
struct StampSignatureCheck {
    // The signer's key id as minisign shows it; empty when the signature
    // text is not a signature.
    std::string keyId;
    std::string trustedComment;
    // Why the block is not believed; empty when the signature holds.
    std::string problem;
};

// Checks that signatureText (a minisign signature file, prehashed form) is
// the stamp key's signature of signedBytes and of its trusted comment.
// stampKey is a minisign public key line.
StampSignatureCheck checkStampSignature(std::string_view signedBytes,
                                        const std::string& signatureText,
                                        const std::string& stampKey);

// The problem checkStampSignature finds under stampKey, as the check that
// stampRefusal (app/StampedBlock.h) takes.
inline std::function<std::string(std::string_view signedBytes, const std::string& signatureText)>
stampSignatureProblem(std::string stampKey) {
    return [stampKey = std::move(stampKey)](std::string_view signedBytes,
                                            const std::string& signatureText) {
        return checkStampSignature(signedBytes, signatureText, stampKey).problem;
    };
}
