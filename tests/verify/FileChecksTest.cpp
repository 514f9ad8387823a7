// The checks that read the downloaded file: its digest, and its minisign
// signature as the real tool makes it.
#include <gtest/gtest.h>

#include <string>

#include "support/Minisign.h"
#include "support/Process.h"
#include "support/Sandbox.h"
#include "verify/Base64.h"
#include "verify/FileDigest.h"
#include "verify/MinisignSignature.h"
#include "verify/PublisherSignature.h"

namespace {

using testsupport::MinisignKey;
using testsupport::Sandbox;

std::unique_ptr<platform::ReadOnlyFile> held(const std::string& path) {
    std::string error;
    auto file = platform::ReadOnlyFile::open(path, error);
    EXPECT_NE(file, nullptr) << error;
    return file;
}

// Beyond one read block, so that the pass over several blocks is what is
// compared.
std::string sizeableContent() {
    std::string content;
    for (int i = 0; content.size() < 3 * 1024 * 1024 + 17; ++i) {
        content += "line " + std::to_string(i) + "\n";
    }
    return content;
}

TEST(FileDigest, MatchesOpensslsDigestAndHonoursTheStopFlag) {
    const Sandbox sandbox;
    const struct {
        const char* name;
        std::string content;
    } files[] = {{"empty", ""}, {"several blocks", sizeableContent()}};
    for (const auto& f : files) {
        SCOPED_TRACE(f.name);
        const std::string path = sandbox.writeFile(f.name, f.content);
        const auto file = held(path);
        for (const auto& [algorithm, tool] :
             {std::pair{DigestAlgorithm::Sha256, "sha256"}, {DigestAlgorithm::Sha512, "sha512"}}) {
            std::string error;
            const auto digest = fileDigest(*file, algorithm, nullptr, error);
            ASSERT_TRUE(digest) << error;
            EXPECT_EQ(*digest, *decodeBase64(testsupport::base64Digest(tool, path)));
        }
    }
    const std::atomic<bool> stop{true};
    std::string error;
    EXPECT_FALSE(
        fileDigest(*held(sandbox.file("several blocks")), DigestAlgorithm::Sha256, &stop, error));
    EXPECT_EQ(error, "stopped");
}

TEST(MinisignSignature, AcceptsOnlyTheFileAsSignedWithThePinnedKey) {
    const Sandbox sandbox;
    const MinisignKey pinned;
    const MinisignKey other;
    const std::string original = sizeableContent();
    const std::string path = sandbox.writeFile("setup.exe", original);
    const std::string signature = pinned.sign(path);
    const std::string legacy = pinned.sign(path, true);
    std::string tampered = original;
    tampered[tampered.size() / 2] ^= 0x01;
    std::string forgedComment = signature;
    forgedComment[forgedComment.find("\ntrusted comment: ") + 18] = 'T';

    const struct {
        const char* name;
        std::string content;
        std::string signature;
        std::string expected;  // empty: verified; else the start of the reason
    } cases[] = {
        {"good", original, signature, ""},
        {"good, legacy form", original, legacy, ""},
        {"CRLF line ends", original,
         [&] {
             std::string crlf;
             for (const char c : signature)
                 crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
             return crlf;
         }(),
         ""},
        {"tampered file", tampered, signature, "the signature does not match the file"},
        {"tampered file, legacy form", tampered, legacy, "the signature does not match the file"},
        {"another key", original, other.sign(path), "signed with key "},
        {"changed trusted comment", original, forgedComment, "the trusted comment is not signed"},
        {"garbage", original, "this is no signature\n", "unparsable"},
        {"signature line cut", original, signature.substr(0, signature.find('\n') + 20),
         "unparsable"},
    };
    const auto key = parseMinisignPublicKey(pinned.publicKey());
    ASSERT_TRUE(key);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sandbox.writeFile("setup.exe", c.content);
        std::string error;
        const auto parsed = parseMinisignSignature(c.signature, error);
        if (!parsed) {
            EXPECT_EQ(c.expected, "unparsable") << error;
            continue;
        }
        const std::string reason = verifyMinisignSignature(*held(path), *parsed, *key, nullptr);
        if (c.expected.empty()) {
            EXPECT_EQ(reason, "");
        } else {
            EXPECT_EQ(reason.rfind(c.expected, 0), 0u) << reason;
        }
    }
}

TEST(MinisignSignature, PublicKeyIsTheKeyLineOrTheWholeKeyFile) {
    const MinisignKey key;
    const std::string file = "untrusted comment: minisign public key\n" + key.publicKey() + "\n";
    const struct {
        std::string text;
        bool valid;
    } cases[] = {
        {key.publicKey(), true},
        {file, true},
        {key.publicKey().substr(1), false},
        {"untrusted comment: x\n" + file, false},
        {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseMinisignPublicKey(c.text).has_value(), c.valid);
    }
}

// A build pinning an old and a new key while its publisher rotates: either
// key's signature is taken, a third key's is not, and a list that is not a
// list of keys pins nobody.
TEST(PinnedKeys, ASignatureByAnyListedKeyIsTaken) {
    const Sandbox sandbox;
    const MinisignKey oldKey;
    const MinisignKey newKey;
    const MinisignKey unlisted;
    const std::string path = sandbox.writeFile("setup.exe", "installer");
    const std::string pinned = " " + oldKey.publicKey() + " ,\t" + newKey.publicKey();
    const std::string ids = minisignKeyIdText(parseMinisignPublicKey(oldKey.publicKey())->keyId) +
                            ", " +
                            minisignKeyIdText(parseMinisignPublicKey(newKey.publicKey())->keyId);
    EXPECT_EQ(pinnedPublisherName(pinned), "keys " + ids);

    const struct {
        const char* name;
        std::string pinned;
        const MinisignKey& signer;
        bool verified;
        std::string detail;  // its start
    } cases[] = {
        {"the old key", pinned, oldKey, true, "signed with the pinned key "},
        {"the new key", pinned, newKey, true, "signed with the pinned key "},
        {"a key not listed", pinned, unlisted, false, "signed with key "},
        {"an empty item", oldKey.publicKey() + ",," + newKey.publicKey(), newKey, false,
         "the pinned publisher key is not"},
        {"a trailing comma", newKey.publicKey() + ",", newKey, false,
         "the pinned publisher key is not"},
    };
    const std::atomic<bool> stop{false};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PublishedSignature published;
        published.available = true;
        published.text = c.signer.sign(path);
        const PublisherCheck check =
            checkPublisherSignature(*held(path), c.pinned, published, stop);
        EXPECT_EQ(check.verified, c.verified) << check.detail;
        EXPECT_EQ(check.detail.rfind(c.detail, 0), 0u) << check.detail;
    }
    PublishedSignature byUnlisted;
    byUnlisted.available = true;
    byUnlisted.text = unlisted.sign(path);
    EXPECT_NE(checkPublisherSignature(*held(path), pinned, byUnlisted, stop)
                  .detail.find(", not with the pinned " + ids),
              std::string::npos);
}

}  // namespace
