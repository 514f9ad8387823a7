#include <gtest/gtest.h>

#include <vector>

#include "downloader/ContentRange.h"

namespace {

ResponseHeader status(const char* code) { return {HK_Status, code}; }
ResponseHeader other(const char* line) { return {HK_Other, line}; }

TEST(ContentRange, OnlyTheFinalAnswersExactWindowOfTheAnnouncedFileCounts) {
    struct Case {
        const char* name;
        std::vector<ResponseHeader> headers;
        bool matches;
    };
    const Case cases[] = {
        {"exact", {status("206"), other("Content-Range: bytes 100-199/1000")}, true},
        {"any case, blanks around the value",
         {status("206"), other("content-RANGE:\t BYTES 100-199/1000 ")},
         true},
        {"blank before the colon",
         {status("206"), other("Content-Range : bytes 100-199/1000")},
         true},
        {"another window behind a blank before the colon",
         {status("206"), other("Content-Range\t: bytes 0-99/1000")},
         false},
        {"no header", {status("206"), {HK_ContentLength, "100"}}, false},
        {"unknown total", {status("206"), other("Content-Range: bytes 100-199/*")}, false},
        {"larger total", {status("206"), other("Content-Range: bytes 100-199/1001")}, false},
        {"shifted window", {status("206"), other("Content-Range: bytes 0-99/1000")}, false},
        {"wrong end", {status("206"), other("Content-Range: bytes 100-198/1000")}, false},
        {"blanks inside", {status("206"), other("Content-Range: bytes 100 - 199/1000")}, false},
        {"signed", {status("206"), other("Content-Range: bytes +100-199/1000")}, false},
        {"other unit", {status("206"), other("Content-Range: items 100-199/1000")}, false},
        {"garbage", {status("206"), other("Content-Range: bytes x-y/z")}, false},
        {"twice, the same",
         {status("206"), other("Content-Range: bytes 100-199/1000"),
          other("Content-Range: bytes 100-199/1000")},
         false},
        {"redirect's window ignored",
         {status("302"), other("Content-Range: bytes 0-99/1000"), status("206"),
          other("Content-Range: bytes 100-199/1000")},
         true},
        {"only the redirect names one",
         {status("302"), other("Content-Range: bytes 100-199/1000"), status("206")},
         false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(contentRangeIs(c.headers, 100, 199, 1000), c.matches) << c.name;
    }
}

}  // namespace
