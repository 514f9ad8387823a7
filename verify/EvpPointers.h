#pragma once

#include <openssl/evp.h>

#include <memory>

// Owners of OpenSSL's EVP objects (Linux).
struct EvpKeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct EvpDigestContextDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using EvpKey = std::unique_ptr<EVP_PKEY, EvpKeyDeleter>;
using EvpDigestContext = std::unique_ptr<EVP_MD_CTX, EvpDigestContextDeleter>;
