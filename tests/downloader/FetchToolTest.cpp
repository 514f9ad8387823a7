// websetup-fetch as the benchmark runs it.
#include <gtest/gtest.h>

#include <string>

#include "DownloaderTestSupport.h"
#include "support/FaultServer.h"
#include "support/Process.h"
#include "support/Sandbox.h"
#include "support/TestServers.h"

namespace downloadertest {
namespace {

using testsupport::FaultRule;
using testsupport::FaultServer;
using testsupport::runProcess;
using testsupport::TestServers;

TEST(FetchTool, ExitStatusTellsHowTheDownloadEnded) {
    const TestServers servers;
    const FaultServer fault(servers);
    const std::string missing = FaultServer::uniqueId("fetch404");
    fault.setScenario(missing, {FaultRule().status(404).body("missing")});
    const std::string file = TestServers::standardFile(2 * P + 100);
    struct Case {
        const char* name;
        std::vector<std::string> urls;
        int exitCode;
    };
    const Case cases[] = {
        {"complete, second address unused",
         {servers.fileUrl(testsupport::Endpoint::Https, file), servers.closedUrl()},
         0},
        {"not found", {fault.url(missing)}, DE_NotFound},
        {"size request fails", {servers.closedUrl()}, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const testsupport::Sandbox sandbox;
        std::vector<std::string> command = {WEBSETUP_FETCH_PATH, sandbox.file("out.bin")};
        command.insert(command.end(), c.urls.begin(), c.urls.end());
        const auto result = runProcess(command);
        EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
        if (c.exitCode == 0) {
            EXPECT_TRUE(testsupport::readFile(sandbox.file("out.bin")) ==
                        testsupport::patternBytes(0, 2 * P + 100));
            EXPECT_TRUE(std::filesystem::exists(sandbox.file("out.bin.record")));
        }
    }
}

}  // namespace
}  // namespace downloadertest
