#pragma once

#include <cstdint>
#include <vector>

#include "downloader/ResponseHeader.h"

// True when the final response among `headers` (those after the last status
// line) carries exactly one Content-Range header, and it names bytes `first`
// to `last` of a file of `total` bytes. Caches that align ranges to their own
// blocks answer with the right length for the wrong bytes, and a file that
// changed after its size was asked names another total (or "*"); an answer
// that names nothing cannot be told apart from either.
bool contentRangeIs(const std::vector<ResponseHeader>& headers, std::int64_t first,
                    std::int64_t last, std::int64_t total);
