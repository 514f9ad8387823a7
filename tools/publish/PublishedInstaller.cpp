#include "tools/publish/PublishedInstaller.h"

#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "platform/ReadOnlyFile.h"
#include "tools/publish/OutputFiles.h"
#include "verify/Base64.h"
#include "verify/EvpHasher.h"
#include "verify/FileDigest.h"
#include "verify/MinisignSigner.h"

namespace {

std::vector<unsigned char> digestOf(const platform::ReadOnlyFile& file, DigestHasher& hasher) {
    std::string error;
    const std::optional<std::vector<unsigned char>> digest =
        fileDigest(file, hasher, nullptr, error);
    if (!digest) throw std::runtime_error(file.path() + ": " + error);
    return *digest;
}

std::string reprDigestItem(const platform::ReadOnlyFile& file, DigestAlgorithm algorithm) {
    const std::unique_ptr<DigestHasher> hasher = DigestHasher::create(algorithm);
    const std::vector<unsigned char> digest = digestOf(file, *hasher);
    return std::string(digestAlgorithmName(algorithm)) +
           "=:" + encodeBase64(digest.data(), digest.size()) + ":";
}

}  // namespace

PublishedInstaller publishInstaller(const std::string& path, const MinisignSecretKey& key) {
    std::string error;
    const std::unique_ptr<platform::ReadOnlyFile> file = platform::ReadOnlyFile::open(path, error);
    if (!file) throw std::runtime_error(error);

    PublishedInstaller published;
    published.path = path;
    published.name = std::filesystem::path(path).filename().string();
    published.signaturePath = path + ".minisig";
    published.reprDigest = reprDigestItem(*file, DigestAlgorithm::Sha256) + ", " +
                           reprDigestItem(*file, DigestAlgorithm::Sha512);

    EvpHasher blake2b(EVP_blake2b512());
    const std::string trustedComment =
        "timestamp:" + std::to_string(std::time(nullptr)) + "\tfile:" + published.name + "\thashed";
    replaceFile(published.signaturePath,
                minisignSignatureOfDigest(key, digestOf(*file, blake2b), trustedComment));
    return published;
}
