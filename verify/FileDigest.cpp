#include "verify/FileDigest.h"

#include <cstdint>

#include "verify/DigestHasher.h"

namespace {

// Large enough that the system calls cost nothing beside the hashing, small
// enough to stay in the cache.
constexpr std::size_t kBlockBytes = 1 << 20;

}  // namespace

std::optional<std::vector<unsigned char>> fileDigest(const platform::ReadOnlyFile& file,
                                                     DigestAlgorithm algorithm,
                                                     const std::atomic<bool>* stop,
                                                     std::string& error) {
    return fileDigest(file, *DigestHasher::create(algorithm), stop, error);
}

std::optional<std::vector<unsigned char>> fileDigest(const platform::ReadOnlyFile& file,
                                                     DigestHasher& hasher,
                                                     const std::atomic<bool>* stop,
                                                     std::string& error) {
    std::vector<unsigned char> block(kBlockBytes);
    std::int64_t offset = 0;
    for (;;) {
        if (stop != nullptr && *stop) {
            error = "stopped";
            return std::nullopt;
        }
        const std::int64_t got = file.readAt(offset, block.data(), block.size(), error);
        if (got < 0) return std::nullopt;
        if (got == 0) break;
        hasher.update(block.data(), static_cast<std::size_t>(got));
        offset += got;
    }
    return hasher.finish();
}
