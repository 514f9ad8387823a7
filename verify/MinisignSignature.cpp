#include "verify/MinisignSignature.h"

#include <openssl/evp.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "verify/Base64.h"
#include "verify/EvpHasher.h"
#include "verify/EvpPointers.h"
#include "verify/FileDigest.h"
#include "verify/TextLines.h"

namespace {

constexpr std::string_view kUntrustedPrefix = "untrusted comment: ";
constexpr std::string_view kTrustedPrefix = "trusted comment: ";

template <std::size_t N>
void copyInto(std::array<unsigned char, N>& target, const std::vector<unsigned char>& bytes,
              std::size_t from) {
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(from), N, target.begin());
}

bool ed25519Verifies(const MinisignPublicKey& key, const std::array<unsigned char, 64>& signature,
                     const unsigned char* message, std::size_t length) {
    const EvpKey publicKey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.key.data(), key.key.size()));
    const EvpDigestContext context(EVP_MD_CTX_new());
    if (!publicKey || !context ||
        EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, publicKey.get()) != 1) {
        return false;
    }
    return EVP_DigestVerify(context.get(), signature.data(), signature.size(), message, length) ==
           1;
}

// The file's bytes, mapped rather than read: the legacy format signs the
// whole file in one piece, and an installer may be large.
class MappedFile {
public:
    explicit MappedFile(const platform::ReadOnlyFile& file) {
        struct stat status {};
        const int fd = static_cast<int>(file.nativeHandle());
        if (::fstat(fd, &status) != 0) return;
        m_size = static_cast<std::size_t>(status.st_size);
        if (m_size == 0) {
            m_data = &m_empty;
            return;
        }
        void* mapped = ::mmap(nullptr, m_size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (mapped != MAP_FAILED) m_mapping = mapped;
        m_data = static_cast<const unsigned char*>(m_mapping);
    }
    ~MappedFile() {
        if (m_mapping != nullptr) ::munmap(m_mapping, m_size);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    const unsigned char* data() const { return m_data; }
    std::size_t size() const { return m_size; }

private:
    void* m_mapping = nullptr;
    const unsigned char* m_data = nullptr;
    std::size_t m_size = 0;
    unsigned char m_empty = 0;
};

}  // namespace

std::optional<MinisignPublicKey> parseMinisignPublicKey(std::string_view text) {
    std::vector<std::string_view> lines = linesOf(text);
    if (lines.size() == 2 && startsWith(lines[0], kUntrustedPrefix)) lines.erase(lines.begin());
    if (lines.size() != 1) return std::nullopt;
    const std::optional<std::vector<unsigned char>> bytes = decodeBase64(lines[0]);
    if (!bytes || bytes->size() != 42 || (*bytes)[0] != 'E' || (*bytes)[1] != 'd') {
        return std::nullopt;
    }
    MinisignPublicKey key;
    copyInto(key.keyId, *bytes, 2);
    copyInto(key.key, *bytes, 10);
    return key;
}

std::optional<MinisignSignature> parseMinisignSignature(std::string_view text, std::string& error) {
    const std::vector<std::string_view> lines = linesOf(text);
    if (lines.size() != 4 || !startsWith(lines[0], kUntrustedPrefix) ||
        !startsWith(lines[2], kTrustedPrefix)) {
        error = "not a signature file of four lines with their comments";
        return std::nullopt;
    }
    const std::optional<std::vector<unsigned char>> signature = decodeBase64(lines[1]);
    const std::optional<std::vector<unsigned char>> global = decodeBase64(lines[3]);
    if (!signature || signature->size() != 74 || !global || global->size() != 64) {
        error = "the signature lines are not signatures";
        return std::nullopt;
    }
    MinisignSignature result;
    const unsigned char first = (*signature)[0];
    const unsigned char second = (*signature)[1];
    if (first != 'E' || (second != 'D' && second != 'd')) {
        error = "unknown signature algorithm";
        return std::nullopt;
    }
    result.prehashed = second == 'D';
    copyInto(result.keyId, *signature, 2);
    copyInto(result.signature, *signature, 10);
    result.trustedComment = std::string(lines[2].substr(kTrustedPrefix.size()));
    copyInto(result.globalSignature, *global, 0);
    return result;
}

std::string minisignKeyIdText(const std::array<unsigned char, 8>& keyId) {
    std::string text;
    for (auto byte = keyId.rbegin(); byte != keyId.rend(); ++byte) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", *byte);
        text += digits;
    }
    return text;
}

namespace {

std::string keyIdProblem(const MinisignSignature& signature, const MinisignPublicKey& key) {
    if (signature.keyId == key.keyId) return {};
    return "signed with key " + minisignKeyIdText(signature.keyId) + ", not with the pinned " +
           minisignKeyIdText(key.keyId);
}

// Why signedBytes (the digest, for a prehashed signature) and the trusted
// comment are not signed by `signature`, naming them as `what`.
std::string signedBytesProblem(const unsigned char* signedBytes, std::size_t length,
                               const MinisignSignature& signature, const MinisignPublicKey& key,
                               std::string_view what) {
    if (!ed25519Verifies(key, signature.signature, signedBytes, length)) {
        return "the signature does not match " + std::string(what);
    }
    std::vector<unsigned char> global(signature.signature.begin(), signature.signature.end());
    global.insert(global.end(), signature.trustedComment.begin(), signature.trustedComment.end());
    if (!ed25519Verifies(key, signature.globalSignature, global.data(), global.size())) {
        return "the trusted comment is not signed";
    }
    return {};
}

}  // namespace

std::string verifyMinisignSignature(const platform::ReadOnlyFile& file,
                                    const MinisignSignature& signature,
                                    const MinisignPublicKey& key, const std::atomic<bool>* stop) {
    if (std::string problem = keyIdProblem(signature, key); !problem.empty()) return problem;
    if (signature.prehashed) {
        EvpHasher hasher(EVP_blake2b512());
        std::string error;
        const std::optional<std::vector<unsigned char>> digest =
            fileDigest(file, hasher, stop, error);
        if (!digest) return error;
        return signedBytesProblem(digest->data(), digest->size(), signature, key, "the file");
    }
    const MappedFile mapped(file);
    if (mapped.data() == nullptr) return "cannot map " + file.path();
    return signedBytesProblem(mapped.data(), mapped.size(), signature, key, "the file");
}

std::string verifyMinisignMessage(std::string_view message, const MinisignSignature& signature,
                                  const MinisignPublicKey& key, std::string_view what) {
    if (std::string problem = keyIdProblem(signature, key); !problem.empty()) return problem;
    const auto* bytes = reinterpret_cast<const unsigned char*>(message.data());
    if (!signature.prehashed) {
        return signedBytesProblem(bytes, message.size(), signature, key, what);
    }
    EvpHasher hasher(EVP_blake2b512());
    hasher.update(bytes, message.size());
    const std::vector<unsigned char> digest = hasher.finish();
    return signedBytesProblem(digest.data(), digest.size(), signature, key, what);
}
