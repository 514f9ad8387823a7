#pragma once

#include <array>
#include <cstddef>
#include <string_view>

// The two primitives minisign signatures rest on: OpenSSL's on Linux,
// libsodium's in the Windows stub, which links no OpenSSL.

// Whether signature is key's Ed25519 signature of the message.
bool ed25519Verifies(const std::array<unsigned char, 32>& key,
                     const std::array<unsigned char, 64>& signature, const unsigned char* message,
                     std::size_t length);

// The message's BLAKE2b-512 digest.
std::array<unsigned char, 64> blake2b512(std::string_view message);
