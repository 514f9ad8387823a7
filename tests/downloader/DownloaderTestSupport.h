#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "downloader/Downloader.h"
#include "support/Sandbox.h"
#include "support/WaitFor.h"

namespace downloadertest {

constexpr std::int32_t P = DownloadInfo::kDefaultPartSize;

using testsupport::waitFor;

std::wstring wide(const std::string& ascii);

// A Downloader configured the way the setup worker does it, writing into a
// sandbox of its own.
class DownloadFixture {
public:
    DownloadFixture() = default;

    void configure(std::int32_t totalSize, const std::vector<std::string>& baseUrls,
                   const std::string& resourcePath = "");
    // Starts the download and waits for its thread to end; false on a hang.
    bool run();
    std::string content() const;

    testsupport::Sandbox sandbox;
    std::string dest = sandbox.file("dest.bin");
    std::string record = sandbox.file("record.bin");
    Downloader downloader;
};

}  // namespace downloadertest
