#pragma once

#include <atomic>
#include <string>

#include "net/ProxySettings.h"
#include "platform/ReadOnlyFile.h"

struct PublisherCheck {
    bool verified = false;
    // The check was cut short by the stop flag; nothing is known.
    bool stopped = false;
    // Who signed, or why the file is not taken as the pinned publisher's.
    std::string detail;
};

// Where the installer came from, for a platform whose signatures are
// published beside the file.
struct InstallerOrigin {
    // The final address of the installer's redirect chain.
    std::string url;
    ProxySettings proxy;
};

// Whether the installer held by `installer` is signed by the pinned
// publisher (a build setting; never empty here). Reads the file only through
// its held handle. Worker thread; blocks at most for one bounded request.
//
// Linux: the pinned publisher is a minisign public key, and the signature is
// fetched from the installer's address with ".minisig" appended to its path
// (signatureAddress), at most kMaxSignatureFileBytes of it.
// Windows: the pinned publisher is the subject name of the signing
// certificate, and the file's Authenticode signature is checked with its
// whole chain, revocation as the system is configured (authenticodeVerdict).
PublisherCheck checkPublisherSignature(const platform::ReadOnlyFile& installer,
                                       const std::string& pinnedPublisher,
                                       const InstallerOrigin& origin,
                                       const std::atomic<bool>& stop);

// How the logs name the pinned publisher: "key <id>" for a minisign key
// (Linux), the certificate's subject name (Windows).
std::string pinnedPublisherName(const std::string& pinnedPublisher);

// A signature file is a few hundred bytes; more is not one.
inline constexpr std::size_t kMaxSignatureFileBytes = 2048;
