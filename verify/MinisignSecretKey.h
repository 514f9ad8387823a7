#pragma once

#include <array>
#include <functional>
#include <stdexcept>
#include <string>

// A publisher's minisign secret key, for the tools that sign (Linux only; the
// stub never holds one).
struct MinisignSecretKey {
    std::array<unsigned char, 8> keyId;
    std::array<unsigned char, 32> seed;
    std::array<unsigned char, 32> publicKey;
};

// The file is there but holds no key this program can use: not a minisign
// secret key, a wrong password, a damaged key.
class UnreadableSecretKey : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads a minisign secret key file (encrypted with a password or not); throws
// std::runtime_error with a message naming the file and what is wrong: an
// UnreadableSecretKey for the file's contents (not a key, wrong password,
// ...), a plain std::runtime_error when the file cannot be read.
// askPassword is called only when the key is encrypted.
MinisignSecretKey readMinisignSecretKey(const std::string& path,
                                        const std::function<std::string()>& askPassword);

// A new key pair from OpenSSL's random bytes. Throws std::runtime_error when
// OpenSSL cannot provide them.
MinisignSecretKey generateMinisignSecretKey();

// The secret key file as minisign writes it: encrypted with the password
// (scrypt with minisign's default, deliberately slow, parameters), or
// unencrypted when the password is empty, as `minisign -G -W` leaves it.
std::string minisignSecretKeyText(const MinisignSecretKey& key, const std::string& password);

// The public key as a build pins it: base64 of "Ed", the key id and the key.
std::string minisignPublicKeyLine(const MinisignSecretKey& key);

// The public key file: an untrusted comment naming the key id, then the line.
std::string minisignPublicKeyText(const MinisignSecretKey& key);
