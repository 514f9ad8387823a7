#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "downloader/DownloadInfo.h"
#include "support/Sandbox.h"

namespace {

constexpr std::int32_t P = DownloadInfo::kDefaultPartSize;

DownloadInfo infoOfSize(std::int32_t totalSize) {
    DownloadInfo info;
    info.setTotalSize(totalSize);
    info.setDefaultPartSize();
    info.setDefaultWorkersCount();
    return info;
}

void appendInt32(std::string& bytes, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        bytes.push_back(static_cast<char>((value >> shift) & 0xFFu));
    }
}

TEST(DownloadInfo, CutsFilesIntoPartsAndWorkers) {
    struct Case {
        std::int32_t totalSize;
        std::int32_t parts;
        std::int32_t workers;
        std::int32_t lastLength;
    };
    const Case cases[] = {
        {1, 1, 1, 1},        {P - 1, 1, 1, P - 1},      {P, 1, 1, P},
        {P + 1, 2, 2, 1},    {2 * P, 2, 2, P},          {2 * P + 100, 3, 3, 100},
        {20 * P, 20, 12, P}, {190 * P + 1, 191, 12, 1}, {0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.totalSize);
        const DownloadInfo info = infoOfSize(c.totalSize);
        EXPECT_EQ(info.partsCount(), c.parts);
        EXPECT_EQ(info.workersCount(), c.workers);
        if (c.parts > 0) {
            EXPECT_EQ(info.partLength(c.parts - 1), c.lastLength);
            EXPECT_EQ(info.partOffset(c.parts - 1), (c.parts - 1) * P);
            EXPECT_EQ(info.partLength(0), c.parts > 1 ? P : c.lastLength);
        }
        for (std::int32_t w = 0; w < c.workers; ++w) {
            EXPECT_EQ(info.currentPart(w), w);
        }
        EXPECT_EQ(info.committedSize(), 0);
        EXPECT_EQ(info.isComplete(), c.parts == 0);
    }
}

TEST(DownloadInfo, WorkersTakeTheNextUnassignedPartUntilTheFileIsDone) {
    DownloadInfo info = infoOfSize(20 * P);
    info.setSavedLength(3, 77);
    info.advanceWorker(3);
    EXPECT_EQ(info.currentPart(3), 12);
    EXPECT_EQ(info.savedLength(3), 0);

    // Parts 0-11 verified: the workers hold 12-23, of which 20-23 lie past the end.
    info.resetParts();
    for (std::int32_t w = 0; w < 12; ++w) {
        info.advanceWorker(w);
    }
    EXPECT_EQ(info.currentPart(11), 23);
    EXPECT_EQ(info.committedSize(), 12 * P);
    EXPECT_FALSE(info.isComplete());
    for (std::int32_t w = 0; w < 8; ++w) {
        info.advanceWorker(w);
    }
    EXPECT_TRUE(info.isComplete());
    EXPECT_EQ(info.committedSize(), 20 * P);
}

TEST(DownloadInfo, CopiesAreIndependent) {
    DownloadInfo original = infoOfSize(4 * P);
    DownloadInfo copy = original;
    copy.advanceWorker(0);
    copy.setSavedLength(1, 5);
    EXPECT_EQ(original.currentPart(0), 0);
    EXPECT_EQ(original.savedLength(1), 0);
    EXPECT_EQ(copy.currentPart(0), 4);
    original = copy;
    EXPECT_EQ(original.currentPart(0), 4);
}

TEST(DownloadInfo, SavesTheRecordByteForByte) {
    const testsupport::Sandbox sandbox;
    DownloadInfo info = infoOfSize(2 * P + 100);
    info.setDestFilePath(L"/tmp/a.bin");
    const std::string address = "http://127.0.0.1:8080/file.bin";
    ASSERT_EQ(address.size(), 30u);
    info.setBaseUrls({address});
    info.advanceWorker(1);  // worker 1 takes part 3, past the end
    info.setSavedLength(2, 1000);

    std::string expected;
    appendInt32(expected, 0);  // resourcePath
    appendInt32(expected, 0);  // fileTag
    appendInt32(expected, 10);
    for (const char c : std::string("/tmp/a.bin")) {
        expected.push_back(c);
        expected.push_back('\0');
    }
    for (const std::uint32_t value :
         {std::uint32_t(P), std::uint32_t(2 * P + 100), 12u, 0u, 0u, 1000u, 0u, 3u, 2u, 1u}) {
        appendInt32(expected, value);
    }
    expected += std::string("\x1e\0\0\0", 4) + address;

    const std::string path = sandbox.file("record");
    ASSERT_TRUE(info.save(std::wstring(path.begin(), path.end())));
    const std::string saved = testsupport::readFile(path);
    ASSERT_EQ(saved.size(), 106u);
    EXPECT_EQ(saved, expected);
}

TEST(DownloadInfo, SavesTextsAsTheirBytesAndThePathAsUtf16Units) {
    const testsupport::Sandbox sandbox;
    DownloadInfo info;  // sizes unset: no per-worker values
    info.setResourcePath("/r");
    info.setFileTag("tag");
    info.setDestFilePath(L"\u00e9\U0001D11E");  // one unit, then a surrogate pair

    std::string expected = std::string("\x02\0\0\0/r\x03\0\0\0tag\x03\0\0\0", 17) +
                           std::string("\xe9\x00\x34\xd8\x1e\xdd", 6);
    for (int i = 0; i < 3; ++i) {
        appendInt32(expected, 0xFFFFFFFFu);
    }
    appendInt32(expected, 0);

    const std::string path = sandbox.file("record");
    ASSERT_TRUE(info.save(std::wstring(path.begin(), path.end())));
    EXPECT_EQ(testsupport::readFile(path), expected);
}

TEST(DownloadInfo, SaveIntoAMissingFolderFails) {
    const testsupport::Sandbox sandbox;
    const std::string path = sandbox.file("missing/record");
    EXPECT_FALSE(infoOfSize(P).save(std::wstring(path.begin(), path.end())));
}

TEST(DownloadInfo, SaveReplacesAHardLinkInsteadOfWritingThroughIt) {
    const testsupport::Sandbox sandbox;
    const std::string victim = sandbox.writeFile("victim", "keep");
    const std::string path = sandbox.file("_.txt");
    std::filesystem::create_hard_link(victim, path);
    ASSERT_TRUE(infoOfSize(P).save(std::wstring(path.begin(), path.end())));
    EXPECT_EQ(testsupport::readFile(victim), "keep");
    EXPECT_NE(testsupport::readFile(path), "keep");
}

}  // namespace
