// A publisher's whole path: websetup-publish signs an installer and prints
// the nginx configuration that serves it, a publisher's own nginx serves it
// with exactly that configuration, and a stub pinning the publisher's keys
// starts it only when one of them signed it.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "StubRun.h"
#include "support/Minisign.h"
#include "support/Process.h"
#include "support/Sandbox.h"
#include "support/TestServers.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::readFile;
using testsupport::runProcess;

constexpr int kExitStarted = 0;
constexpr int kExitRefusedFile = 5;
constexpr std::size_t kInstallerSize = 1300000;  // three parts

const std::string kInstallerName = "wrenkit-installer.exe";

// websetup-publish with an empty standard input: no password is asked for
// the unencrypted keys made here.
testsupport::ProcessResult publishTool(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), PUBLISH_TOOL_PATH);
    return runProcess(arguments);
}

// A key pair made by websetup-publish --generate (no password).
struct PublisherKey {
    std::string secretFile;
    std::string publicLine;
};

PublisherKey generateKey(const testsupport::Sandbox& sandbox, const std::string& name) {
    const std::string secretFile = sandbox.file(name + ".key");
    const testsupport::ProcessResult made =
        runProcess({"/bin/sh", "-c", "printf '\\n\\n' | \"$0\" --generate \"$1\" \"$2\"",
                    PUBLISH_TOOL_PATH, sandbox.file(name + ".pub"), secretFile});
    if (made.exitCode != 0) throw std::runtime_error("--generate: " + made.err);
    return {secretFile, made.out.substr(0, made.out.find('\n'))};
}

TEST(PublishEndToEnd, TheStubStartsWhatAPinnedKeySignedAndServedAsPrinted) {
    const testsupport::TestServers servers;
    const testsupport::Sandbox site;
    const PublisherKey oldKey = generateKey(site, "old");
    const PublisherKey newKey = generateKey(site, "new");
    const testsupport::MinisignKey unlisted;

    fs::create_directories(site.path() / "www" / "download");
    const std::string installer = e2e::fakeInstaller(kInstallerSize);
    const std::string installerPath = site.writeFile("www/download/" + kInstallerName, installer);

    // The configuration goes into the site's server block as printed.
    const testsupport::ProcessResult published = publishTool(
        {"--key", oldKey.secretFile, "--server", "nginx", "--path", "/download", installerPath});
    ASSERT_EQ(published.exitCode, 0) << published.err;
    const std::string configuration = site.writeFile("publish.conf", published.out);
    e2e::TerminalRun nginx({"/usr/bin/python3", TEST_SERVERS_SCRIPT, "site",
                            servers.value("STATE_DIR"), "--folder", site.path().string(),
                            "--include", configuration});
    ASSERT_TRUE(nginx.waitForOutput("SITE_PORT=", 20s)) << nginx.output();
    ASSERT_TRUE(nginx.waitForOutput("\n", 5s)) << nginx.output();
    const std::size_t portAt = nginx.output().find("SITE_PORT=") + 10;
    const std::string address =
        "https://127.0.0.1:" +
        nginx.output().substr(portAt, nginx.output().find_first_of("\r\n", portAt) - portAt) +
        "/download/" + kInstallerName;

    // The header the configuration announces is the one websetup-publish
    // computed, and it is the file's.
    const std::string announced =
        "sha-256=:" + testsupport::base64Digest("sha256", installerPath) +
        ":, sha-512=:" + testsupport::base64Digest("sha512", installerPath) + ":";
    testsupport::FetchOptions headOnly;
    headOnly.method = "HEAD";
    const testsupport::FetchResult head = servers.fetch(address, headOnly);
    EXPECT_NE(head.headers.find("Repr-Digest: " + announced + "\r\n"), std::string::npos)
        << head.headers;
    EXPECT_NE(published.err.find("Repr-Digest: " + announced + "\n"), std::string::npos)
        << published.err;

    const e2e::StubMachine machine;
    const std::string stub = machine.stampedStub({"vid=1"});
    const std::string bothKeys = oldKey.publicLine + " , " + newKey.publicLine;
    const struct {
        const char* name;
        std::string pinned;
        std::string signer;  // a secret key for websetup-publish; empty: the unlisted key
        int exitCode;
    } cases[] = {
        {"the one key pinned", oldKey.publicLine, oldKey.secretFile, kExitStarted},
        {"the second of two pinned keys", bothKeys, newKey.secretFile, kExitStarted},
        {"a key not pinned", bothKeys, "", kExitRefusedFile},
    };
    const std::string signature = installerPath + ".minisig";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(machine.recordFolder());
        fs::create_directory(machine.recordFolder());
        if (c.signer.empty()) {
            site.writeFile("www/download/" + kInstallerName + ".minisig",
                           unlisted.sign(installerPath));
        } else {
            const testsupport::ProcessResult signedNow =
                publishTool({"--key", c.signer, installerPath});
            ASSERT_EQ(signedNow.exitCode, 0) << signedNow.err;
        }
        const testsupport::ProcessResult result = machine.run(
            stub,
            {{"WEBSETUP_E2E_DOWNLOAD_HOST", address + "?"},
             {"WEBSETUP_E2E_PRODUCT_KEY", "wrnkit"},
             // A page that exists: the probe counts only a success.
             {"WEBSETUP_E2E_PROBE_URL", servers.url(testsupport::Endpoint::Http, "/files/1.bin")},
             {"WEBSETUP_E2E_PUBLISHER_KEY", c.pinned}});
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        EXPECT_EQ(machine.installerRuns().size(), c.exitCode == kExitStarted ? 1u : 0u)
            << result.err;
        const std::string shortLog = readFile(machine.privateFolder() + "/websetup.log");
        EXPECT_NE(shortLog.find(c.pinned == bothKeys ? "publisher keys " : "publisher key "),
                  std::string::npos)
            << shortLog;
    }
}

}  // namespace
