// A slow but honest link against servers that trickle or fall silent. Each
// case takes half a minute or more of wall-clock time (no CPU), so the cases
// run side by side and the program carries the label "slow".
#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "DownloaderTestSupport.h"
#include "support/FaultServer.h"
#include "support/TestServers.h"

namespace downloadertest {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testsupport::FaultRule;
using testsupport::FaultServer;
using testsupport::patternBytes;
using testsupport::TestServers;

// 14 parts: all twelve workers share the link, and two of them go on to a
// second part.
constexpr std::int32_t kSize = 13 * P + 100;
// 32 kbit/s for all connections together: about 340 B/s each.
constexpr double kLinkBytesPerSecond = 4096;
// The link stays that slow for more than two windows of any speed floor of
// 30 s, then speeds up so that the test ends.
constexpr auto kSlowPhase = 75s;
// When the bytes of the slow phase are counted: well inside it.
constexpr auto kSample = 60s;

TEST(DownloaderSlowLink, ASlowLinkCompletesWhileDripsAndSilenceEnd) {
    const TestServers servers;
    const FaultServer fault(servers);
    struct Case {
        const char* name;
        FaultRule rule;
        DownloadError result;
        std::chrono::seconds within;
    };
    const Case cases[] = {
        {"twelve connections sharing 4 KiB/s",
         FaultRule().ranged(kSize).sharedLink(kLinkBytesPerSecond,
                                              std::chrono::duration<double>(kSlowPhase).count()),
         DE_Success, 200s},
        {"every part dripping 2.5 B/s", FaultRule().ranged(kSize).drip(1, 0.4), DE_TooManyErrors,
         240s},
        {"silence before the answer", FaultRule().stall(-1), DE_TooManyErrors, 60s},
    };
    constexpr std::size_t kCases = std::size(cases);
    std::vector<std::string> ids;
    std::vector<DownloadFixture> fixtures(kCases);
    for (std::size_t i = 0; i < kCases; ++i) {
        ids.push_back(FaultServer::uniqueId("slow"));
        fault.setScenario(ids[i], {cases[i].rule});
        fixtures[i].configure(kSize, {fault.url(ids[i])});
    }

    const Clock::time_point start = Clock::now();
    for (DownloadFixture& fixture : fixtures) fixture.downloader.beginDownload();
    std::vector<Clock::duration> took(kCases, Clock::duration::zero());
    std::int32_t bytesAtSample = -1;
    for (std::size_t ended = 0; ended < kCases;) {
        std::this_thread::sleep_for(100ms);
        const Clock::duration now = Clock::now() - start;
        if (bytesAtSample < 0 && now >= kSample) {
            bytesAtSample = fixtures[0].downloader.downloadedBytes();
        }
        for (std::size_t i = 0; i < kCases; ++i) {
            if (took[i] == Clock::duration::zero() && !fixtures[i].downloader.isRunning()) {
                took[i] = now;
                ++ended;
            }
        }
        ASSERT_LT(now, 300s) << "a download still runs";
    }

    for (std::size_t i = 0; i < kCases; ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        const auto seconds = std::chrono::duration<double>(took[i]).count();
        std::cout << c.name << ": ended after " << seconds << " s\n";
        EXPECT_EQ(fixtures[i].downloader.lastError(), c.result);
        EXPECT_LT(took[i], c.within);
        EXPECT_EQ(fixtures[i].downloader.isFinished(), c.result == DE_Success);
    }

    // The link was as slow as it claims, and no part transfer on it was
    // given up: each of the 14 parts was asked for once.
    std::cout << "shared link: " << bytesAtSample / kSample.count() << " B/s over the first "
              << kSample.count() << " s\n";
    EXPECT_LE(bytesAtSample, kLinkBytesPerSecond * kSample.count() * 1.25);
    EXPECT_EQ(fault.requests(ids[0]).size(), 14u);
    EXPECT_TRUE(fixtures[0].content() == patternBytes(0, kSize));
}

}  // namespace
}  // namespace downloadertest
