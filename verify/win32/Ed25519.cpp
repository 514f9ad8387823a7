#include "verify/Ed25519.h"

#include <sodium.h>

#include <stdexcept>

namespace {

// libsodium picks its fastest code once; its reference code, used before,
// gives the same results.
void initialiseSodium() {
    if (sodium_init() < 0) throw std::runtime_error("libsodium cannot start");
}

}  // namespace

bool ed25519Verifies(const std::array<unsigned char, 32>& key,
                     const std::array<unsigned char, 64>& signature, const unsigned char* message,
                     std::size_t length) {
    initialiseSodium();
    return crypto_sign_verify_detached(signature.data(), message, length, key.data()) == 0;
}

std::array<unsigned char, 64> blake2b512(std::string_view message) {
    initialiseSodium();
    std::array<unsigned char, 64> digest{};
    crypto_generichash(digest.data(), digest.size(),
                       reinterpret_cast<const unsigned char*>(message.data()), message.size(),
                       nullptr, 0);
    return digest;
}
