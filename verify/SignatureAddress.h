#pragma once

#include <optional>
#include <string>
#include <vector>

#include "downloader/ResponseHeader.h"

// The address a redirect chain ended at: requestUrl, with the Location of
// every response that was followed by another one resolved in turn, as
// libcurl followed them. requestUrl itself when nothing redirected; nothing
// when a Location cannot be resolved.
std::optional<std::string> finalAddress(const std::string& requestUrl,
                                        const std::vector<ResponseHeader>& headers);

// Where the detached signature of the file at url is published: ".minisig"
// appended to its path, its query kept (a signed download address usually
// carries its token there) and its fragment dropped. Nothing for an address
// that does not parse.
std::optional<std::string> signatureAddress(const std::string& url);
