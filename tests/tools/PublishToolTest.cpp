// websetup-publish as a publisher runs it: key pairs the real minisign tool
// signs with, passwords piped in, and the exit statuses scripts rely on.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/Process.h"
#include "support/Sandbox.h"

namespace {

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::Sandbox;

constexpr const char kMinisign[] = "/usr/bin/minisign";
constexpr int kIoFailure = 1;
constexpr int kBadUsage = 64;
constexpr int kUnreadableKey = 65;

// Runs `program arguments...` with input on its standard input.
testsupport::ProcessResult runWithInput(const std::string& input,
                                        const std::vector<std::string>& command) {
    std::vector<std::string> shell{"/bin/sh", "-c", "printf '%s' \"$0\" | \"$@\"", input};
    shell.insert(shell.end(), command.begin(), command.end());
    return testsupport::runProcess(shell);
}

testsupport::ProcessResult publishTool(const std::string& input,
                                       std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), PUBLISH_TOOL_PATH);
    return runWithInput(input, arguments);
}

TEST(PublishTool, GeneratesKeyPairsMinisignSignsWithAndNeverOverwrites) {
    const Sandbox sandbox;
    const std::string publicFile = sandbox.file("publisher.pub");
    const std::string secretFile = sandbox.file("publisher.key");

    const auto differing = publishTool("one\ntwo\n", {"--generate", publicFile, secretFile});
    EXPECT_EQ(differing.exitCode, kBadUsage) << differing.err;
    EXPECT_FALSE(fs::exists(publicFile) || fs::exists(secretFile));

    const auto made = publishTool("\n\n", {"--generate", publicFile, secretFile});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    const std::string publicText = readFile(publicFile);
    EXPECT_EQ(publicText.substr(publicText.find('\n') + 1), made.out);
    EXPECT_EQ(fs::status(secretFile).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    const std::string installer = sandbox.writeFile("setup.exe", "an installer");
    const auto signedByTool = testsupport::runProcess(
        {kMinisign, "-S", "-s", secretFile, "-m", installer, "-x", sandbox.file("tool.minisig")});
    ASSERT_EQ(signedByTool.exitCode, 0) << signedByTool.err;
    const auto verified = testsupport::runProcess(
        {kMinisign, "-V", "-p", publicFile, "-m", installer, "-x", sandbox.file("tool.minisig")});
    EXPECT_EQ(verified.exitCode, 0) << verified.err;

    const std::string secretText = readFile(secretFile);
    for (const auto& [publicPath, secretPath] :
         {std::pair{publicFile, sandbox.file("other.key")},
          std::pair{sandbox.file("other.pub"), secretFile}}) {
        const auto again = publishTool("\n\n", {"--generate", publicPath, secretPath});
        EXPECT_EQ(again.exitCode, kIoFailure) << again.err;
        EXPECT_NE(again.err.find("exists; not overwritten"), std::string::npos) << again.err;
    }
    EXPECT_EQ(readFile(secretFile), secretText);
    EXPECT_EQ(readFile(publicFile), publicText);
    EXPECT_FALSE(fs::exists(sandbox.file("other.key")) || fs::exists(sandbox.file("other.pub")));
}

TEST(PublishTool, SignsWithAnEncryptedKeyOnlyGivenItsPassword) {
    const Sandbox sandbox;
    const std::string publicFile = sandbox.file("publisher.pub");
    const std::string secretFile = sandbox.file("publisher.key");
    const auto made = runWithInput("secret words\nsecret words\n",
                                   {kMinisign, "-G", "-p", publicFile, "-s", secretFile});
    ASSERT_EQ(made.exitCode, 0) << made.err;
    const std::string first = sandbox.writeFile("first.exe", std::string(100000, 'f'));
    const std::string second = sandbox.writeFile("second.exe", "second");

    const auto refused = publishTool("wrong words\n", {"--key", secretFile, first, second});
    EXPECT_EQ(refused.exitCode, kUnreadableKey);
    EXPECT_NE(refused.err.find(secretFile + ": wrong password"), std::string::npos) << refused.err;
    EXPECT_FALSE(fs::exists(first + ".minisig"));

    const auto published = publishTool("secret words\n", {"--key", secretFile, first, second});
    ASSERT_EQ(published.exitCode, 0) << published.err;
    for (const std::string& installer : {first, second}) {
        SCOPED_TRACE(installer);
        const auto verified = testsupport::runProcess(
            {kMinisign, "-V", "-p", publicFile, "-m", installer, "-x", installer + ".minisig"});
        EXPECT_EQ(verified.exitCode, 0) << verified.err;
        EXPECT_NE(
            verified.out.find("\tfile:" + fs::path(installer).filename().string() + "\thashed"),
            std::string::npos)
            << verified.out;
        EXPECT_NE(published.out.find(installer + "\n"), std::string::npos) << published.out;
    }
    // Only the signatures beside the installers: no temporary file left.
    EXPECT_EQ(std::distance(fs::directory_iterator(sandbox.path()), fs::directory_iterator()), 6);
}

TEST(PublishTool, RefusesBadUsageAndMissingFilesWithTheirStatus) {
    const Sandbox sandbox;
    const std::string key = sandbox.file("publisher.key");
    ASSERT_EQ(publishTool("\n\n", {"--generate", sandbox.file("publisher.pub"), key}).exitCode, 0);
    const std::string installer = sandbox.writeFile("setup.exe", "x");
    const struct {
        std::vector<std::string> arguments;
        int exitCode;
    } cases[] = {
        {{}, kBadUsage},
        {{"--key", key}, kBadUsage},
        {{installer}, kBadUsage},
        {{"--key", key, "--server", "iis", installer}, kBadUsage},
        {{"--key", key, "--path", "/dl", installer}, kBadUsage},
        {{"--key", key, "--server", "nginx", "--path", "/my downloads", installer}, kBadUsage},
        {{"--key", key, "--frobnicate", installer}, kBadUsage},
        {{"--generate", sandbox.file("only-one")}, kBadUsage},
        {{"--key", key, sandbox.file("missing.exe")}, kIoFailure},
        {{"--key", sandbox.file("missing.key"), installer}, kIoFailure},
        {{"--key", installer, installer}, kUnreadableKey},
    };
    for (const auto& c : cases) {
        std::string shown;
        for (const auto& argument : c.arguments) shown += argument + " ";
        SCOPED_TRACE(shown);
        const auto result = publishTool("", c.arguments);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
    }
    EXPECT_FALSE(fs::exists(installer + ".minisig"));
    const auto help = publishTool("", {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Exit status: 0 done; 1 "), std::string::npos) << help.out;
}

}  // namespace
