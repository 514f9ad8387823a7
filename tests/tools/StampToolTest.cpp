// websetup-stamp as a user runs it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "app/PayloadInfo.h"
#include "app/SettingValue.h"
#include "support/Process.h"
#include "support/Sandbox.h"
#include "text/TextConversion.h"
#include "tools/RoundTripValues.h"
#include "websetup/BuildConfig.h"

namespace {

using namespace std::string_literals;
namespace fs = std::filesystem;

// A stand-in stub: binary data whose constant data holds the marker text.
const std::string kStub =
    "\x7f"
    "ELF\1\2 code PayloadInfo:\0 constant a=1; data\0\xff"s;

class StampTool : public ::testing::Test {
protected:
    testsupport::ProcessResult stamp(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), STAMP_TOOL_PATH);
        return testsupport::runProcess(arguments);
    }

    testsupport::Sandbox sandbox;
    const std::string stub = sandbox.writeFile("stub", kStub);
    const std::string out = sandbox.file("out");
};

TEST_F(StampTool, StubReadsBackEveryValue) {
    std::vector<std::string> arguments{stub, "-o", out};
    for (std::size_t i = 0; i < kRoundTripValues.size(); ++i) {
        arguments.push_back("k" + std::to_string(i) + "=" + kRoundTripValues[i]);
    }
    const auto result = stamp(arguments);
    ASSERT_EQ(result.exitCode, 0) << result.err;

    const std::string written = testsupport::readFile(out);
    EXPECT_EQ(written.substr(0, kStub.size()), kStub);
    PayloadInfo payload = readPayloadInfo(out);
    EXPECT_EQ(payload.size(), kRoundTripValues.size());
    for (std::size_t i = 0; i < kRoundTripValues.size(); ++i) {
        EXPECT_EQ(wideToUtf8(takeSetting(payload, "k" + std::to_string(i))), kRoundTripValues[i]);
    }
}

TEST_F(StampTool, RefusesBadKeysAndValuesAndWritesNothing) {
    for (const std::string& setting :
         {"=value"s, "a b=1"s, "a\tb=1"s, "a;b=1"s, "xPayloadInfo:y=1"s, "bad=\xff"s, "novalue"s}) {
        const auto result = stamp({stub, "-o", out, "vid=1", setting});
        EXPECT_EQ(result.exitCode, 64) << setting;
        EXPECT_NE(result.err.find(setting.substr(0, setting.find('='))), std::string::npos)
            << result.err;
        EXPECT_FALSE(fs::exists(out)) << setting;
    }
    for (const std::vector<std::string>& usage :
         {std::vector<std::string>{}, {stub}, {stub, "-o"}, {"-o", out}, {"--show"}}) {
        EXPECT_EQ(stamp(usage).exitCode, 64);
    }
    // No temporary file left behind either: the stub is all there is.
    EXPECT_EQ(std::distance(fs::directory_iterator(sandbox.path()), fs::directory_iterator()), 1);
}

TEST_F(StampTool, VersionNamesTheToolAndTheProjectVersion) {
    const auto result = stamp({"--version"});
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "websetup-stamp "s + buildconfig::kVersion + "\n");
}

TEST_F(StampTool, RestampingReplacesTheBlock) {
    ASSERT_EQ(stamp({stub, "-o", out, "a=1", "b=2"}).exitCode, 0);
    const std::string again = sandbox.file("again");
    ASSERT_EQ(stamp({out, "-o", again, "c=3"}).exitCode, 0);
    EXPECT_EQ(testsupport::readFile(again), kStub + "PayloadInfo:c=3;\0\0"s);

    // In place, over the file it reads.
    ASSERT_EQ(stamp({again, "-o", again, "d=%"}).exitCode, 0);
    EXPECT_EQ(testsupport::readFile(again), kStub + "PayloadInfo:d=%25;\0\0"s);
}

TEST_F(StampTool, CopyKeepsThePermissionBits) {
    for (const fs::perms mode : {fs::perms(0751), fs::perms(0600), fs::perms(0755)}) {
        fs::permissions(stub, mode);
        ASSERT_EQ(stamp({stub, "-o", out, "a=1"}).exitCode, 0);
        EXPECT_EQ(fs::status(out).permissions(), mode);
    }
}

TEST_F(StampTool, ShowPrintsTheDecodedSettingsInKeyOrder) {
    ASSERT_EQ(stamp({stub, "-o", out, "vid=7", "offerUrl=https://x/?a=1&b=c+d", "PidVaulto=P 1",
                     "title=\xd0\x9c\xd0\xb8\xd1\x80", "empty=", "contentAddress=x\" /S \"y",
                     "ap=C:\\evil\\", "line=a\tb\r\n\x1b", "padded= a "})
                  .exitCode,
              0);
    const auto shown = stamp({"--show", out});
    EXPECT_EQ(shown.exitCode, 0) << shown.err;
    EXPECT_EQ(shown.out,
              "PidVaulto=P 1\n"
              "ap=\"C:\\\\evil\\\\\"\n"
              "contentAddress=\"x\\\" /S \\\"y\"\n"
              "empty=\n"
              "line=\"a\\tb\\r\\n\\x1b\"\n"
              "offerUrl=https://x/?a=1&b=c+d\n"
              "padded=\" a \"\n"
              "title=\xd0\x9c\xd0\xb8\xd1\x80\n"
              "vid=7\n");

    // A block stamped by other means: what the stub drops is shown as
    // dropped, not as a value it gets.
    const std::string other = sandbox.writeFile("other", kStub + "PayloadInfo:a=x%00y;b=1;\0\0"s);
    EXPECT_EQ(stamp({"--show", other}).out,
              "a is dropped by the stub: its value decodes to a NUL character\n"
              "b=1\n");

    const auto plain = stamp({"--show", stub});
    EXPECT_EQ(plain.exitCode, 0);
    EXPECT_EQ(plain.out, stub + " carries no settings block\n");

    ASSERT_EQ(stamp({stub, "-o", out}).exitCode, 0);
    EXPECT_EQ(stamp({"--show", out}).out, out + " carries an empty settings block\n");

    const auto help = stamp({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("usage: websetup-stamp STUB -o OUT"), std::string::npos);
}

TEST_F(StampTool, IoFailuresNameThePathAndTheReason) {
    const std::string missingFolder = sandbox.file("missing");
    const struct {
        std::vector<std::string> arguments;
        std::string path;
    } cases[] = {
        {{stub, "-o", missingFolder + "/out", "a=1"}, missingFolder},
        {{missingFolder + "/stub", "-o", out, "a=1"}, missingFolder + "/stub"},
        {{"--show", missingFolder + "/stub"}, missingFolder + "/stub"},
    };
    for (const auto& c : cases) {
        const auto result = stamp(c.arguments);
        EXPECT_EQ(result.exitCode, 1) << c.path;
        EXPECT_NE(result.err.find("'" + c.path + "': No such file or directory"), std::string::npos)
            << result.err;
    }
    EXPECT_FALSE(fs::exists(out));
}

}  // namespace
