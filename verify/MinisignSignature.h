#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ReadOnlyFile.h"

// Detached signatures in the minisign format (Ed25519), checked against a
// public key fixed at build time: of installers (Linux), and of settings
// blocks (also in the Windows stub).

struct MinisignPublicKey {
    std::array<unsigned char, 8> keyId{};
    std::array<unsigned char, 32> key{};
};

// The key as minisign prints it: base64 of "Ed", the key id and the key. The
// text may also be a whole public-key file (an "untrusted comment:" line,
// then the key). Nothing for anything else.
std::optional<MinisignPublicKey> parseMinisignPublicKey(std::string_view text);

// A comma-separated list of such keys, blanks around the commas allowed, as
// a build pins the keys of a publisher in the middle of a key rotation; a
// single key may also be a whole public-key file. Nothing when the list is
// empty or any of its items is not a key.
std::optional<std::vector<MinisignPublicKey>> parseMinisignPublicKeys(std::string_view text);

struct MinisignSignature {
    // "ED": the file's BLAKE2b-512 digest is signed (minisign's default);
    // "Ed": the file itself.
    bool prehashed = true;
    std::array<unsigned char, 8> keyId{};
    std::array<unsigned char, 64> signature{};
    std::string trustedComment;
    // Over signature and trustedComment, so that the comment is signed too.
    std::array<unsigned char, 64> globalSignature{};
};

// The four lines of a signature file: "untrusted comment: ...", the
// signature, "trusted comment: ...", the global signature. Nothing, with
// `error` saying why, for anything else.
std::optional<MinisignSignature> parseMinisignSignature(std::string_view text, std::string& error);

// A key id as minisign shows it (16 upper-case hexadecimal digits).
std::string minisignKeyIdText(const std::array<unsigned char, 8>& keyId);

// Empty when `signature` is by `key` and signs the file and its trusted
// comment; otherwise why not ("stopped" when `stop` turned true while the
// file was read). Reads the file through its held handle. The calling
// thread's. Linux only.
std::string verifyMinisignSignature(const platform::ReadOnlyFile& file,
                                    const MinisignSignature& signature,
                                    const MinisignPublicKey& key, const std::atomic<bool>* stop);

// Empty when `signature` is by `key` and signs message and its trusted
// comment; otherwise why not, naming the message as `what`.
std::string verifyMinisignMessage(std::string_view message, const MinisignSignature& signature,
                                  const MinisignPublicKey& key, std::string_view what);

// The two halves of both checks. Empty when `signature` names `key`'s id;
// otherwise why not.
std::string minisignKeyIdProblem(const MinisignSignature& signature, const MinisignPublicKey& key);

// Empty when `signature` is by `key` over signedBytes (the message's
// BLAKE2b-512 digest for a prehashed signature, the message itself otherwise)
// and over its trusted comment; otherwise why not, naming the message as
// `what`.
std::string verifyMinisignSignedBytes(const unsigned char* signedBytes, std::size_t length,
                                      const MinisignSignature& signature,
                                      const MinisignPublicKey& key, std::string_view what);
