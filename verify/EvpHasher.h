#pragma once

#include <openssl/evp.h>

#include <stdexcept>

#include "verify/DigestHasher.h"

// A DigestHasher over any digest OpenSSL provides (Linux).
class EvpHasher : public DigestHasher {
public:
    explicit EvpHasher(const EVP_MD* type) : m_context(EVP_MD_CTX_new()) {
        if (m_context == nullptr || EVP_DigestInit_ex(m_context, type, nullptr) != 1) {
            EVP_MD_CTX_free(m_context);
            throw std::runtime_error("OpenSSL cannot start a digest");
        }
    }
    ~EvpHasher() override { EVP_MD_CTX_free(m_context); }
    EvpHasher(const EvpHasher&) = delete;
    EvpHasher& operator=(const EvpHasher&) = delete;

    void update(const unsigned char* data, std::size_t size) override {
        if (EVP_DigestUpdate(m_context, data, size) != 1) {
            throw std::runtime_error("OpenSSL failed to digest");
        }
    }

    std::vector<unsigned char> finish() override {
        std::vector<unsigned char> digest(EVP_MAX_MD_SIZE);
        unsigned int length = 0;
        if (EVP_DigestFinal_ex(m_context, digest.data(), &length) != 1) {
            throw std::runtime_error("OpenSSL failed to digest");
        }
        digest.resize(length);
        return digest;
    }

private:
    EVP_MD_CTX* m_context;
};
