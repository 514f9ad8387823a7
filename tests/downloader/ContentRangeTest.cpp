#include <gtest/gtest.h>

#include <vector>

#include "downloader/ContentRange.h"

namespace {

ResponseHeader status(const char* code) { return {HK_Status, code}; }
ResponseHeader other(const char* line) { return {HK_Other, line}; }

TEST(ContentRange, OnlyTheFinalAnswersWindowCounts) {
    struct Case {
        const char* name;
        std::vector<ResponseHeader> headers;
        bool matches;
    };
    const Case cases[] = {
        {"no header", {status("206"), {HK_ContentLength, "100"}}, true},
        {"exact", {status("206"), other("Content-Range: bytes 100-199/1000")}, true},
        {"lower case, unknown total",
         {status("206"), other("content-range: bytes 100-199/*")},
         true},
        {"shifted window", {status("206"), other("Content-Range: bytes 0-99/1000")}, false},
        {"wrong end", {status("206"), other("Content-Range: bytes 100-198/1000")}, false},
        {"other unit", {status("206"), other("Content-Range: items 100-199/1000")}, false},
        {"garbage", {status("206"), other("Content-Range: bytes x-y/z")}, false},
        {"redirect's window ignored",
         {status("302"), other("Content-Range: bytes 0-99/1000"), status("206")},
         true},
        {"final window after a redirect",
         {status("302"), status("206"), other("Content-Range: bytes 0-99/1000")},
         false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(contentRangeMatches(c.headers, 100, 199), c.matches) << c.name;
    }
}

}  // namespace
