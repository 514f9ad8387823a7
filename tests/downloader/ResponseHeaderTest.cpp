#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "downloader/ResponseHeader.h"

namespace {

// Feeds one raw line to the callback the way libcurl does: not terminated,
// with its line end, and checks that the callback never asks for an abort.
void feed(DownloaderUserPData& record, std::string raw) {
    ASSERT_EQ(headerCallback(raw.data(), 1, raw.size(), &record), raw.size()) << raw;
}

struct LineCase {
    const char* raw;  // as libcurl passes it on
    HeaderKind kind;
    const char* value;
    const char* shown = "";  // statusText of a status line
};

TEST(ResponseHeaderTest, ClassifiesLinesThroughTheCallback) {
    const LineCase cases[] = {
        {"HTTP/1.1 206 Partial Content\r\n", HK_Status, "206", "206 Partial Content"},
        {"HTTP/1.1 200\r\n", HK_Status, "200", "200"},
        {"HTTP/1.1 206 \r\n", HK_Status, "206", "206"},
        {"HTTP/2 200 \r\n", HK_Status, "200", "200"},
        {"HTTP/1.1\t\t404  Not Found\r\n", HK_Status, "404", "404 Not Found"},
        // The server's own words, but never its terminal controls.
        {"HTTP/1.1 503 \x1b[2JBack \xc3\xa0 midi\r\n", HK_Status, "503", "503 ?[2JBack ?? midi"},
        {"Content-Length: 524288\r\n", HK_ContentLength, "524288"},
        {"CONTENT-LENGTH: 10\r\n", HK_ContentLength, "10"},
        {"Content-Length:1234\r\n", HK_ContentLength, "1234"},
        {"Content-Length:\t 42 \t\r\n", HK_ContentLength, "42"},
        {"X-Message-Hash: abc\r\n", HK_MessageHash, "abc"},
        {"X-Message-Error: gone\r\n", HK_MessageError, "gone"},
        {"Last-Modified: Wed, 21 Oct 2015 07:28:00 GMT\r\n", HK_LastModified,
         "Wed, 21 Oct 2015 07:28:00 GMT"},
        {"Content-Disposition: attachment; filename=\"a:b.exe\"\r\n", HK_ContentDisposition,
         "attachment; filename=\"a:b.exe\""},
        {"Content-Type: text/html\r\n", HK_Other, "Content-Type: text/html"},
        {"X-Empty:\r\n", HK_Other, "X-Empty:"},
        {"\r\n", HK_Other, ""},
        // CR and LF go wherever they stand, not only at the end.
        {"Content-\rLength: 7\r\n", HK_ContentLength, "7"},
        {"X-Message-Hash: a\nb\r\n", HK_MessageHash, "ab"},
    };
    for (const LineCase& c : cases) {
        DownloaderUserPData record;
        feed(record, c.raw);
        ASSERT_EQ(record.headers.size(), 1u) << c.raw;
        EXPECT_EQ(record.headers[0].kind, c.kind) << c.raw;
        EXPECT_EQ(record.headers[0].value, c.value) << c.raw;
        // Only status lines replace the status record.
        const ResponseHeader& status = record.statusHeader;
        if (c.kind == HK_Status) {
            EXPECT_EQ(status.kind, HK_Status) << c.raw;
            EXPECT_EQ(status.value, c.value) << c.raw;
            EXPECT_EQ(statusText(status), c.shown) << c.raw;
        } else {
            EXPECT_EQ(status.kind, HK_Other) << c.raw;
            EXPECT_EQ(status.value, "") << c.raw;
        }
    }
    EXPECT_EQ(statusText({HK_Status, "500", std::string(500, 'x')}), "500 " + std::string(80, 'x'));
}

// A line we cannot read may be the one that would have refused the answer:
// the callback aborts the transfer instead of skipping it.
TEST(ResponseHeaderTest, MalformedLinesAbortTheRequest) {
    const char* const lines[] = {
        // A continuation with no field line before it to continue.
        " folded: continuation\r\n",
        "\tContent-Length: 5\r\n",
        "no colon at all\r\n",
        ": no name\r\n",
        "X(bad): separator in the name\r\n",
        "HTTP/1.1 2x6 Odd\r\n",
        "HTTP/1.1 2066 Long\r\n",
        "HTTP/1.1\r\n",
        "http/1.1 206 Partial Content\r\n",
        " HTTP/1.1 206 Partial Content\r\n",
        "Content-Length:\r\n",
        "Content-Length: abc\r\n",
        "Content-Length: +17\r\n",
        "Content-Length: -3\r\n",
        "Content-Length: 12abc\r\n",
        "Content-Length: 1 2\r\n",
        "Content-Length: 1234567890123456789\r\n",
    };
    for (const char* line : lines) {
        DownloaderUserPData record;
        std::string raw = line;
        EXPECT_EQ(headerCallback(raw.data(), 1, raw.size(), &record), 0u) << line;
        EXPECT_TRUE(record.malformedHeader) << line;
        EXPECT_TRUE(record.headers.empty()) << line;
    }
}

// Sloppy lines are read as the field they name: a blank before the colon is
// dropped, a folded line joins the field it continues with one blank. What
// is then ambiguous in a field that decides acceptance is refused.
TEST(ResponseHeaderTest, SloppyLinesAreReadAsTheFieldTheyName) {
    using Fields = std::vector<std::pair<HeaderKind, std::string>>;
    const struct {
        const char* name;
        std::vector<std::string> lines;  // after "HTTP/1.1 200 OK"
        bool refused;
        Fields fields;  // the list after the status line, when not refused
        std::int32_t contentSize;
    } cases[] = {
        {"blank before the colon", {"X-Foo : bar\r\n"}, false, {{HK_Other, "X-Foo : bar"}}, 0},
        {"tab before the colon of a length",
         {"Content-Length\t: 5\r\n"},
         false,
         {{HK_ContentLength, "5"}},
         5},
        {"folded onto three lines",
         {"X-Fold: one\r\n", "  two\r\n", "\tthree \r\n"},
         false,
         {{HK_Other, "X-Fold: one two three"}},
         0},
        {"folded named field",
         {"Last-Modified: Wed, 21 Oct 2015\r\n", " 07:28:00 GMT\r\n"},
         false,
         {{HK_LastModified, "Wed, 21 Oct 2015 07:28:00 GMT"}},
         0},
        {"the same length twice",
         {"Content-Length: 5\r\n", "Content-Length : 005\r\n"},
         false,
         {{HK_ContentLength, "5"}, {HK_ContentLength, "005"}},
         5},
        {"two lengths", {"Content-Length: 5\r\n", "Content-Length : 6\r\n"}, true, {}, 0},
        {"a length folded into two numbers", {"Content-Length: 5\r\n", " 6\r\n"}, true, {}, 0},
        {"a folded status line", {" Partial Content\r\n"}, true, {}, 0},
        {"folded after the end of the block", {"X-Foo: bar\r\n", "\r\n", " baz\r\n"}, true, {}, 0},
        {"blank inside the name", {"Content Length: 5\r\n"}, true, {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DownloaderUserPData record;
        feed(record, "HTTP/1.1 200 OK\r\n");
        std::size_t refusals = 0;
        for (std::string line : c.lines) {
            refusals += headerCallback(line.data(), 1, line.size(), &record) == 0 ? 1 : 0;
        }
        EXPECT_EQ(refusals, c.refused ? 1u : 0u);
        EXPECT_EQ(record.malformedHeader, c.refused);
        if (c.refused) continue;
        Fields fields;
        for (std::size_t i = 1; i < record.headers.size(); ++i) {
            fields.emplace_back(record.headers[i].kind, record.headers[i].value);
        }
        EXPECT_EQ(fields, c.fields);
        EXPECT_EQ(record.contentSize, c.contentSize);
    }
}

TEST(ResponseHeaderTest, EndlessHeaderLinesAbortTheRequest) {
    DownloaderUserPData record;
    std::string line = "X-Filler: " + std::string(1000, 'x') + "\r\n";
    std::size_t accepted = 0;
    while (headerCallback(line.data(), 1, line.size(), &record) == line.size()) {
        ASSERT_LT(++accepted * line.size(), 2 * kMaxHeaderBytes);
    }
    EXPECT_TRUE(record.malformedHeader);
    EXPECT_GT(accepted * line.size(), kMaxHeaderBytes - line.size());

    record.startRequest();
    feed(record, "HTTP/1.1 206 Partial Content\r\n");
    EXPECT_FALSE(record.malformedHeader);
}

TEST(ResponseHeaderTest, ParseHeaderLineTakesTheLineAsGiven) {
    // Called directly, nothing is stripped: a line end is no blank.
    const ResponseHeader header = parseHeaderLine("X-Message-Hash: 5\r\n");
    EXPECT_EQ(header.kind, HK_MessageHash);
    EXPECT_EQ(header.value, "5\r\n");
    EXPECT_EQ(parseHeaderLine("").kind, HK_Other);
    EXPECT_EQ(parseHeaderLine("HTTP/").kind, HK_Other);
}

TEST(ResponseHeaderTest, ContentSizeIsTheWholeNumber) {
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    const struct {
        const char* raw;
        std::int32_t size;
    } cases[] = {
        {"Content-Length: 524288\r\n", 524288},
        {"Content-Length: 0\r\n", 0},
        {"Content-Length: 2147483647\r\n", kMax},
        // Beyond 32 bits: clamped, so it matches no part, never wrapped.
        {"Content-Length: 4294967297\r\n", kMax},
        {"Content-Length: 000000000000000012\r\n", 12},
    };
    for (const auto& c : cases) {
        DownloaderUserPData record;
        feed(record, c.raw);
        EXPECT_EQ(record.contentSize, c.size) << c.raw;
    }
}

TEST(ResponseHeaderTest, RecordStartsEmpty) {
    const DownloaderUserPData record;
    EXPECT_TRUE(record.headers.empty());
    EXPECT_EQ(record.statusHeader.kind, HK_Other);
    EXPECT_EQ(record.statusHeader.value, "");
    EXPECT_EQ(record.contentSize, 0);
    EXPECT_EQ(record.partIndex, -1);
    EXPECT_EQ(record.owner, nullptr);
}

TEST(ResponseHeaderTest, RedirectWithoutFinalLengthKeepsTheRedirectsLength) {
    DownloaderUserPData record;
    const char* lines[] = {
        "HTTP/1.1 302 Found\r\n",
        "Location: /part\r\n",
        "Content-Length: 0\r\n",
        "\r\n",
        "HTTP/1.1 206 Partial Content\r\n",
        "Content-Range: bytes 0-9/100\r\n",
        "\r\n",
    };
    for (const char* line : lines) {
        feed(record, line);
    }
    EXPECT_EQ(record.statusHeader.value, "206");
    EXPECT_TRUE(isPartialContent(record.statusHeader));
    EXPECT_EQ(record.contentSize, 0);
    // Both responses stay in the list, in arrival order.
    ASSERT_EQ(record.headers.size(), 7u);
    EXPECT_EQ(record.headers[0].value, "302");
    EXPECT_EQ(record.headers[2].kind, HK_ContentLength);
    EXPECT_EQ(record.headers[4].value, "206");
    EXPECT_EQ(record.headers[6].value, "");
}

TEST(ResponseHeaderTest, LaterLinesReplaceStatusAndSize) {
    DownloaderUserPData record;
    feed(record, "HTTP/1.1 301 Moved\r\n");
    feed(record, "Content-Length: 178\r\n");
    feed(record, "HTTP/1.1 200 OK\r\n");
    feed(record, "Content-Length: 524288\r\n");
    EXPECT_EQ(record.statusHeader.value, "200");
    EXPECT_EQ(record.contentSize, 524288);
    EXPECT_FALSE(isPartialContent(record.statusHeader));
}

TEST(ResponseHeaderTest, PartialContentNeedsTheExactToken) {
    const struct {
        ResponseHeader status;
        bool partial;
    } cases[] = {
        {{HK_Status, "206"}, true},   {{HK_Status, "200"}, false}, {{HK_Status, "+206"}, false},
        {{HK_Status, "0206"}, false}, {{HK_Other, ""}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isPartialContent(c.status), c.partial) << c.status.value;
    }
}

}  // namespace
