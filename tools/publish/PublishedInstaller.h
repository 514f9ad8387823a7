#pragma once

#include <string>

#include "verify/MinisignSecretKey.h"

// One installer made ready for publishing: its signature written beside it,
// its digests as its server announces them.
struct PublishedInstaller {
    std::string path;
    // The file name alone, as the signature's trusted comment names it.
    std::string name;
    std::string signaturePath;
    // The Repr-Digest header's value: "sha-256=:<base64>:, sha-512=:<base64>:".
    std::string reprDigest;
};

// Signs the installer at path with key (minisign's prehashed form, the
// trusted comment "timestamp:<unix time>\tfile:<name>\thashed") into
// path.minisig, through a temporary file renamed over it so that a server
// never serves half a signature, and computes its digests. Throws
// std::runtime_error naming the file when it cannot be read or the signature
// cannot be written; nothing is left behind then.
PublishedInstaller publishInstaller(const std::string& path, const MinisignSecretKey& key);
