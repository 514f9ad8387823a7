// Whole transfers against the local nginx and the fault server.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "DownloaderTestSupport.h"
#include "support/FaultServer.h"
#include "support/TestServers.h"

namespace downloadertest {
namespace {

using testsupport::Endpoint;
using testsupport::FaultRule;
using testsupport::FaultServer;
using testsupport::patternBytes;
using testsupport::TestServers;

std::vector<std::string> ranges(const std::vector<testsupport::RecordedRequest>& requests) {
    std::vector<std::string> result;
    result.reserve(requests.size());
    for (const auto& request : requests) {
        result.push_back(request.header("Range"));
    }
    return result;
}

std::string range(std::int64_t first, std::int64_t last) {
    return "bytes=" + std::to_string(first) + "-" + std::to_string(last);
}

TEST(DownloaderTransfer, WholeFilesArriveByteForByte) {
    const TestServers servers;
    for (const Endpoint endpoint : {Endpoint::Http, Endpoint::Https}) {
        for (const std::int32_t size : {1, P - 1, P, P + 1, 2 * P + 100, 190 * P + 1}) {
            SCOPED_TRACE(servers.fileUrl(endpoint, TestServers::standardFile(size)));
            DownloadFixture fixture;
            fixture.configure(size, {servers.fileUrl(endpoint, "")},
                              TestServers::standardFile(size));
            ASSERT_TRUE(fixture.run());
            EXPECT_TRUE(fixture.downloader.isFinished());
            EXPECT_EQ(fixture.downloader.lastError(), DE_Success);
            EXPECT_EQ(fixture.downloader.downloadedBytes(), size);
            EXPECT_TRUE(fixture.content() == patternBytes(0, size));
        }
    }
}

TEST(DownloaderTransfer, EachWorkerHasAConnectionOfItsOwnOverHttp2) {
    const TestServers servers;
    const std::string name = servers.createServedFile(FaultServer::uniqueId("h2") + ".bin", 24 * P);
    const auto mark = servers.accessLogSize();
    DownloadFixture fixture;
    fixture.configure(24 * P, {servers.fileUrl(Endpoint::Http2, name)});
    ASSERT_TRUE(fixture.run());
    ASSERT_TRUE(fixture.downloader.isFinished());
    EXPECT_TRUE(fixture.content() == patternBytes(0, 24 * P));

    std::set<long> connections;
    std::size_t requests = 0;
    for (const auto& entry : servers.awaitAccessLog(mark, "/files/" + name, 24)) {
        if (entry.target() == "/files/" + name) {
            ++requests;
            connections.insert(entry.connection);
            EXPECT_NE(entry.request.find("HTTP/2.0"), std::string::npos) << entry.request;
            EXPECT_EQ(entry.userAgent, "Quellmark Downloader");
        }
    }
    EXPECT_EQ(requests, 24u);
    // Multiplexed, all workers would share one connection.
    EXPECT_EQ(connections.size(), 12u);
}

// Answers that end the transfer on the first address: which DownloadError it
// gives, and whether the second address is tried.
TEST(DownloaderTransfer, ServerRefusalsEndTheAddressOrMoveOn) {
    const TestServers servers;
    const FaultServer fault(servers);
    struct Case {
        FaultRule refusal;
        DownloadError result;
        bool secondAddressTried;
    };
    const Case cases[] = {
        {FaultRule().status(404).body("missing"), DE_NotFound, false},
        {FaultRule().status(410).body("gone"), DE_Gone, false},
        {FaultRule().status(200).patternBody(2 * P), DE_RangeIgnored, false},
        {FaultRule().status(503).body("busy"), DE_Unavailable, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        const std::string first = FaultServer::uniqueId("refuse");
        const std::string second = FaultServer::uniqueId("second");
        fault.setScenario(first, {c.refusal});
        fault.setScenario(second, {FaultRule().ranged(2 * P)});
        DownloadFixture fixture;
        fixture.configure(2 * P, {fault.url(first, ""), fault.url(second, "")}, "file");
        ASSERT_TRUE(fixture.run());
        EXPECT_EQ(fixture.downloader.lastError(), c.secondAddressTried ? DE_Success : c.result);
        EXPECT_EQ(fixture.downloader.isFinished(), c.secondAddressTried);
        EXPECT_EQ(fixture.downloader.downloadInfo().isComplete(), c.secondAddressTried);
        EXPECT_EQ(fault.requests(second).empty(), !c.secondAddressTried);
    }
}

TEST(DownloaderTransfer, TheNextAddressFetchesOnlyWhatTheFirstDidNotVerify) {
    const TestServers servers;
    const FaultServer fault(servers);
    const std::string first = FaultServer::uniqueId("busy");
    const std::string second = FaultServer::uniqueId("spare");
    // Part 2 is refused late enough for parts 0, 1 and 3 to be verified.
    fault.setScenario(first, {FaultRule().onRangeStart(2 * P).stall(1.5).status(503).body("busy"),
                              FaultRule().ranged(4 * P)});
    fault.setScenario(second, {FaultRule().ranged(4 * P)});
    DownloadFixture fixture;
    fixture.configure(4 * P, {fault.url(first, ""), fault.url(second, "")}, "file");
    ASSERT_TRUE(fixture.run());
    ASSERT_TRUE(fixture.downloader.isFinished());
    EXPECT_EQ(ranges(fault.requests(second)), std::vector<std::string>{range(2 * P, 3 * P - 1)});
    EXPECT_TRUE(fixture.content() == patternBytes(0, 4 * P));
}

// Answers that are wrong for one request: the part is refused or fails, and
// the same range is asked for again.
TEST(DownloaderTransfer, WrongAnswersAreRetriedAndNeverWritten) {
    const TestServers servers;
    const FaultServer fault(servers);
    struct Case {
        const char* name;
        FaultRule wrong;
    };
    const Case cases[] = {
        {"Content-Length other than the range", FaultRule()
                                                    .status(206)
                                                    .header("Content-Range: bytes 0-523287/1048576")
                                                    .patternBody(P - 1000)},
        {"shifted Content-Range", FaultRule()
                                      .status(206)
                                      .header("Content-Range: bytes 1000-525287/1048576")
                                      .patternBody(P, 1000)},
        {"body shorter than its Content-Length", FaultRule().ranged(2 * P).cutAfter(P / 2)},
        {"stalled transfer", FaultRule().ranged(2 * P).stallAfter(1000, -1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string id = FaultServer::uniqueId("retry");
        FaultRule wrong = c.wrong;
        fault.setScenario(id, {wrong.onRangeStart(0).times(1), FaultRule().ranged(2 * P)});
        DownloadFixture fixture;
        fixture.downloader.setRequestLimits(RequestLimits{1000, 2});
        fixture.configure(2 * P, {fault.url(id)});
        ASSERT_TRUE(fixture.run());
        ASSERT_TRUE(fixture.downloader.isFinished());
        EXPECT_TRUE(fixture.content() == patternBytes(0, 2 * P));
        auto asked = ranges(fault.requests(id));
        std::sort(asked.begin(), asked.end());
        EXPECT_EQ(asked, (std::vector<std::string>{range(0, P - 1), range(0, P - 1),
                                                   range(P, 2 * P - 1)}));
    }
}

// Every part answered the way an attacker or a changed file would: no part
// is taken, so the transfer ends as failed and nothing is reported complete.
TEST(DownloaderTransfer, PartsThatAreNotExactlyTheAnnouncedFileAreRefused) {
    const TestServers servers;
    const FaultServer fault(servers);
    struct Case {
        const char* name;
        FaultRule answer;
    };
    const Case cases[] = {
        {"a larger file's window",
         FaultRule().ranged(2 * P).contentRange("Content-Range: bytes {first}-{last}/2097153")},
        {"a smaller file's window",
         FaultRule().ranged(2 * P).contentRange("Content-Range: bytes {first}-{last}/1048575")},
        {"unknown total",
         FaultRule().ranged(2 * P).contentRange("Content-Range: bytes {first}-{last}/*")},
        {"no Content-Range", FaultRule().ranged(2 * P).contentRange("")},
        {"two Content-Range lines",
         FaultRule().ranged(2 * P).contentRange(
             "Content-Range: bytes {first}-{last}/{size}\r\nContent-Range: bytes 0-0/{size}")},
        {"other bytes named by a line with a blank before the colon",
         FaultRule().ranged(2 * P).rangeShift(1000).contentRange(
             "Content-Range : bytes {first}-{last}/{size}")},
        {"a field line without a colon after the right window",
         FaultRule().ranged(2 * P).contentRange(
             "Content-Range: bytes {first}-{last}/{size}\r\nnot a field line")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string id = FaultServer::uniqueId("hostile");
        fault.setScenario(id, {c.answer});
        DownloadFixture fixture;
        fixture.configure(2 * P, {fault.url(id)});
        ASSERT_TRUE(fixture.run());
        EXPECT_EQ(fixture.downloader.lastError(), DE_TooManyErrors);
        EXPECT_FALSE(fixture.downloader.isFinished());
        EXPECT_FALSE(fixture.downloader.downloadInfo().isComplete());
    }
}

TEST(DownloaderTransfer, TheFourthFailedTransferEndsTheAddress) {
    const TestServers servers;
    const FaultServer fault(servers);
    for (const int failures : {3, 4}) {
        SCOPED_TRACE(failures);
        const std::string id = FaultServer::uniqueId("resets");
        fault.setScenario(
            id, {FaultRule().times(failures).ranged(P).resetAfter(0), FaultRule().ranged(P)});
        DownloadFixture fixture;
        fixture.configure(P, {fault.url(id)});
        ASSERT_TRUE(fixture.run());
        EXPECT_EQ(fixture.downloader.lastError(), failures == 3 ? DE_Success : DE_TooManyErrors);
        EXPECT_EQ(fixture.downloader.isFinished(), failures == 3);
        EXPECT_EQ(fault.requests(id).size(), 4u);
    }
}

TEST(DownloaderTransfer, RedirectsAreFollowedToThePartialAnswer) {
    const TestServers servers;
    const FaultServer fault(servers);
    const std::string id = FaultServer::uniqueId("moved");
    fault.setScenario(id, {FaultRule().redirects(2).ranged(P + 1)});
    DownloadFixture fixture;
    fixture.configure(P + 1, {fault.url(id)});
    ASSERT_TRUE(fixture.run());
    ASSERT_TRUE(fixture.downloader.isFinished());
    EXPECT_TRUE(fixture.content() == patternBytes(0, P + 1));
}

}  // namespace
}  // namespace downloadertest
