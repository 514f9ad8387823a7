#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "verify/AnnouncedDigest.h"

// One streaming digest computation: OpenSSL's EVP on Linux, the system's
// BCrypt on Windows. Owned by one thread.
class DigestHasher {
public:
    // Throws std::runtime_error when the system cannot provide the algorithm.
    static std::unique_ptr<DigestHasher> create(DigestAlgorithm algorithm);
    virtual ~DigestHasher() = default;

    // Throws std::runtime_error on a failure of the library.
    virtual void update(const unsigned char* data, std::size_t size) = 0;
    // The digest of everything passed to update; call once.
    virtual std::vector<unsigned char> finish() = 0;
};
