// websetup-stamp as a user runs it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "app/PayloadInfo.h"
#include "app/ProductCatalog.h"
#include "app/SettingValue.h"
#include "app/StampedBlock.h"
#include "support/Minisign.h"
#include "support/Process.h"
#include "support/Sandbox.h"
#include "text/TextConversion.h"
#include "tools/RoundTripValues.h"
#include "tools/ShownSettings.h"
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

// A key the stub does not know is passed on to the installer, but is more
// often a typing error: --strict refuses it, otherwise it is stamped with a
// warning.
TEST_F(StampTool, StrictRefusesKeysTheStubDoesNotKnow) {
    const struct {
        std::string setting;
        std::string expectedError;
    } cases[] = {
        {"partnerID=42",
         "refused key \"partnerID\": not a key the stub knows (did you mean "
         "\"partnerId\"?); nothing written\n"},
        {"SILENTMODE=true", "(did you mean \"silentMode\"?)"},
        {"fusionChannel=7",
         "refused key \"fusionChannel\": not a key the stub knows; nothing "
         "written\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting);
        const auto refused = stamp({"--strict", stub, "-o", out, "vid=1", c.setting});
        EXPECT_EQ(refused.exitCode, 64);
        EXPECT_NE(refused.err.find(c.expectedError), std::string::npos) << refused.err;
        EXPECT_FALSE(fs::exists(out));

        const auto warned = stamp({stub, "-o", out, "vid=1", c.setting});
        EXPECT_EQ(warned.exitCode, 0) << warned.err;
        const std::string key = c.setting.substr(0, c.setting.find('='));
        EXPECT_NE(warned.err.find("warning: key \"" + key + "\""), std::string::npos) << warned.err;
        EXPECT_NE(warned.err.find("passed through to the installer as /" + key + "=\"...\"\n"),
                  std::string::npos)
            << warned.err;
        EXPECT_EQ(readPayloadInfo(out).count(key), 1u);
        fs::remove(out);
    }
    // Every key the stub knows passes, in either position of the option.
    const auto known = stamp({stub, "-o", out, "--strict", "partnerId=1", "vid=2", "contentType=3",
                              "contentAddress=4", "offerUrl=5", "silentMode=true", "PidVaulto=6"});
    EXPECT_EQ(known.exitCode, 0) << known.err;
    EXPECT_EQ(known.err, "");
    EXPECT_EQ(readPayloadInfo(out).size(), 7u);
}

// After the settings, --show prints what the stub of this build passes to
// the installer: the e2e tests check it against what an installer received.
TEST_F(StampTool, ShowEndsWithTheInstallerParametersTheStubBuilds) {
    const std::string product =
        std::string(buildconfig::kProductKey) + " (" +
        wideToUtf8(productDisplayName(productIdFromKey(buildconfig::kProductKey))) + "):\n";
    const struct {
        std::vector<std::string> settings;
        std::string expected;
    } cases[] = {
        {{"vid=7", "contentAddress=a b", "silentMode=true", "ap=x"},
         "parameter text: /vid=7 /contentAddress=\"a b\" /S /ap=\"x\"\n"
         "arguments (4):\n  /vid=7\n  /contentAddress=a b\n  /S\n  /ap=x\n"
         "passed through as /key=\"value\", not keys the stub knows: ap\n"},
        // A control character would break the line: the text is escaped.
        {{"offerUrl=a\tb"},
         "parameter text: \" /offerUrl=\\\"a\\tb\\\"\"\n"
         "arguments (1):\n  \"/offerUrl=a\\tb\"\n"},
        {{}, "parameter text: (none)\narguments (0):\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments{stub, "-o", out};
        arguments.insert(arguments.end(), c.settings.begin(), c.settings.end());
        ASSERT_EQ(stamp(arguments).exitCode, 0);
        const std::string shown = stamp({"--show", out}).out;
        EXPECT_EQ(shown.substr(shownSettings(shown).size()),
                  "\ninstaller parameters built by the stub of product " + product + c.expected);
    }
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
    EXPECT_EQ(shownSettings(shown.out),
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
    EXPECT_EQ(shownSettings(stamp({"--show", other}).out),
              "a is dropped by the stub: its value decodes to a NUL character\n"
              "b=1\n");

    const auto plain = stamp({"--show", stub});
    EXPECT_EQ(plain.exitCode, 0);
    EXPECT_EQ(shownSettings(plain.out), stub + " carries no settings block\n");

    ASSERT_EQ(stamp({stub, "-o", out}).exitCode, 0);
    EXPECT_EQ(shownSettings(stamp({"--show", out}).out),
              out + " carries an empty settings block\n");

    const auto help = stamp({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("usage: websetup-stamp [--strict] STUB -o OUT"), std::string::npos);
}

// Signed with a password-protected key of the minisign tool, piped as a
// script would; minisign itself must accept the signature.
TEST_F(StampTool, SignKeySignsTheBlockAsMinisignDoesAndRestampingReplacesIt) {
    const testsupport::MinisignKey key("stamp password");
    const testsupport::MinisignKey otherKey;
    const auto signedStamp = [&](const std::vector<std::string>& arguments,
                                 const std::string& password) {
        const std::string script =
            std::string("printf '%s\\n' \"$0\" | ") + STAMP_TOOL_PATH + " \"$@\"";
        std::vector<std::string> command{"/bin/sh", "-c",         script,
                                         password,  "--sign-key", key.secretKeyFile()};
        command.insert(command.end(), arguments.begin(), arguments.end());
        return testsupport::runProcess(command);
    };

    const auto result =
        signedStamp({stub, "-o", out, "vid=7", "offerUrl=https://x/?a=1;b"}, key.password());
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const StampedBlock block = parseStampedBlock(testsupport::readFile(out));
    ASSERT_TRUE(block.signature) << block.signatureItemProblem;
    const auto verified =
        testsupport::runProcess({"/usr/bin/minisign", "-V", "-P", key.publicKey(), "-m",
                                 sandbox.writeFile("signed-bytes", block.signedBytes), "-x",
                                 sandbox.writeFile("signed-bytes.minisig", *block.signature)});
    EXPECT_EQ(verified.exitCode, 0) << verified.err << verified.out;
    EXPECT_NE(verified.out.find("file:out"), std::string::npos) << verified.out;

    const std::string settings = "offerUrl=https://x/?a=1;b\nvid=7\n";
    const std::string signer = "signed by key " + key.keyId();
    const auto shown = stamp({"--show", out});
    EXPECT_EQ(shown.out.substr(0, settings.size() + signer.size()), settings + signer);
    EXPECT_NE(shown.out.find("; give --stamp-key to check the signature\n"), std::string::npos);
    EXPECT_NE(stamp({"--show", out, "--stamp-key", key.publicKey()})
                  .out.find("; the signature holds for the stamp key\n"),
              std::string::npos);
    EXPECT_NE(stamp({"--show", out, "--stamp-key", otherKey.publicKey()})
                  .out.find("does not believe it (signed with key"),
              std::string::npos);

    // Signed again in place, then unsigned: each restamp replaces the block.
    ASSERT_EQ(signedStamp({out, "-o", out, "partnerId=6"}, key.password()).exitCode, 0);
    EXPECT_EQ(parseStampedBlock(testsupport::readFile(out)).settings,
              (PayloadInfo{{"partnerId", "6"}}));
    EXPECT_NE(
        stamp({"--show", out, "--stamp-key", key.publicKey()}).out.find("partnerId=6\n" + signer),
        std::string::npos);
    ASSERT_EQ(stamp({out, "-o", out, "partnerId=5"}).exitCode, 0);
    EXPECT_EQ(testsupport::readFile(out), kStub + "PayloadInfo:partnerId=5;\0\0"s);
    EXPECT_EQ(stamp({"--show", out, "--stamp-key", key.publicKey()}).out,
              "partnerId=5\nnot signed; a stub built with this stamp key does not believe it "
              "(the settings block is not signed) and runs as an unstamped copy\n\n"
              "installer parameters built by the stub of product wrnkit (WrenKit):\n"
              "parameter text: (none)\narguments (0):\n");

    // A wrong password writes nothing.
    const std::string untouched = sandbox.file("untouched");
    const auto wrong = signedStamp({stub, "-o", untouched, "vid=7"}, "not the password");
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_NE(wrong.err.find(key.secretKeyFile()), std::string::npos) << wrong.err;
    EXPECT_FALSE(fs::exists(untouched));
    EXPECT_EQ(stamp({stub, "-o", untouched, "~signature=x"}).exitCode, 64);
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
