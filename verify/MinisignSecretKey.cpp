#include "verify/MinisignSecretKey.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sodium.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <optional>
#include <system_error>
#include <vector>

#include "verify/Base64.h"
#include "verify/EvpPointers.h"
#include "verify/MinisignSignature.h"
#include "verify/TextLines.h"

namespace {

constexpr std::string_view kUntrustedPrefix = "untrusted comment: ";

// The decoded file: algorithm names, the key derivation's salt and limits,
// then the (possibly encrypted) key id, secret key and checksum.
constexpr std::size_t kSaltOffset = 6;
constexpr std::size_t kSaltSize = 32;
constexpr std::size_t kOpsLimitOffset = kSaltOffset + kSaltSize;
constexpr std::size_t kMemLimitOffset = kOpsLimitOffset + 8;
constexpr std::size_t kKeyOffset = kMemLimitOffset + 8;
constexpr std::size_t kKeyIdSize = 8;
constexpr std::size_t kSecretKeySize = 64;
constexpr std::size_t kChecksumSize = 32;
constexpr std::size_t kKeySize = kKeyIdSize + kSecretKeySize + kChecksumSize;
constexpr std::size_t kFileBytes = kKeyOffset + kKeySize;

// minisign's own choice for new keys (the "sensitive" limits): about a
// second of work and 1 GiB of memory for each guess of the password.
constexpr std::uint64_t kNewKeyOpsLimit = 33554432;
constexpr std::uint64_t kNewKeyMemLimit = 1073741824;
// A key asking for more than this is not one minisign made; refuse it rather
// than let a damaged limit exhaust the machine.
constexpr std::uint64_t kMaxScryptMemory = 4ull << 30;

// A secret key file is a few hundred bytes.
constexpr std::size_t kMaxFileBytes = 4096;

using KeyBlock = std::array<unsigned char, kKeySize>;

struct ScryptCost {
    std::uint64_t n = 0;
    std::uint64_t r = 0;
    std::uint64_t p = 0;
};

// N, r and p from the two limits a minisign key stores, as libsodium derives
// them for its scrypt password hashing: the file carries the limits, not the
// parameters.
ScryptCost scryptCost(std::uint64_t opsLimit, std::uint64_t memLimit) {
    opsLimit = std::max<std::uint64_t>(opsLimit, 32768);
    ScryptCost cost;
    cost.r = 8;
    const bool boundByTime = opsLimit < memLimit / 32;
    const std::uint64_t maxN = boundByTime ? opsLimit / (cost.r * 4) : memLimit / (cost.r * 128);
    unsigned log2N = 1;
    while (log2N < 63 && (std::uint64_t{1} << log2N) <= maxN / 2) ++log2N;
    cost.n = std::uint64_t{1} << log2N;
    if (boundByTime) {
        cost.p = 1;
    } else {
        const std::uint64_t maxRp = std::min<std::uint64_t>((opsLimit / 4) / cost.n, 0x3fffffff);
        cost.p = maxRp / cost.r;
    }
    return cost;
}

std::uint64_t readLittleEndian(const std::vector<unsigned char>& bytes, std::size_t offset) {
    std::uint64_t value = 0;
    for (std::size_t i = 8; i-- > 0;) value = (value << 8) | bytes[offset + i];
    return value;
}

void appendLittleEndian(std::vector<unsigned char>& bytes, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) {
        bytes.push_back(static_cast<unsigned char>(value & 0xFF));
        value >>= 8;
    }
}

// The key stream that encrypts the key block: scrypt of the password.
KeyBlock scryptStream(const std::string& password, const unsigned char* salt,
                      std::uint64_t opsLimit, std::uint64_t memLimit, const std::string& path) {
    const ScryptCost cost = scryptCost(opsLimit, memLimit);
    // What OpenSSL allocates: the p blocks and the N+2 vectors of 128*r bytes.
    const long double memory = 128.0L * cost.r * (static_cast<long double>(cost.n) + cost.p + 2);
    if (cost.p == 0 || memory > kMaxScryptMemory) {
        throw UnreadableSecretKey(path + ": the key's password parameters are out of range");
    }
    KeyBlock stream{};
    if (EVP_PBE_scrypt(password.data(), password.size(), salt, kSaltSize, cost.n, cost.r, cost.p,
                       static_cast<std::uint64_t>(memory), stream.data(), stream.size()) != 1) {
        throw std::runtime_error(path + ": OpenSSL failed to derive the key from the password");
    }
    return stream;
}

void applyStream(KeyBlock& block, const KeyBlock& stream) {
    for (std::size_t i = 0; i < block.size(); ++i) block[i] ^= stream[i];
}

// BLAKE2b with a 32-byte output over "Ed", the key id and the secret key.
// OpenSSL 3.0 offers BLAKE2b only with a 64-byte output (its MAC form needs a
// key, which changes the hash), so this one comes from libsodium.
std::array<unsigned char, kChecksumSize> keyChecksum(const unsigned char* keyIdAndSecret) {
    std::array<unsigned char, kChecksumSize> checksum{};
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, checksum.size());
    const unsigned char algorithm[] = {'E', 'd'};
    crypto_generichash_update(&state, algorithm, sizeof algorithm);
    crypto_generichash_update(&state, keyIdAndSecret, kKeyIdSize + kSecretKeySize);
    crypto_generichash_final(&state, checksum.data(), checksum.size());
    return checksum;
}

std::optional<std::array<unsigned char, 32>> publicKeyOfSeed(const unsigned char* seed) {
    const EvpKey key(EVP_PKEY_new_raw_private_key(EVP_PKEY_ED25519, nullptr, seed, 32));
    std::array<unsigned char, 32> publicKey{};
    std::size_t size = publicKey.size();
    if (!key || EVP_PKEY_get_raw_public_key(key.get(), publicKey.data(), &size) != 1) {
        return std::nullopt;
    }
    return publicKey;
}

std::string readSmallFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error(path + ": cannot open: " + std::generic_category().message(errno));
    std::string text;
    text.resize(kMaxFileBytes + 1);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad())
        throw std::runtime_error(path + ": cannot read: " + std::generic_category().message(errno));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

std::vector<unsigned char> decodedKeyFile(const std::string& path) {
    const std::string text = readSmallFile(path);
    const std::vector<std::string_view> lines = linesOf(text);
    std::optional<std::vector<unsigned char>> bytes;
    if (text.size() <= kMaxFileBytes && lines.size() == 2 &&
        startsWith(lines[0], kUntrustedPrefix)) {
        bytes = decodeBase64(lines[1]);
    }
    if (!bytes || bytes->size() != kFileBytes || std::memcmp(bytes->data(), "Ed", 2) != 0) {
        throw UnreadableSecretKey(path + ": not a minisign secret key");
    }
    if (std::memcmp(bytes->data() + 4, "B2", 2) != 0) {
        throw UnreadableSecretKey(path + ": a minisign secret key with an unknown checksum");
    }
    return *bytes;
}

}  // namespace

MinisignSecretKey readMinisignSecretKey(const std::string& path,
                                        const std::function<std::string()>& askPassword) {
    const std::vector<unsigned char> bytes = decodedKeyFile(path);
    const bool encrypted = std::memcmp(bytes.data() + 2, "Sc", 2) == 0;
    if (!encrypted && (bytes[2] != 0 || bytes[3] != 0)) {
        throw UnreadableSecretKey(path + ": a minisign secret key with an unknown encryption");
    }
    KeyBlock block{};
    std::copy_n(bytes.begin() + kKeyOffset, kKeySize, block.begin());
    if (encrypted) {
        applyStream(block, scryptStream(askPassword(), bytes.data() + kSaltOffset,
                                        readLittleEndian(bytes, kOpsLimitOffset),
                                        readLittleEndian(bytes, kMemLimitOffset), path));
    }
    const std::array<unsigned char, kChecksumSize> checksum = keyChecksum(block.data());
    const bool checksumMatches =
        std::equal(checksum.begin(), checksum.end(), block.begin() + kKeyIdSize + kSecretKeySize);
    // minisign leaves the checksum of an unencrypted key zero.
    const bool checksumLeftOut =
        !encrypted && std::all_of(block.begin() + kKeyIdSize + kSecretKeySize, block.end(),
                                  [](unsigned char byte) { return byte == 0; });
    if (!checksumMatches && !checksumLeftOut) {
        throw UnreadableSecretKey(path + (encrypted ? ": wrong password (or the key is damaged)"
                                                    : ": the key is damaged (wrong checksum)"));
    }
    MinisignSecretKey key{};
    std::copy_n(block.begin(), kKeyIdSize, key.keyId.begin());
    std::copy_n(block.begin() + kKeyIdSize, key.seed.size(), key.seed.begin());
    std::copy_n(block.begin() + kKeyIdSize + key.seed.size(), key.publicKey.size(),
                key.publicKey.begin());
    // Without a checksum, this is what shows a damaged key before it signs.
    if (publicKeyOfSeed(key.seed.data()) != key.publicKey) {
        throw UnreadableSecretKey(path + ": the key is damaged (its halves do not match)");
    }
    return key;
}

MinisignSecretKey generateMinisignSecretKey() {
    MinisignSecretKey key{};
    if (RAND_bytes(key.keyId.data(), static_cast<int>(key.keyId.size())) != 1 ||
        RAND_bytes(key.seed.data(), static_cast<int>(key.seed.size())) != 1) {
        throw std::runtime_error("OpenSSL cannot provide random bytes");
    }
    const std::optional<std::array<unsigned char, 32>> publicKey = publicKeyOfSeed(key.seed.data());
    if (!publicKey) throw std::runtime_error("OpenSSL cannot make an Ed25519 key");
    key.publicKey = *publicKey;
    return key;
}

std::string minisignSecretKeyText(const MinisignSecretKey& key, const std::string& password) {
    const bool encrypted = !password.empty();
    std::vector<unsigned char> bytes{'E', 'd'};
    if (encrypted) {
        bytes.insert(bytes.end(), {'S', 'c'});
    } else {
        bytes.insert(bytes.end(), {0, 0});
    }
    bytes.insert(bytes.end(), {'B', '2'});
    std::array<unsigned char, kSaltSize> salt{};
    if (encrypted && RAND_bytes(salt.data(), static_cast<int>(salt.size())) != 1) {
        throw std::runtime_error("OpenSSL cannot provide random bytes");
    }
    bytes.insert(bytes.end(), salt.begin(), salt.end());
    appendLittleEndian(bytes, encrypted ? kNewKeyOpsLimit : 0);
    appendLittleEndian(bytes, encrypted ? kNewKeyMemLimit : 0);

    KeyBlock block{};
    auto* out = std::copy(key.keyId.begin(), key.keyId.end(), block.begin());
    out = std::copy(key.seed.begin(), key.seed.end(), out);
    out = std::copy(key.publicKey.begin(), key.publicKey.end(), out);
    // Written for an unencrypted key too: it costs nothing, minisign does not
    // mind, and it lets a damaged copy be told apart.
    const std::array<unsigned char, kChecksumSize> checksum = keyChecksum(block.data());
    std::copy(checksum.begin(), checksum.end(), out);
    if (encrypted) {
        applyStream(block, scryptStream(password, salt.data(), kNewKeyOpsLimit, kNewKeyMemLimit,
                                        "the new key"));
    }
    bytes.insert(bytes.end(), block.begin(), block.end());
    return std::string(kUntrustedPrefix) + "minisign " + (encrypted ? "encrypted " : "") +
           "secret key\n" + encodeBase64(bytes.data(), bytes.size()) + "\n";
}

std::string minisignPublicKeyLine(const MinisignSecretKey& key) {
    std::vector<unsigned char> bytes{'E', 'd'};
    bytes.insert(bytes.end(), key.keyId.begin(), key.keyId.end());
    bytes.insert(bytes.end(), key.publicKey.begin(), key.publicKey.end());
    return encodeBase64(bytes.data(), bytes.size());
}

std::string minisignPublicKeyText(const MinisignSecretKey& key) {
    return std::string(kUntrustedPrefix) + "minisign public key " + minisignKeyIdText(key.keyId) +
           "\n" + minisignPublicKeyLine(key) + "\n";
}
