#include "setup/FailureLog.h"

#include <cstdio>

#include "downloader/DownloaderLog.h"

void logFailure(const std::string& cause) {
    std::fprintf(stderr, "websetup: %s\n", cause.c_str());
    DownloaderLog::line("Error: " + cause);
}
