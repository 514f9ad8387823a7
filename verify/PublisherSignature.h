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

// The publisher's signature of an installer, fetched ahead of the check so
// that a missing or unreadable one is known before the installer's bytes are
// spent.
struct PublishedSignature {
    // The signature is at hand and reads as one; always on a platform whose
    // signatures are inside the installer.
    bool available = false;
    // The request was cut short by the stop flag; nothing is known.
    bool stopped = false;
    // Why it is not available: the address and the server's or libcurl's
    // words.
    std::string detail;
    // The detached signature file (Linux); empty on Windows.
    std::string text;
};

// The signature of the installer published at origin. Any thread; blocks at
// most for one bounded request, which the stop flag ends within about a
// second.
//
// Linux: fetched from the installer's address with ".minisig" appended to its
// path (signatureAddress), at most kMaxSignatureFileBytes of it, and read as a
// minisign signature file. Windows: the signature is inside the installer;
// nothing is fetched.
PublishedSignature fetchPublishedSignature(const InstallerOrigin& origin,
                                           const std::atomic<bool>& stop);

// Whether the installer held by `installer` is signed by the pinned
// publisher (a build setting; never empty here) with `published`, as
// fetchPublishedSignature fetched it. Reads the file only through its held
// handle. The calling thread's.
//
// Linux: the pinned publisher is a minisign public key, or a comma-separated
// list of them while the publisher rotates its key (a signature by any of
// them is taken; its key id picks the key). Windows: the pinned
// publisher is the subject name of the signing certificate, and the file's
// Authenticode signature is checked with its whole chain, revocation as the
// system is configured (authenticodeVerdict).
PublisherCheck checkPublisherSignature(const platform::ReadOnlyFile& installer,
                                       const std::string& pinnedPublisher,
                                       const PublishedSignature& published,
                                       const std::atomic<bool>& stop);

// How the logs name the pinned publisher: "key <id>" for a minisign key and
// "keys <id>, <id>" for a list of them (Linux), the certificate's subject
// name (Windows).
std::string pinnedPublisherName(const std::string& pinnedPublisher);

// A signature file is a few hundred bytes; more is not one.
inline constexpr std::size_t kMaxSignatureFileBytes = 2048;
