// A real program, stamped by websetup-stamp, reading the block behind its own
// end while its constant data holds the marker text as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "app/PayloadInfo.h"
#include "support/Occurrences.h"
#include "support/Process.h"
#include "support/Sandbox.h"

namespace {

std::size_t countMarkers(const std::string& content) {
    return testsupport::countOccurrences(content, kPayloadMarker);
}

class StampedExecutable : public ::testing::Test {
protected:
    std::string stamp(const std::vector<std::string>& settings) {
        std::string out = sandbox.file("payload-echo");
        std::vector<std::string> command{STAMP_TOOL_PATH, PAYLOAD_ECHO_PATH, "-o", out};
        command.insert(command.end(), settings.begin(), settings.end());
        const auto result = testsupport::runProcess(command);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        return out;
    }

    testsupport::Sandbox sandbox;
};

TEST_F(StampedExecutable, ReaderFindsTheStampedBlockNotTheConstantData) {
    ASSERT_GE(countMarkers(testsupport::readFile(PAYLOAD_ECHO_PATH)), 1u);

    const std::string stamped = stamp({"vid=42", "offerUrl=https://example.com/?a=1&b=2"});
    EXPECT_EQ(countMarkers(testsupport::readFile(stamped)),
              countMarkers(testsupport::readFile(PAYLOAD_ECHO_PATH)) + 1);

    const PayloadInfo payload = readPayloadInfo(stamped);
    EXPECT_EQ(std::vector(payload.begin(), payload.end()),
              (std::vector<std::pair<const std::string, std::string>>{
                  {"offerUrl", "https%3A%2F%2Fexample.com%2F%3Fa%3D1%26b%3D2"}, {"vid", "42"}}));
}

TEST_F(StampedExecutable, UnstampedProgramReadsNoSettings) {
    const auto result = testsupport::runProcess({PAYLOAD_ECHO_PATH});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "");
}

TEST_F(StampedExecutable, ProgramReadsItsOwnSettings) {
    const std::string stamped = stamp({"vid=42", "partnerId=p 7+1", "silentMode=1",
                                       "title=\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82",
                                       "empty=", "PidVaulto=x;y%z"});
    const auto result = testsupport::runProcess({stamped});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out,
              "PidVaulto=x;y%z\n"
              "empty=\n"
              "partnerId=p 7+1\n"
              "silentMode=1\n"
              "title=\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82\n"
              "vid=42\n");
}

}  // namespace
