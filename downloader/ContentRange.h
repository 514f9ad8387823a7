#pragma once

#include <cstdint>
#include <vector>

#include "downloader/ResponseHeader.h"

// True unless the final response among `headers` (those after the last
// status line) carries a Content-Range header that names another window than
// bytes `first` to `last`. Caches that align ranges to their own blocks answer
// with the right length for the wrong bytes; without the header there is
// nothing to compare, and the length check alone decides.
bool contentRangeMatches(const std::vector<ResponseHeader>& headers, std::int64_t first,
                         std::int64_t last);
