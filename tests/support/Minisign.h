#pragma once

#include <string>
#include <vector>

#include "support/Sandbox.h"

namespace testsupport {

// A key pair of the real minisign tool (Debian's package), made in a sandbox
// of its own, so that signatures are checked against the tool's format rather
// than against our own reading of it.
class MinisignKey {
public:
    // A key without a password, or encrypted with `password`.
    explicit MinisignKey(std::string password = "");

    // The public key line, as a build pins it.
    const std::string& publicKey() const { return m_publicKey; }
    // As minisign shows it: 16 upper-case hexadecimal digits.
    const std::string& keyId() const { return m_keyId; }
    const std::string& password() const { return m_password; }
    std::string secretKeyFile() const { return m_sandbox.file("key.sec"); }

    // The text of a detached signature of the file at path: minisign's
    // default prehashed form, or its legacy form when legacy.
    std::string sign(const std::string& path, bool legacy = false) const;

private:
    // Runs minisign with the password, if any, on its standard input.
    void run(std::vector<std::string> arguments) const;

    Sandbox m_sandbox;
    std::string m_password;
    std::string m_publicKey;
    std::string m_keyId;
};

// The base64 text of the file's digest ("sha256" or "sha512"), as a
// Repr-Digest value carries it between colons; computed by openssl's tool.
std::string base64Digest(const std::string& algorithm, const std::string& path);

}  // namespace testsupport
