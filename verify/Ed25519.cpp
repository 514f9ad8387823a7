#include "verify/Ed25519.h"

#include <algorithm>
#include <vector>

#include "verify/EvpHasher.h"
#include "verify/EvpPointers.h"

bool ed25519Verifies(const std::array<unsigned char, 32>& key,
                     const std::array<unsigned char, 64>& signature, const unsigned char* message,
                     std::size_t length) {
    const EvpKey publicKey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.data(), key.size()));
    const EvpDigestContext context(EVP_MD_CTX_new());
    if (!publicKey || !context ||
        EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, publicKey.get()) != 1) {
        return false;
    }
    return EVP_DigestVerify(context.get(), signature.data(), signature.size(), message, length) ==
           1;
}

std::array<unsigned char, 64> blake2b512(std::string_view message) {
    EvpHasher hasher(EVP_blake2b512());
    hasher.update(reinterpret_cast<const unsigned char*>(message.data()), message.size());
    const std::vector<unsigned char> digest = hasher.finish();
    std::array<unsigned char, 64> result{};
    std::copy_n(digest.begin(), result.size(), result.begin());
    return result;
}
