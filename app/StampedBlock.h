#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "app/PayloadInfo.h"

// A settings block may be signed. A signed block is an ordinary block whose
// last item is the signature item:
//
//   PayloadInfo:key=value;...;~signature=SIGNATURE:COMMENT:GLOBAL;\0\0
//
// SIGNATURE is the base64 line of a minisign signature (algorithm "ED", key
// id, Ed25519 signature of the BLAKE2b-512 digest of the signed bytes),
// COMMENT its trusted comment, encoded as setting values are, and GLOBAL the
// base64 line of the signature over SIGNATURE's signature and the comment.
// The signed bytes run from the first byte of the marker up to the item's
// first byte: every byte a reader takes settings from, so that a changed,
// added or removed byte breaks the signature. Readers that know nothing of
// signatures read the same settings plus one item they pass on.
//
// The item's key cannot be stamped as a setting (websetup-stamp refuses it),
// and every stub takes the item out instead of passing it to the installer.
inline constexpr std::string_view kStampSignatureKey = "~signature";

struct StampedBlock {
    // Every setting of the block, the signature item taken out.
    PayloadInfo settings;
    // The signature as the text of a minisign signature file, made from the
    // last signature item; std::nullopt when the block has none or the item
    // is not of the form above (signatureItemProblem says why).
    std::optional<std::string> signature;
    std::string signatureItemProblem;
    // The bytes the signature item covers.
    std::string signedBytes;
    // A setting follows the signature item: nothing signed it.
    bool settingAfterSignature = false;
};

// The block after the last marker of the window, read as parsePayloadInfo
// reads it.
StampedBlock parseStampedBlock(std::string_view window);

// Why a reader that believes only signed blocks refuses this one; empty when
// it believes it. signatureProblem checks the signature itself (empty: it
// holds). A block without settings and without a signature is an unstamped
// copy, which needs no signature.
std::string stampRefusal(
    const StampedBlock& block,
    const std::function<std::string(std::string_view signedBytes, const std::string& signature)>&
        signatureProblem);
