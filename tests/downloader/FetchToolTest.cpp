// websetup-fetch as the benchmark runs it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "DownloaderTestSupport.h"
#include "downloader/ResumeState.h"
#include "support/FaultServer.h"
#include "support/Minisign.h"
#include "support/Process.h"
#include "support/Sandbox.h"
#include "support/TestServers.h"
#include "websetup/BuildConfig.h"

namespace downloadertest {
namespace {

using testsupport::FaultRule;
using testsupport::FaultServer;
using testsupport::runProcess;
using testsupport::TestServers;

// Each way a run can end has its exit status, and each failure one line on
// stderr that names the address and the cause in the words of whoever met it.
TEST(FetchTool, ExitStatusAndCauseLineTellHowTheDownloadEnded) {
    const TestServers servers;
    const FaultServer fault(servers);
    const std::string missing = FaultServer::uniqueId("fetch404");
    fault.setScenario(missing, {FaultRule().onMethod("HEAD").ranged(2 * P + 100),
                                FaultRule().status(404).body("missing")});
    const std::string refused = FaultServer::uniqueId("fetchSize404");
    fault.setScenario(refused, {FaultRule().status(404).body("missing")});
    // The reason phrase is shown as the server sent it.
    const std::string unavailable = FaultServer::uniqueId("fetchSize503");
    fault.setScenario(unavailable,
                      {FaultRule().statusLine("HTTP/1.1 503 Back at Noon").body("later")});
    const std::string lengthless = FaultServer::uniqueId("fetchNoLength");
    fault.setScenario(lengthless, {FaultRule().status(200).noContentLength()});
    // The file grew between the size request and the parts.
    const std::string grown = FaultServer::uniqueId("fetchGrown");
    fault.setScenario(
        grown,
        {FaultRule().onMethod("HEAD").ranged(2 * P + 100),
         FaultRule().ranged(3 * P).contentRange("Content-Range: bytes {first}-{last}/{size}")});
    const std::string file = TestServers::standardFile(2 * P + 100);
    const std::string sha256 =
        testsupport::base64Digest("sha256", (servers.servedDir() / file).string());
    const std::string otherSha256 = testsupport::base64Digest(
        "sha256", (servers.servedDir() / TestServers::standardFile(P)).string());
    // The server announces a digest of other bytes than it serves.
    const std::string misannounced = FaultServer::uniqueId("fetchDigest");
    fault.setScenario(
        misannounced,
        {FaultRule().ranged(2 * P + 100).header("Repr-Digest: sha-256=:" + otherSha256 + ":")});
    // ... or two that no file can both have, the right one first.
    const std::string contradicting = FaultServer::uniqueId("fetchDigests");
    fault.setScenario(contradicting, {FaultRule()
                                          .ranged(2 * P + 100)
                                          .header("Repr-Digest: sha-256=:" + sha256 +
                                                  ":, sha-256=:" + otherSha256 + ":")});
    struct Case {
        const char* name;
        std::vector<std::string> urls;
        int exitCode;
        std::string cause;  // on stderr; empty for a success
        std::vector<std::string> options = {};
    };
    const Case cases[] = {
        {"complete, second address unused",
         {servers.fileUrl(testsupport::Endpoint::Https, file), servers.closedUrl()},
         0,
         ""},
        {"parts not found", {fault.url(missing)}, DE_NotFound, "the download failed with error 15"},
        {"parts of a larger file",
         {fault.url(grown)},
         DE_TooManyErrors,
         "the download failed with error 13"},
        {"nothing listens",
         {servers.closedUrl()},
         23,
         "websetup-fetch: could not connect to " + servers.closedUrl() + ": "},
        {"size request answered 404",
         {fault.url(refused)},
         24,
         "websetup-fetch: " + fault.url(refused) + " answered 404 Not Found\n"},
        {"size request answered 503",
         {fault.url(unavailable)},
         24,
         "websetup-fetch: " + fault.url(unavailable) + " answered 503 Back at Noon\n"},
        {"an answer without a length",
         {fault.url(lengthless)},
         20,
         "websetup-fetch: " + fault.url(lengthless) + " gives no usable size"},
        {"the given digest",
         {servers.fileUrl(testsupport::Endpoint::Https, file)},
         0,
         "",
         {"--digest", "sha-256:" + sha256}},
        {"another digest given",
         {servers.fileUrl(testsupport::Endpoint::Https, file)},
         22,
         "sha-256 digest mismatch",
         {"--digest", "sha-256:" + otherSha256}},
        {"another digest announced", {fault.url(misannounced)}, 22, "sha-256 digest mismatch"},
        {"two digests announced", {fault.url(contradicting)}, 22, "sha-256 digest mismatch"},
        {"a digest that is none",
         {servers.fileUrl(testsupport::Endpoint::Https, file)},
         64,
         "usage: websetup-fetch",
         {"--digest", "sha-256:abc"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const testsupport::Sandbox sandbox;
        std::vector<std::string> command = {WEBSETUP_FETCH_PATH};
        command.insert(command.end(), c.options.begin(), c.options.end());
        command.push_back(sandbox.file("out.bin"));
        command.insert(command.end(), c.urls.begin(), c.urls.end());
        const auto result = runProcess(command);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        if (c.exitCode == 0) {
            EXPECT_TRUE(testsupport::readFile(sandbox.file("out.bin")) ==
                        testsupport::patternBytes(0, 2 * P + 100));
            EXPECT_TRUE(std::filesystem::exists(sandbox.file("out.bin.record")));
        } else {
            EXPECT_NE(result.err.find(c.cause), std::string::npos) << result.err;
        }
    }
}

// --publisher-key checks the file as a build that pins the key does: against
// the minisign signature beside the file's final address. A missing one ends
// the run before any part is asked for; a refused file stays for inspection,
// without its resume state.
TEST(FetchTool, PublisherKeyChecksTheSignatureBesideTheFile) {
    const TestServers servers;
    const FaultServer fault(servers);
    const testsupport::MinisignKey publisher;
    const testsupport::MinisignKey stranger;
    const std::string name =
        servers.createServedFile(FaultServer::uniqueId("fetchSigned") + ".bin", 2 * P + 100);
    const std::string served = (servers.servedDir() / name).string();
    servers.writeServedFile(name + ".minisig", publisher.sign(served));
    const std::string signedUrl = servers.fileUrl(testsupport::Endpoint::Https, name);
    const std::string unsignedId = FaultServer::uniqueId("fetchUnsigned");
    fault.setScenario(unsignedId, {FaultRule().onPath("file.minisig").status(404).body("no"),
                                   FaultRule().ranged(2 * P + 100)});
    const struct {
        const char* name;
        std::string url;
        std::string key;
        int exitCode;
        std::string cause;
        bool outLeft;
    } cases[] = {
        {"signed with the key", signedUrl, publisher.publicKey(), 0, "", true},
        {"signed with another key", signedUrl, stranger.publicKey(), 25,
         "websetup-fetch: " + signedUrl + " is not signed with the key given: ", true},
        {"no signature", fault.url(unsignedId), publisher.publicKey(), 25,
         "websetup-fetch: no signature at " + fault.url(unsignedId) + ".minisig", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const testsupport::Sandbox sandbox;
        const std::string out = sandbox.file("out.bin");
        const auto result = runProcess({WEBSETUP_FETCH_PATH, "--publisher-key", c.key, out, c.url});
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        EXPECT_NE(result.err.find(c.cause), std::string::npos) << result.err;
        EXPECT_EQ(std::filesystem::exists(out), c.outLeft);
        if (c.outLeft) {
            EXPECT_TRUE(testsupport::readFile(out) == testsupport::readFile(served));
        }
        // A refused file is not resumed into the same refusal.
        if (c.exitCode != 0) {
            EXPECT_FALSE(std::filesystem::exists(out + ".record.resume"));
        }
    }
    for (const auto& request : fault.requests(unsignedId)) {
        EXPECT_FALSE(request.hasHeader("Range")) << request.requestLine;
    }
}

TEST(FetchTool, UsageErrorsExit64AndDownloadNothing) {
    const testsupport::Sandbox sandbox;
    const std::string out = sandbox.file("out.bin");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {out},
        {"--record"},
        {"--record", sandbox.file("record"), out},
        {"--unknown", "x", out, "http://127.0.0.1:9/"},
        {"--version", out, "http://127.0.0.1:9/"},
        {"--publisher-key", "RWQ-not-a-key", out, "http://127.0.0.1:9/"},
    };
    for (const auto& arguments : cases) {
        std::vector<std::string> command = {WEBSETUP_FETCH_PATH};
        command.insert(command.end(), arguments.begin(), arguments.end());
        const auto result = runProcess(command);
        EXPECT_EQ(result.exitCode, 64) << ::testing::PrintToString(arguments);
        EXPECT_NE(result.err.find("usage: websetup-fetch"), std::string::npos) << result.err;
    }
    EXPECT_FALSE(std::filesystem::exists(out));

    const auto version = runProcess({WEBSETUP_FETCH_PATH, "--version"});
    EXPECT_EQ(version.exitCode, 0) << version.err;
    EXPECT_EQ(version.out, std::string("websetup-fetch ") + buildconfig::kVersion + "\n");
}

// The copy users run keeps the system's trust store: the test servers' CA,
// which every test program trusts, must not reach it.
TEST(FetchTool, ProductBuildDoesNotTrustTheTestCa) {
    if (buildconfig::kCaBundle[0] != '\0') {
        GTEST_SKIP() << "this build names a CA bundle of its own: " << buildconfig::kCaBundle;
    }
    const TestServers servers;
    const testsupport::Sandbox sandbox;
    const std::string url =
        servers.fileUrl(testsupport::Endpoint::Https, TestServers::standardFile(2 * P + 100));
    const auto product =
        runProcess({WEBSETUP_PRODUCT_FETCH_PATH, sandbox.file("product.bin"), url});
    EXPECT_EQ(product.exitCode, 23) << product.err;
    EXPECT_NE(product.err.find("could not connect to " + url + ": SSL certificate problem"),
              std::string::npos)
        << product.err;

    const auto test = runProcess({WEBSETUP_FETCH_PATH, sandbox.file("test.bin"), url});
    EXPECT_EQ(test.exitCode, 0) << test.err;
}

TEST(FetchTool, WritesTheDiagnosticLogOnlyWhenAsked) {
    const TestServers servers;
    const testsupport::Sandbox sandbox;
    const std::string url =
        servers.fileUrl(testsupport::Endpoint::Http, TestServers::standardFile(2 * P + 100));
    const std::string log = sandbox.file("downloader.log");
    ASSERT_EQ(::setenv("WEBSETUP_DOWNLOADER_LOG", log.c_str(), 1), 0);
    const auto logged = runProcess({WEBSETUP_FETCH_PATH, sandbox.file("logged.bin"), url});
    ASSERT_EQ(::unsetenv("WEBSETUP_DOWNLOADER_LOG"), 0);
    ASSERT_EQ(logged.exitCode, 0) << logged.err;
    const std::string lines = testsupport::readFile(log);
    for (const char* line : {"beginDownload()\n", "Downloader::download()\n", "Open dest file!\n",
                             "workersCount=3\n", "partsCount=3\n", "notVerifiedPartIndex=2\n",
                             " <-- verifyAndSaveDownloadedParts. serverErrorCode=0\n",
                             "curlCleanUp(workerHandles, multiHandle)\n"}) {
        EXPECT_NE(lines.find(line), std::string::npos) << line;
    }

    const auto quiet = runProcess({WEBSETUP_FETCH_PATH, sandbox.file("quiet.bin"), url});
    ASSERT_EQ(quiet.exitCode, 0) << quiet.err;
    EXPECT_EQ(testsupport::readFile(log), lines);
}

// Runs websetup-fetch into `out` until it is killed while the last of three
// parts hangs, with the others served by `honest`. Returns the bytes the
// resume state it leaves counts as done (one or two parts, as the moment
// falls); -1, with the failure reported, when it leaves none.
std::int32_t killWhileTheLastPartHangs(const FaultServer& fault, const std::string& id,
                                       const FaultRule& honest, const std::string& out) {
    fault.setScenario(id, {FaultRule().onRangeStart(2 * P).stall(-1), honest});
    const auto killed = runProcess(
        {"/usr/bin/timeout", "-s", "KILL", "3", WEBSETUP_FETCH_PATH, out, fault.url(id)});
    EXPECT_EQ(killed.exitCode, -9) << killed.err;  // timeout(1) ends itself by the same signal
    std::string error;
    const auto state = decodeResumeState(testsupport::readFile(out + ".record.resume"), error);
    EXPECT_TRUE(state) << error;
    return state ? state->record.committedSize() : -1;
}

// Killed while its last part hangs, websetup-fetch leaves a resume state;
// run again with the same record, it fetches only the parts not in it.
TEST(FetchTool, ASecondRunWithTheSameRecordResumesWhatTheFirstCommitted) {
    const TestServers servers;
    const FaultServer fault(servers);
    testsupport::Sandbox sandbox;
    const std::string source =
        (servers.servedDir() / TestServers::standardFile(2 * P + 100)).string();
    const std::string id = FaultServer::uniqueId("fetchResume");
    const FaultRule honest = FaultRule().file(source).header("ETag: \"v1\"");
    const std::string out = sandbox.file("out");
    const std::int32_t committed = killWhileTheLastPartHangs(fault, id, honest, out);
    ASSERT_GT(committed, 0);

    fault.setScenario(id, {honest});
    const auto resumed = runProcess({WEBSETUP_FETCH_PATH, out, fault.url(id)});
    EXPECT_EQ(resumed.exitCode, 0) << resumed.err;
    EXPECT_NE(resumed.err.find("resuming with " + std::to_string(committed) + " of "),
              std::string::npos)
        << resumed.err;
    // Progress starts at the share the first run committed, not at 0%.
    const std::size_t firstProgress = resumed.err.find(" / ");
    ASSERT_NE(firstProgress, std::string::npos) << resumed.err;
    const std::string firstLine = resumed.err.substr(0, resumed.err.find('\n', firstProgress))
                                      .substr(resumed.err.rfind('\n', firstProgress) + 1);
    EXPECT_NE(firstLine.find(" " + std::to_string(committed * 100 / (2 * P + 100)) + "%"),
              std::string::npos)
        << resumed.err;
    EXPECT_EQ(testsupport::readFile(out), testsupport::readFile(source));
    std::size_t ranges = 0;
    for (const auto& request : fault.requests(id)) {
        if (!request.hasHeader("Range")) continue;
        ++ranges;
        EXPECT_EQ(request.header("If-Range"), "\"v1\"");
    }
    EXPECT_EQ(ranges, static_cast<std::size_t>(3 - committed / P));
}

// Whatever made a resumed run fail is forgotten: the server answering its
// conditioned parts with 200 (back-ends that disagree on the tag) is met by
// starting afresh at once; a file that fails its digest (the bytes changed
// under the same tag) is removed with its state, and the next run starts
// afresh. Either way a run ends with the exact file.
TEST(FetchTool, AFailedResumeIsNotRepeated) {
    const TestServers servers;
    const FaultServer fault(servers);
    testsupport::Sandbox sandbox;
    const std::string source =
        (servers.servedDir() / TestServers::standardFile(2 * P + 100)).string();
    std::string changedBytes = testsupport::readFile(source);
    // In both parts the killed run may have completed: which of them it
    // committed depends on the order they finished in.
    changedBytes[10] ^= 0x01;
    changedBytes[P + 10] ^= 0x01;
    const std::string changed = sandbox.writeFile("changed", changedBytes);
    const std::string tag = "ETag: \"v1\"";
    struct Case {
        const char* name;
        std::vector<FaultRule> rules;
        std::vector<int> exitCodes;  // of each later run
        std::string finalContent;
    };
    const Case cases[] = {
        {"If-Range answered with the whole file",
         {FaultRule().onHeader("If-Range").file(source).ignoreRange().header(tag),
          FaultRule().file(source).header(tag)},
         {0},
         testsupport::readFile(source)},
        {"other bytes under the same tag, their digest announced",
         {FaultRule().file(changed).header(tag).header(
             "Repr-Digest: sha-256=:" + testsupport::base64Digest("sha256", changed) + ":")},
         {22, 0},
         changedBytes},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string id = FaultServer::uniqueId("fetchAfresh");
        const std::string out = sandbox.file(id);
        const std::int32_t committed =
            killWhileTheLastPartHangs(fault, id, FaultRule().file(source).header(tag), out);
        ASSERT_GT(committed, 0);
        fault.setScenario(id, c.rules);
        for (const int exitCode : c.exitCodes) {
            const auto result = runProcess({WEBSETUP_FETCH_PATH, out, fault.url(id)});
            EXPECT_EQ(result.exitCode, exitCode) << result.err;
            if (result.exitCode == 22) {
                EXPECT_FALSE(std::filesystem::exists(out)) << "the refused file is kept";
                EXPECT_FALSE(std::filesystem::exists(out + ".record.resume"))
                    << "its state is kept";
            }
        }
        EXPECT_TRUE(testsupport::readFile(out) == c.finalContent);
        // The missing parts asked under the old tag, then the whole file
        // without.
        std::vector<std::string> conditions;
        for (const auto& request : fault.requests(id)) {
            if (request.hasHeader("Range")) conditions.push_back(request.header("If-Range"));
        }
        std::vector<std::string> expected(static_cast<std::size_t>(3 - committed / P), "\"v1\"");
        expected.insert(expected.end(), 3, "");
        EXPECT_EQ(conditions, expected);
    }
}

// A second websetup-fetch with the record of a running one refuses at once,
// names the record, and leaves the first one's download alone.
TEST(FetchTool, ASecondCopyOnTheSameRecordRefusesWhileTheFirstRuns) {
    const TestServers servers;
    const FaultServer fault(servers);
    const testsupport::Sandbox sandbox;
    const std::string id = FaultServer::uniqueId("fetchTwice");
    // The first copy's last part waits long enough for the second to start.
    fault.setScenario(id, {FaultRule().onRangeStart(2 * P).times(1).stall(5).ranged(2 * P + 100),
                           FaultRule().ranged(2 * P + 100)});
    const std::string out = sandbox.file("out");
    testsupport::ProcessResult first;
    std::thread firstCopy([&] { first = runProcess({WEBSETUP_FETCH_PATH, out, fault.url(id)}); });
    const auto rangesAsked = [&] {
        std::size_t ranges = 0;
        for (const auto& request : fault.requests(id)) ranges += request.hasHeader("Range") ? 1 : 0;
        return ranges;
    };
    const bool firstIsDownloading = waitFor([&] { return rangesAsked() == 3; });
    const auto second = runProcess({WEBSETUP_FETCH_PATH, out, fault.url(id)});
    firstCopy.join();
    ASSERT_TRUE(firstIsDownloading) << first.err;

    EXPECT_EQ(second.exitCode, 75) << second.err;
    EXPECT_NE(second.err.find("another websetup-fetch is using the record " + out + ".record"),
              std::string::npos)
        << second.err;
    EXPECT_EQ(first.exitCode, 0) << first.err;
    EXPECT_TRUE(testsupport::readFile(out) == testsupport::patternBytes(0, 2 * P + 100));
    EXPECT_EQ(rangesAsked(), 3u);
}

}  // namespace
}  // namespace downloadertest
