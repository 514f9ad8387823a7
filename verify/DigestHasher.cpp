#include "verify/DigestHasher.h"

#include "verify/EvpHasher.h"

std::unique_ptr<DigestHasher> DigestHasher::create(DigestAlgorithm algorithm) {
    return std::make_unique<EvpHasher>(algorithm == DigestAlgorithm::Sha512 ? EVP_sha512()
                                                                            : EVP_sha256());
}
