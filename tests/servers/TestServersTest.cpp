// Proves the local test servers do what the other integration tests rely on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "support/FaultServer.h"
#include "support/TestServers.h"

namespace testsupport {
namespace {

constexpr std::int64_t kPart = 524288;

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(TestServers, NginxServesTheSameRangeOnEveryListener) {
    const TestServers servers;
    const auto file = TestServers::standardFile(2 * kPart + 100);
    for (const auto endpoint : {Endpoint::Http, Endpoint::Https, Endpoint::Http2}) {
        SCOPED_TRACE(servers.fileUrl(endpoint, file));
        FetchOptions options;
        options.range = std::to_string(kPart - 1) + "-" + std::to_string(kPart + 16);
        options.http2 = endpoint == Endpoint::Http2;
        const auto result = servers.fetch(servers.fileUrl(endpoint, file), options);
        ASSERT_EQ(result.code, CURLE_OK) << result.error;
        EXPECT_EQ(result.status, 206);
        EXPECT_EQ(result.body, patternBytes(kPart - 1, 18));
        auto headers = result.headers;
        std::transform(headers.begin(), headers.end(), headers.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        EXPECT_NE(headers.find("content-range: bytes 524287-524304/1048676"), std::string::npos)
            << result.headers;
        EXPECT_EQ(result.httpVersion, endpoint == Endpoint::Http2 ? long{CURL_HTTP_VERSION_2_0}
                                                                  : long{CURL_HTTP_VERSION_1_1});
    }
}

TEST(TestServers, UntrustedCertificateFailsVerificationAndClosedPortRefuses) {
    const TestServers servers;
    const auto untrusted = servers.fetch(servers.fileUrl(Endpoint::Untrusted, "1.bin"));
    EXPECT_EQ(untrusted.code, CURLE_PEER_FAILED_VERIFICATION) << untrusted.error;
    const auto closed = servers.fetch(servers.closedUrl());
    EXPECT_EQ(closed.code, CURLE_COULDNT_CONNECT) << closed.error;
}

TEST(TestServers, CreatedFileIsServedThroughRedirectsOnOneLoggedConnection) {
    const TestServers servers;
    const auto name = servers.createServedFile(FaultServer::uniqueId("created") + ".bin", 1000);
    const auto mark = servers.accessLogSize();
    FetchOptions options;
    options.followRedirects = true;
    options.range = "10-19";
    const auto result = servers.fetch(servers.url(Endpoint::Http, "/redirect/3/" + name), options);
    ASSERT_EQ(result.code, CURLE_OK) << result.error;
    EXPECT_EQ(result.status, 206);
    EXPECT_EQ(result.body, patternBytes(10, 10));

    const std::vector<AccessLogEntry> mine = servers.awaitAccessLog(mark, name, 4);
    ASSERT_EQ(mine.size(), 4u);
    const std::vector<int> statuses{302, 302, 302, 206};
    for (std::size_t i = 0; i < mine.size(); ++i) {
        EXPECT_EQ(mine[i].status, statuses[i]);
        EXPECT_EQ(mine[i].range, "bytes=10-19");
        EXPECT_EQ(mine[i].connection, mine[0].connection) << "keep-alive lost";
        EXPECT_EQ(mine[i].connectionRequests, mine[0].connectionRequests + long(i));
    }
    EXPECT_EQ(mine.back().target(), "/files/" + name);
    EXPECT_EQ(mine.back().bodyBytes, 10);
}

struct FaultCase {
    const char* name;
    FaultRule rule;
    std::string range;
    long timeoutSeconds;
    CURLcode code;
    long status;
    std::string body;
};

TEST(TestServers, FaultScenariosMisbehaveAsDescribed) {
    const TestServers servers;
    const FaultServer fault(servers);
    const std::vector<FaultCase> cases{
        {"length that lies", FaultRule().patternBody(100).contentLength(500), "", 20,
         CURLE_PARTIAL_FILE, 200, patternBytes(0, 100)},
        {"body cut short", FaultRule().patternBody(1000).cutAfter(10), "", 20, CURLE_PARTIAL_FILE,
         200, patternBytes(0, 10)},
        {"reset mid-body", FaultRule().patternBody(100000).resetAfter(1000), "", 20,
         CURLE_RECV_ERROR, 200, patternBytes(0, 1000)},
        {"redirect chain", FaultRule().redirects(2, 302, 37).ranged(2000), "100-199", 20, CURLE_OK,
         206, patternBytes(100, 100)},
        {"200 ignoring Range", FaultRule().patternBody(5000), "0-99", 20, CURLE_OK, 200,
         patternBytes(0, 5000)},
        {"ranged, but ignoring Range", FaultRule().ranged(5000).ignoreRange(), "0-99", 20, CURLE_OK,
         200, patternBytes(0, 5000)},
        {"silent until the client leaves", FaultRule().stall(-1), "", 1, CURLE_OPERATION_TIMEDOUT,
         0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto id = FaultServer::uniqueId("case");
        fault.setScenario(id, {c.rule});
        FetchOptions options;
        options.range = c.range;
        options.followRedirects = true;
        options.timeoutSeconds = c.timeoutSeconds;
        const auto result = servers.fetch(fault.url(id), options);
        EXPECT_EQ(result.code, c.code) << result.error;
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.body, c.body);
        if (std::string(c.name) == "redirect chain") {
            EXPECT_EQ(count(result.headers, "Content-Length: 37\r\n"), 2) << result.headers;
            EXPECT_EQ(fault.requests(id).size(), 3u);
        }
    }
}

TEST(TestServers, FaultServerAnswersByRequestNumberAndRecordsRequests) {
    const TestServers servers;
    const FaultServer fault(servers);
    const auto id = FaultServer::uniqueId("record");
    fault.setScenario(id, {FaultRule().onRequest(1).status(503).body("busy"),
                           FaultRule().onRangeStart(0).times(1).status(404).body("gone"),
                           FaultRule().ranged(3000)});
    FetchOptions options;
    options.headers = {"X-Probe: one"};
    EXPECT_EQ(servers.fetch(fault.url(id, "a"), options).status, 503);
    options.range = "0-99";
    EXPECT_EQ(servers.fetch(fault.url(id, "b"), options).status, 404);
    const auto ranged = servers.fetch(fault.url(id, "c", true), options);
    ASSERT_EQ(ranged.code, CURLE_OK) << ranged.error;
    EXPECT_EQ(ranged.status, 206);
    EXPECT_EQ(ranged.body, patternBytes(0, 100));

    const auto requests = fault.requests(id);
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].requestLine, "GET /s/" + id + "/a HTTP/1.1");
    EXPECT_FALSE(requests[0].hasHeader("Range"));
    EXPECT_EQ(requests[1].header("range"), "bytes=0-99");
    EXPECT_EQ(requests[2].number, 3);
    EXPECT_TRUE(requests[2].tls);
    for (const auto& request : requests) EXPECT_EQ(request.header("X-Probe"), "one");
    EXPECT_THROW(fault.setScenarioJson(id, R"({"rules":[{"bogus":1}]})"), std::runtime_error);
}

TEST(TestServers, ProxyForwardsAndTunnelsAndLogsIt) {
    const TestServers servers;
    const auto mark = servers.proxyLogSize();
    FetchOptions options;
    options.proxy = servers.proxy();
    const auto plainUrl = servers.fileUrl(Endpoint::Http, "1.bin");
    const auto plain = servers.fetch(plainUrl, options);
    ASSERT_EQ(plain.code, CURLE_OK) << plain.error;
    EXPECT_EQ(plain.body, patternBytes(0, 1));
    const auto tunnelled = servers.fetch(servers.fileUrl(Endpoint::Https, "1.bin"), options);
    ASSERT_EQ(tunnelled.code, CURLE_OK) << tunnelled.error;
    EXPECT_EQ(tunnelled.status, 200);

    const auto log = servers.proxyLog(mark);
    const auto has = [&log](const std::string& text) {
        return std::any_of(log.begin(), log.end(), [&text](const std::string& line) {
            return line.find(text) != std::string::npos;
        });
    };
    EXPECT_TRUE(has("GET " + plainUrl)) << "no forwarded request in the proxy log";
    EXPECT_TRUE(has("CONNECT 127.0.0.1:" + servers.value("NGINX_HTTPS_PORT")))
        << "no tunnel in the proxy log";
}

}  // namespace
}  // namespace testsupport
