#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "downloader/ResponseHeader.h"

enum class DigestAlgorithm { Sha256, Sha512 };

// "sha-256" or "sha-512".
const char* digestAlgorithmName(DigestAlgorithm algorithm);
std::size_t digestLength(DigestAlgorithm algorithm);

struct AnnouncedDigest {
    DigestAlgorithm algorithm = DigestAlgorithm::Sha256;
    std::vector<unsigned char> value;
};

struct DigestAnnouncement {
    // Every usable digest announced, each value once: the file must have all
    // of them, so an answer that names two values of one algorithm fits no
    // file. Empty when nothing usable was announced.
    std::vector<AnnouncedDigest> digests;
    // One line per value that was not used and why, for the diagnostic log.
    std::vector<std::string> ignored;
};

// The digests announced by the final answer of a redirect chain (the lines
// after the last status line): Repr-Digest, a dictionary of byte sequences
// ("sha-256=:<base64>:"), or else the older Digest ("SHA-256=<base64>"),
// every sha-256 and sha-512 value of it. A digest of another algorithm, a
// value of the wrong length and a field that does not parse are ignored and
// named in `ignored`; they are never taken as a digest the file has to match,
// nor as a reason to refuse it. A redirect's own digest describes the
// redirect.
DigestAnnouncement announcedDigest(const std::vector<ResponseHeader>& headers);

// A digest given on a command line: "<algorithm>:<value>", the algorithm
// sha-256 or sha-512 (any case), the value in hexadecimal or base64.
std::optional<AnnouncedDigest> parseDigestArgument(std::string_view text);

// The value as lower-case hexadecimal, for messages.
std::string toHex(const std::vector<unsigned char>& bytes);
