#include "verify/MinisignSignature.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "verify/Base64.h"
#include "verify/Ed25519.h"
#include "verify/TextLines.h"

namespace {

constexpr std::string_view kUntrustedPrefix = "untrusted comment: ";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";

template <std::size_t N>
void copyInto(std::array<unsigned char, N>& target, const std::vector<unsigned char>& bytes,
              std::size_t from) {
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(from), N, target.begin());
}

}  // namespace

std::optional<MinisignPublicKey> parseMinisignPublicKey(std::string_view text) {
    std::vector<std::string_view> lines = linesOf(text);
    if (lines.size() == 2 && startsWith(lines[0], kUntrustedPrefix)) lines.erase(lines.begin());
    if (lines.size() != 1) return std::nullopt;
    const std::optional<std::vector<unsigned char>> bytes = decodeBase64(lines[0]);
    if (!bytes || bytes->size() != 42 || (*bytes)[0] != 'E' || (*bytes)[1] != 'd') {
        return std::nullopt;
    }
    MinisignPublicKey key;
    copyInto(key.keyId, *bytes, 2);
    copyInto(key.key, *bytes, 10);
    return key;
}

std::optional<std::vector<MinisignPublicKey>> parseMinisignPublicKeys(std::string_view text) {
    if (const std::optional<MinisignPublicKey> key = parseMinisignPublicKey(text)) {
        return std::vector<MinisignPublicKey>{*key};
    }
    std::vector<MinisignPublicKey> keys;
    for (;;) {
        const std::size_t comma = text.find(',');
        std::string_view item = text.substr(0, comma);
        const std::size_t first = item.find_first_not_of(" \t");
        item = first == std::string_view::npos
                   ? std::string_view()
                   : item.substr(first, item.find_last_not_of(" \t") + 1 - first);
        const std::optional<MinisignPublicKey> key = parseMinisignPublicKey(item);
        if (!key) return std::nullopt;
        keys.push_back(*key);
        if (comma == std::string_view::npos) return keys;
        text.remove_prefix(comma + 1);
    }
}

std::optional<MinisignSignature> parseMinisignSignature(std::string_view text, std::string& error) {
    const std::vector<std::string_view> lines = linesOf(text);
    if (lines.size() != 4 || !startsWith(lines[0], kUntrustedPrefix) ||
        !startsWith(lines[2], kTrustedPrefix)) {
        error = "not a signature file of four lines with their comments";
        return std::nullopt;
    }
    const std::optional<std::vector<unsigned char>> signature = decodeBase64(lines[1]);
    const std::optional<std::vector<unsigned char>> global = decodeBase64(lines[3]);
    if (!signature || signature->size() != 74 || !global || global->size() != 64) {
        error = "the signature lines are not signatures";
        return std::nullopt;
    }
    MinisignSignature result;
    const unsigned char first = (*signature)[0];
    const unsigned char second = (*signature)[1];
    if (first != 'E' || (second != 'D' && second != 'd')) {
        error = "unknown signature algorithm";
        return std::nullopt;
    }
    result.prehashed = second == 'D';
    copyInto(result.keyId, *signature, 2);
    copyInto(result.signature, *signature, 10);
    result.trustedComment = std::string(lines[2].substr(kTrustedPrefix.size()));
    copyInto(result.globalSignature, *global, 0);
    return result;
}

std::string minisignKeyIdText(const std::array<unsigned char, 8>& keyId) {
    std::string text;
    for (auto byte = keyId.rbegin(); byte != keyId.rend(); ++byte) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", *byte);
        text += digits;
    }
    return text;
}

std::string minisignKeyIdProblem(const MinisignSignature& signature, const MinisignPublicKey& key) {
    if (signature.keyId == key.keyId) return {};
    return "signed with key " + minisignKeyIdText(signature.keyId) + ", not with the pinned " +
           minisignKeyIdText(key.keyId);
}

std::string verifyMinisignSignedBytes(const unsigned char* signedBytes, std::size_t length,
                                      const MinisignSignature& signature,
                                      const MinisignPublicKey& key, std::string_view what) {
    if (!ed25519Verifies(key.key, signature.signature, signedBytes, length)) {
        return "the signature does not match " + std::string(what);
    }
    std::vector<unsigned char> global(signature.signature.begin(), signature.signature.end());
    global.insert(global.end(), signature.trustedComment.begin(), signature.trustedComment.end());
    if (!ed25519Verifies(key.key, signature.globalSignature, global.data(), global.size())) {
        return "the trusted comment is not signed";
    }
    return {};
}

std::string verifyMinisignMessage(std::string_view message, const MinisignSignature& signature,
                                  const MinisignPublicKey& key, std::string_view what) {
    if (std::string problem = minisignKeyIdProblem(signature, key); !problem.empty()) {
        return problem;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(message.data());
    if (!signature.prehashed) {
        return verifyMinisignSignedBytes(bytes, message.size(), signature, key, what);
    }
    const std::array<unsigned char, 64> digest = blake2b512(message);
    return verifyMinisignSignedBytes(digest.data(), digest.size(), signature, key, what);
}
