#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "platform/ReadOnlyFile.h"
#include "verify/AnnouncedDigest.h"

// The digest of the whole file, read through its held handle in one
// streaming pass. Nothing when `stop` turned true meanwhile (checked between
// blocks, so a large file does not hold a closing program) or when reading
// failed; `error` says which. Throws std::runtime_error when the hashing
// library fails. The calling thread's.
std::optional<std::vector<unsigned char>> fileDigest(const platform::ReadOnlyFile& file,
                                                     DigestAlgorithm algorithm,
                                                     const std::atomic<bool>* stop,
                                                     std::string& error);

class DigestHasher;
// The same with a hasher of the caller's.
std::optional<std::vector<unsigned char>> fileDigest(const platform::ReadOnlyFile& file,
                                                     DigestHasher& hasher,
                                                     const std::atomic<bool>* stop,
                                                     std::string& error);
