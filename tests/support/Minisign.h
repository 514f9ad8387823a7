#pragma once

#include <string>

#include "support/Sandbox.h"

namespace testsupport {

// A key pair of the real minisign tool (Debian's package), made in a sandbox
// of its own, so that signatures are checked against the tool's format rather
// than against our own reading of it.
class MinisignKey {
public:
    MinisignKey();

    // The public key line, as a build pins it.
    const std::string& publicKey() const { return m_publicKey; }

    // The text of a detached signature of the file at path: minisign's
    // default prehashed form, or its legacy form when legacy.
    std::string sign(const std::string& path, bool legacy = false) const;

private:
    Sandbox m_sandbox;
    std::string m_publicKey;
};

// The base64 text of the file's digest ("sha256" or "sha512"), as a
// Repr-Digest value carries it between colons; computed by openssl's tool.
std::string base64Digest(const std::string& algorithm, const std::string& path);

}  // namespace testsupport
