// The session around the transfers: the destination file, the record and
// resuming, stopping, and a disk that fills up.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "DownloaderTestSupport.h"
#include "SmallDisk.h"
#include "support/FaultServer.h"
#include "support/TestServers.h"

namespace downloadertest {
namespace {

using testsupport::Endpoint;
using testsupport::FaultServer;
using testsupport::patternBytes;
using testsupport::TestServers;

std::int32_t int32At(const std::string& bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes.at(offset + i)))
                 << (8 * i);
    }
    return static_cast<std::int32_t>(value);
}

// The ranges asked of `target` since `mark`, once `expected` requests are
// logged.
std::vector<std::string> rangesOf(const TestServers& servers, std::uintmax_t mark,
                                  const std::string& target, std::size_t expected = 0) {
    std::vector<std::string> result;
    for (const auto& entry : servers.awaitAccessLog(mark, target, expected)) {
        if (entry.target() == target) {
            result.push_back(entry.range);
        }
    }
    std::sort(result.begin(), result.end());
    return result;
}

TEST(DownloaderSession, AStoppedDownloadResumesWithExactlyTheMissingBytes) {
    const TestServers servers;
    const std::string name =
        servers.createServedFile(FaultServer::uniqueId("resume") + ".bin", 4 * P);
    DownloadFixture fixture;
    fixture.configure(4 * P, {servers.url(Endpoint::Http, "/slow/256k/")}, name);
    Downloader& downloader = fixture.downloader;
    downloader.beginDownload();
    ASSERT_TRUE(waitFor([&] { return downloader.downloadedBytes() > P; }));
    downloader.stop();
    ASSERT_FALSE(downloader.isFinished());

    // The record on disk is the state the next download starts from.
    const DownloadInfo& info = downloader.downloadInfo();
    const std::string record = testsupport::readFile(fixture.record);
    const std::size_t sizes = 12 + name.size() + 2 * fixture.dest.size();
    ASSERT_EQ(record.size(), sizes + 12 + 4 * 4 * 2 + 4 + 4 + info.baseUrls()[0].size());
    EXPECT_EQ(int32At(record, sizes), P);
    EXPECT_EQ(int32At(record, sizes + 4), 4 * P);
    EXPECT_EQ(int32At(record, sizes + 8), 12);
    std::vector<std::string> expected;
    for (std::int32_t w = 0; w < 4; ++w) {
        const std::int32_t saved = int32At(record, sizes + 12 + 4 * std::size_t(w));
        const std::int32_t part = int32At(record, sizes + 28 + 4 * std::size_t(w));
        EXPECT_EQ(saved, info.savedLength(w));
        EXPECT_EQ(part, info.currentPart(w));
        EXPECT_GT(saved, 0) << "worker " << w << " had been receiving for a while";
        EXPECT_LT(saved, P);
        if (part < 4) {
            expected.push_back("bytes=" + std::to_string(part * P + saved) + "-" +
                               std::to_string(part * P + P - 1));
        }
    }
    std::sort(expected.begin(), expected.end());

    downloader.downloadInfo().setBaseUrls({servers.url(Endpoint::Http, "/files/")});
    const auto mark = servers.accessLogSize();
    ASSERT_TRUE(fixture.run());
    ASSERT_TRUE(downloader.isFinished());
    EXPECT_EQ(rangesOf(servers, mark, "/files/" + name, expected.size()), expected);
    EXPECT_TRUE(fixture.content() == patternBytes(0, 4 * P));
}

TEST(DownloaderSession, PreparesTheDestinationFileBeforeAnyTransfer) {
    const TestServers servers;
    const std::string name = servers.createServedFile(FaultServer::uniqueId("dest") + ".bin", 2500);
    const std::string target = "/files/" + name;
    const std::string base = servers.url(Endpoint::Http, "/files/");

    {
        SCOPED_TRACE("a file of the wrong size is made anew");
        DownloadFixture fixture;
        fixture.sandbox.writeFile("dest.bin", std::string(3000, 'x'));
        fixture.configure(2500, {base}, name);
        ASSERT_TRUE(fixture.run());
        ASSERT_TRUE(fixture.downloader.isFinished());
        EXPECT_EQ(fixture.content(), patternBytes(0, 2500));

        SCOPED_TRACE("a complete record needs no request");
        const auto mark = servers.accessLogSize();
        ASSERT_TRUE(fixture.run());
        EXPECT_TRUE(fixture.downloader.isFinished());
        EXPECT_EQ(fixture.downloader.lastError(), DE_Success);
        EXPECT_EQ(fixture.downloader.downloadedBytes(), 2500);
        EXPECT_TRUE(rangesOf(servers, mark, target).empty());
    }
    {
        SCOPED_TRACE("a missing folder ends the download before any transfer");
        DownloadFixture fixture;
        fixture.dest = fixture.sandbox.file("missing/dest.bin");
        fixture.configure(2500, {base}, name);
        const auto mark = servers.accessLogSize();
        ASSERT_TRUE(fixture.run());
        EXPECT_FALSE(fixture.downloader.isFinished());
        EXPECT_FALSE(fixture.downloader.lastError().has_value());
        EXPECT_TRUE(rangesOf(servers, mark, target).empty());
    }
}

TEST(DownloaderSession, StopEndsTheThreadPromptlyInEveryState) {
    const TestServers servers;
    const std::string name =
        servers.createServedFile(FaultServer::uniqueId("stop") + ".bin", 4 * P);
    const std::string slow = servers.url(Endpoint::Http, "/slow/64k/");

    DownloadFixture fixture;
    fixture.downloader.stop();  // before beginDownload
    EXPECT_FALSE(fixture.downloader.isRunning());

    fixture.configure(4 * P, {slow}, name);
    fixture.downloader.beginDownload();
    ASSERT_TRUE(waitFor([&] { return fixture.downloader.downloadedBytes() > 0; }));
    const auto asked = std::chrono::steady_clock::now();
    fixture.downloader.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(2));
    EXPECT_FALSE(fixture.downloader.isRunning());
    EXPECT_EQ(fixture.downloader.lastError(), DE_Stopped);
    EXPECT_FALSE(fixture.downloader.isFinished());
    fixture.downloader.stop();  // after the end

    // Destroying a running session stops it and joins its thread.
    auto running = std::make_unique<DownloadFixture>();
    running->configure(4 * P, {slow}, name);
    running->downloader.beginDownload();
    ASSERT_TRUE(waitFor([&] { return running->downloader.downloadedBytes() > 0; }));
    running.reset();
}

TEST(DownloaderSession, WithoutARecordPathNothingStarts) {
    Downloader downloader;
    downloader.beginDownload();
    EXPECT_FALSE(downloader.isRunning());
    EXPECT_FALSE(downloader.isFinished());
}

TEST(DownloaderSession, AFullDiskEndsTheDownloadAsFailed) {
    const TestServers servers;
    DownloadFixture fixture;
    const SmallDisk disk(fixture.sandbox.file("disk"), 256 * 1024);
    if (!disk.available()) {
        GTEST_SKIP() << disk.reason();
    }
    // The file has its full size already, so it is kept, but its blocks are
    // only allocated as the parts are written.
    fixture.dest = fixture.sandbox.file("disk/dest.bin");
    disk.createSparseFile(fixture.dest, 190 * P + 1);
    fixture.configure(190 * P + 1, {servers.fileUrl(Endpoint::Http, "")},
                      TestServers::standardFile(190 * P + 1));
    ASSERT_TRUE(fixture.run());
    EXPECT_TRUE(fixture.downloader.writeFailed());
    EXPECT_FALSE(fixture.downloader.isFinished());
    EXPECT_FALSE(fixture.downloader.downloadInfo().isComplete());
}

// ext4 keeps the blocks a failed posix_fallocate took, so a file larger
// than the free space would leave the disk completely full.
TEST(DownloaderSession, ARefusedReservationLeavesTheDiskAsItWas) {
    const TestServers servers;
    DownloadFixture fixture;
    const SmallDisk disk(fixture.sandbox.file("disk"), 2 * 1024 * 1024, SmallDisk::Kind::Ext4);
    if (!disk.available()) {
        GTEST_SKIP() << disk.reason();
    }
    fixture.dest = fixture.sandbox.file("disk/dest.bin");
    const std::int64_t freeBefore = disk.freeBytes();
    fixture.configure(4 * P, {servers.fileUrl(Endpoint::Http, "")},
                      TestServers::standardFile(4 * P));
    ASSERT_TRUE(fixture.run());
    EXPECT_EQ(fixture.downloader.lastError(), DE_DiskFull);
    EXPECT_FALSE(fixture.downloader.isFinished());
    EXPECT_EQ(disk.freeBytes(), freeBefore);
    EXPECT_FALSE(std::filesystem::exists(fixture.dest));
}

}  // namespace
}  // namespace downloadertest
