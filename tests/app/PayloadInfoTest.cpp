#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "app/PayloadInfo.h"
#include "support/Sandbox.h"

namespace {

using namespace std::string_literals;
using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs pairsOf(const PayloadInfo& payload) { return Pairs(payload.begin(), payload.end()); }

TEST(PayloadInfo, ParsesItemsAfterTheLastMarker) {
    const struct {
        std::string window;
        Pairs expected;
    } cases[] = {
        {"PayloadInfo:a=1;b=2;", {{"a", "1"}, {"b", "2"}}},
        {"PayloadInfo:a=1;b=2", {{"a", "1"}}},
        {"PayloadInfo:;a=1;", {}},
        {"PayloadInfo:a=1;;b=2;", {{"a", "1"}}},
        {"PayloadInfo:=x;a=1;", {{"a", "1"}}},
        {"PayloadInfo:junk;a=1;", {{"a", "1"}}},
        {"PayloadInfo:a=1;a=2;", {{"a", "2"}}},
        {"PayloadInfo:a=;", {{"a", ""}}},
        {"PayloadInfo:a=b=c;", {{"a", "b=c"}}},
        {"PayloadInfo: a = 1 ;A=2;", {{" a ", " 1 "}, {"A", "2"}}},
        {"PayloadInfo:a=1;\0\0"s, {{"a", "1"}}},
        {"no marker here a=1;", {}},
        {"PayloadInfo", {}},
        {"PayloadInfo:", {}},
        // The program's own constant data holds the marker too, before the block.
        {"\x7f"
         "ELF code PayloadInfo:\0 data x=9; PayloadInfo:a=1;\0\0"s,
         {{"a", "1"}}},
        {"PayloadInfo:old=1; PayloadInfo:new=2;", {{"new", "2"}}},
        {"PayloadInfo:PayloadInfo:a=1;", {{"a", "1"}}},
        // A NUL byte ends the block: text holds none.
        {"ELF PayloadInfo:\0 constant x=9; data"s, {}},
        {"PayloadInfo:a=1;b\0=2;"s, {{"a", "1"}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(pairsOf(parsePayloadInfo(c.window)), c.expected) << c.window;
}

TEST(PayloadInfo, OrdersKeysByUnsignedBytes) {
    const PayloadInfo payload = parsePayloadInfo("PayloadInfo:\xc3\xa9=4;vid=3;ap=2;PidVaulto=1;");
    std::vector<std::string> keys;
    for (const auto& pair : payload) keys.push_back(pair.first);
    EXPECT_EQ(keys, (std::vector<std::string>{"PidVaulto", "ap", "vid", "\xc3\xa9"}));
}

TEST(PayloadInfo, UnreadableFileGivesEmptyMap) {
    const testsupport::Sandbox sandbox;
    EXPECT_TRUE(readPayloadInfo(sandbox.file("missing")).empty());
    EXPECT_TRUE(readPayloadInfo(sandbox.path().string()).empty());
    EXPECT_TRUE(readPayloadInfo("").empty());
}

TEST(PayloadInfo, SmallFileIsReadWhole) {
    const testsupport::Sandbox sandbox;
    const std::string content = "PayloadInfo:a=1;";
    const std::string path = sandbox.writeFile("small", content);
    EXPECT_EQ(readPayloadWindow(path), content);
    EXPECT_EQ(pairsOf(readPayloadInfo(path)), (Pairs{{"a", "1"}}));
}

// Files larger than the window, mostly holes: only their last 100 MiB count.
TEST(PayloadInfo, OnlyTheLast100MiBOfALargeFileAreSearched) {
    constexpr std::int64_t kSize = 150LL * 1024 * 1024;
    constexpr auto kWindowStart = kSize - static_cast<std::int64_t>(kPayloadWindowLimit);
    const struct {
        const char* name;
        std::int64_t blockOffset;
        bool found;
    } cases[] = {
        {"inside the window", kSize - 50LL * 1024 * 1024, true},
        {"at the window's first byte", kWindowStart, true},
        {"marker cut by the window's start", kWindowStart - 6, false},
        {"before the window", 10, false},
    };
    const testsupport::Sandbox sandbox;
    for (const auto& c : cases) {
        const std::string path = sandbox.file("large");
        {
            std::ofstream file(path, std::ios::binary | std::ios::trunc);
            file.seekp(c.blockOffset);
            file << "PayloadInfo:vid=7;";
            file.seekp(kSize - 1);
            file.put('\0');
            ASSERT_TRUE(file.flush()) << c.name;
        }
        const Pairs expected = c.found ? Pairs{{"vid", "7"}} : Pairs{};
        EXPECT_EQ(pairsOf(readPayloadInfo(path)), expected) << c.name;
    }
}

}  // namespace
