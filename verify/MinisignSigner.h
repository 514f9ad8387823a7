#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "verify/MinisignSecretKey.h"

// The text of a .minisig file: prehashed (BLAKE2b-512) Ed25519 signature of
// message, with the trusted comment given, signed as minisign signs it (global
// signature over signature+comment). Throws std::invalid_argument for a
// comment with a line break (it would end the file's line), and
// std::runtime_error when OpenSSL fails.
std::string minisignSignature(const MinisignSecretKey& key, std::string_view message,
                              const std::string& trustedComment);

// The same for a message whose BLAKE2b-512 digest is at hand, so that a large
// file is hashed in a stream rather than held in memory.
std::string minisignSignatureOfDigest(const MinisignSecretKey& key,
                                      const std::vector<unsigned char>& blake2b512,
                                      const std::string& trustedComment);
