// The platform's hashing (OpenSSL on Linux, BCrypt on Windows) gives the
// published answers of the standard's test vectors.
#include <gtest/gtest.h>

#include <string>

#include "support/Sandbox.h"
#include "verify/FileDigest.h"

namespace {

TEST(DigestVectors, FileDigestGivesTheStandardsAnswers) {
    const testsupport::Sandbox sandbox;
    const struct {
        const char* name;
        std::string content;
        DigestAlgorithm algorithm;
        const char* hex;
    } cases[] = {
        {"sha-256 of abc", "abc", DigestAlgorithm::Sha256,
         "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"sha-512 of abc", "abc", DigestAlgorithm::Sha512,
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a"
         "3fee"
         "bbd454d4423643ce80e2a9ac94fa54ca49f"},
        {"sha-256 of a million a", std::string(1000000, 'a'), DigestAlgorithm::Sha256,
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {"sha-512 of a million a", std::string(1000000, 'a'), DigestAlgorithm::Sha512,
         "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb0432ce"
         "57"
         "7c31beb009c5c2c49aa2e4eadb217ad8cc09b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        const auto file =
            platform::ReadOnlyFile::open(sandbox.writeFile("input", c.content), error);
        ASSERT_NE(file, nullptr) << error;
        const auto digest = fileDigest(*file, c.algorithm, nullptr, error);
        ASSERT_TRUE(digest) << error;
        EXPECT_EQ(toHex(*digest), c.hex);
    }
}

}  // namespace
