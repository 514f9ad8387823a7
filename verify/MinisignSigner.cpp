#include "verify/MinisignSigner.h"

#include <stdexcept>

#include "verify/Base64.h"
#include "verify/EvpHasher.h"
#include "verify/EvpPointers.h"
#include "verify/MinisignSignature.h"

namespace {

std::array<unsigned char, 64> ed25519Signature(const MinisignSecretKey& key,
                                               const unsigned char* message, std::size_t length) {
    const EvpKey secretKey(
        EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, key.seed.data(), key.seed.size()));
    const EvpDigestContext context(EVP_MD_CTX_new());
    std::array<unsigned char, 64> signature{};
    std::size_t size = signature.size();
    if (!secretKey || !context ||
        EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, secretKey.get()) != 1 ||
        EVP_DigestSign(context.get(), signature.data(), &size, message, length) != 1 ||
        size != signature.size()) {
        throw std::runtime_error("OpenSSL failed to sign");
    }
    return signature;
}

}  // namespace

std::string minisignSignature(const MinisignSecretKey& key, std::string_view message,
                              const std::string& trustedComment) {
    EvpHasher hasher(EVP_blake2b512());
    hasher.update(reinterpret_cast<const unsigned char*>(message.data()), message.size());
    return minisignSignatureOfDigest(key, hasher.finish(), trustedComment);
}

std::string minisignSignatureOfDigest(const MinisignSecretKey& key,
                                      const std::vector<unsigned char>& blake2b512,
                                      const std::string& trustedComment) {
    if (trustedComment.find_first_of("\r\n") != std::string::npos) {
        throw std::invalid_argument("a trusted comment is one line");
    }
    const std::array<unsigned char, 64> signature =
        ed25519Signature(key, blake2b512.data(), blake2b512.size());
    // "ED": the signed message is the file's BLAKE2b-512 digest.
    std::vector<unsigned char> signatureLine{'E', 'D'};
    signatureLine.insert(signatureLine.end(), key.keyId.begin(), key.keyId.end());
    signatureLine.insert(signatureLine.end(), signature.begin(), signature.end());

    std::vector<unsigned char> global(signature.begin(), signature.end());
    global.insert(global.end(), trustedComment.begin(), trustedComment.end());
    const std::array<unsigned char, 64> globalSignature =
        ed25519Signature(key, global.data(), global.size());

    return "untrusted comment: signature from minisign secret key " + minisignKeyIdText(key.keyId) +
           "\n" + encodeBase64(signatureLine.data(), signatureLine.size()) +
           "\ntrusted comment: " + trustedComment + "\n" +
           encodeBase64(globalSignature.data(), globalSignature.size()) + "\n";
}
