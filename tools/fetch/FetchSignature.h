#pragma once

#include <optional>
#include <string>

#include "verify/PublisherSignature.h"

// --publisher-key: the file is checked as a build that pins the key checks
// its installer, so that a publisher can check a deployed host end to end.

// The signature beside the file at finalUrl, fetched as the stub fetches it,
// before the download. Nothing, after its cause line on stderr, when it is
// missing or unreadable.
std::optional<PublishedSignature> fetchFileSignature(const std::string& finalUrl);

// 0 when `signature` signs the complete file at path with key (a minisign
// public key); otherwise, after its cause line, fetchexit::kUnsigned, or
// fetchexit::kIncomplete when the file cannot be read. The file is left as
// it is either way.
int checkFileSignature(const std::string& path, const std::string& finalUrl, const std::string& key,
                       const PublishedSignature& signature);
