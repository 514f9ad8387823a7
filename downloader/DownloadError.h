#pragma once

#include <cstdint>

// Result of one transfer of the downloader. The numbers are compared by value
// and never change; 3 to 12 and 14 are unused. DE_DiskFull ends a download
// before any transfer: the destination file could not be given its size.
enum DownloadError : std::int32_t {
    DE_Success = 0,
    DE_Stopped = 1,
    DE_MultiFailed = 2,
    DE_TooManyErrors = 13,
    DE_NotFound = 15,
    DE_Gone = 16,
    DE_Unavailable = 17,
    DE_RangeIgnored = 18,
    DE_DiskFull = 19,
};
