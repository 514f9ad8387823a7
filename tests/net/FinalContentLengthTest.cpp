#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "net/SingleRequest.h"

namespace {

ResponseHeader status(const char* code) { return {HK_Status, code}; }
ResponseHeader length(const char* value) { return {HK_ContentLength, value}; }
ResponseHeader other(const char* line) { return {HK_Other, line}; }

TEST(FinalContentLengthTest, TakesTheLengthOfTheFinalResponse) {
    const struct {
        const char* name;
        std::vector<ResponseHeader> headers;
        std::optional<std::string> expected;
    } cases[] = {
        {"empty list", {}, std::nullopt},
        {"single response", {status("200"), length("1048576"), other("")}, "1048576"},
        {"no length", {status("200"), other("Content-Type: x"), other("")}, std::nullopt},
        {"redirect length does not count",
         {status("302"), length("0"), other(""), status("200"), length("7340032"), other("")},
         "7340032"},
        {"final response without length",
         {status("302"), length("154"), other(""), status("200"), other("")},
         std::nullopt},
        {"two hops, length only at the end",
         {status("301"), other(""), status("302"), other(""), status("200"), length("5"),
          other("")},
         "5"},
        {"last of repeated lengths", {status("200"), length("1"), length("2"), other("")}, "2"},
        {"value kept as text", {status("200"), length(" 12abc"), other("")}, " 12abc"},
        {"empty value is a value", {status("200"), length(""), other("")}, ""},
        {"no status line at all", {length("9")}, "9"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(finalContentLength(c.headers), c.expected) << c.name;
    }
}

}  // namespace
