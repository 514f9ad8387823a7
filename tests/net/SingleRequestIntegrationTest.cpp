#include <arpa/inet.h>
#include <curl/curl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "net/SingleRequest.h"
#include "support/FaultServer.h"
#include "support/TestServers.h"
#include "support/WaitFor.h"

namespace {

using testsupport::Endpoint;
using testsupport::FaultRule;
using testsupport::FaultServer;
using testsupport::RecordedRequest;
using testsupport::TestServers;

std::vector<std::string> statusesOf(const std::vector<ResponseHeader>& headers) {
    std::vector<std::string> statuses;
    for (const ResponseHeader& header : headers) {
        if (header.kind == HK_Status) {
            statuses.push_back(header.value);
        }
    }
    return statuses;
}

std::optional<std::string> firstContentLength(const std::vector<ResponseHeader>& headers) {
    for (const ResponseHeader& header : headers) {
        if (header.kind == HK_ContentLength) {
            return header.value;
        }
    }
    return std::nullopt;
}

// What fetchHeaders must leave alone when it fails.
const std::vector<ResponseHeader> kSentinel{{HK_Other, "untouched"}};

class SingleRequestTest : public ::testing::Test {
protected:
    ProxySettings tinyproxy() const {
        ProxySettings proxy;
        proxy.mode = 2;
        proxy.host = "127.0.0.1";
        proxy.port = servers.value("PROXY_PORT");
        return proxy;
    }

    // Registers the rules under a fresh id; returns the id.
    std::string scenario(const std::vector<FaultRule>& rules) const {
        std::string id = FaultServer::uniqueId("net");
        fault.setScenario(id, rules);
        return id;
    }

    // Whether a proxy log line written since the test began holds text. The
    // texts are markers in query strings: unique, and ended by the blank
    // before the protocol in the logged request line.
    bool proxyLogMentions(const std::string& text) const {
        for (const std::string& line : servers.proxyLog(m_proxyLogStart)) {
            if (line.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    TestServers servers;
    FaultServer fault{servers};

private:
    std::uintmax_t m_proxyLogStart = servers.proxyLogSize();
};

TEST_F(SingleRequestTest, ErrorStatusFailsTheProbeButIsTheSizeRequestsAnswer) {
    const std::string missing = servers.url(Endpoint::Http, "/files/no-such-file");
    std::ostringstream body;
    std::string errorText;
    EXPECT_EQ(sendRequest(missing, {}, ProxySettings(), body, errorText, false),
              CURLE_HTTP_RETURNED_ERROR);
    EXPECT_NE(errorText.find("404"), std::string::npos) << errorText;

    std::vector<ResponseHeader> headers = kSentinel;
    errorText = "stale";
    EXPECT_EQ(fetchHeaders(missing, {}, ProxySettings(), headers, errorText), 0);
    EXPECT_EQ(errorText, "");
    EXPECT_EQ(statusesOf(headers), std::vector<std::string>{"404"});
    EXPECT_EQ(finalStatus(headers), 404);
}

TEST_F(SingleRequestTest, FetchHeadersFollowsFiveRedirectsAndKeepsEveryResponse) {
    std::vector<ResponseHeader> headers;
    std::string errorText;
    ASSERT_EQ(fetchHeaders(servers.url(Endpoint::Http, "/redirect/5/1.bin"), {}, ProxySettings(),
                           headers, errorText),
              0)
        << errorText;
    EXPECT_EQ(statusesOf(headers),
              (std::vector<std::string>{"302", "302", "302", "302", "302", "200"}));
    // Each response ends with its empty line, so the list keeps them apart.
    std::size_t blankLines = 0;
    for (const ResponseHeader& header : headers) {
        blankLines += header.kind == HK_Other && header.value.empty() ? 1 : 0;
    }
    EXPECT_EQ(blankLines, 6u);
    EXPECT_EQ(headers.front().kind, HK_Status);
    EXPECT_EQ(headers.back().value, "");
    // nginx's redirects carry their own body length: only the last one counts.
    EXPECT_NE(firstContentLength(headers), std::optional<std::string>("1"));
    EXPECT_EQ(finalContentLength(headers), std::optional<std::string>("1"));

    headers = kSentinel;
    EXPECT_EQ(fetchHeaders(servers.url(Endpoint::Http, "/redirect/6/1.bin"), {}, ProxySettings(),
                           headers, errorText),
              CURLE_TOO_MANY_REDIRECTS);
    EXPECT_NE(errorText, "");
    ASSERT_EQ(headers.size(), 1u);
    EXPECT_EQ(headers[0].value, "untouched");
}

TEST_F(SingleRequestTest, SendRequestReturnsTheRedirectItself) {
    const std::string id = scenario({FaultRule().redirects(1, 302, 40).body("final answer")});
    std::ostringstream body;
    std::string errorText;
    EXPECT_EQ(sendRequest(fault.url(id), {}, ProxySettings(), body, errorText, false), 0)
        << errorText;
    EXPECT_EQ(body.str(), testsupport::patternBytes(0, 40));
    EXPECT_EQ(fault.requests(id).size(), 1u);
}

TEST_F(SingleRequestTest, FixedHeaderLinesFollowTheCallersLines) {
    const std::string id = scenario({FaultRule().status(200).body("ok")});
    const std::vector<std::string> extra{"X-First: one", "X-Second: two"};
    std::ostringstream body;
    std::string errorText;
    ASSERT_EQ(sendRequest(fault.url(id, "send"), extra, ProxySettings(), body, errorText, false), 0)
        << errorText;
    std::vector<ResponseHeader> headers;
    ASSERT_EQ(fetchHeaders(fault.url(id, "fetch"), extra, ProxySettings(), headers, errorText), 0)
        << errorText;
    ASSERT_EQ(body.str(), "ok");

    const std::vector<RecordedRequest> requests = fault.requests(id);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[1].method, "HEAD");
    for (const RecordedRequest& request : requests) {
        std::vector<std::string> ours;
        for (const auto& [name, value] : request.headers) {
            if (name == "X-First" || name == "X-Second" || name == "User-Agent") {
                ours.push_back(name + ": " + value);
            }
            // The empty "Expect:" line removes libcurl's own Expect header.
            EXPECT_NE(name, "Expect") << request.method;
        }
        EXPECT_EQ(ours, (std::vector<std::string>{"X-First: one", "X-Second: two",
                                                  "User-Agent: Quellmark Downloader"}))
            << request.method;
    }
}

TEST_F(SingleRequestTest, ProxyIsUsedExactlyForModeTwoWithAHost) {
    const struct {
        const char* name;
        std::int32_t mode;
        bool withHost;
        bool used;
    } cases[] = {
        {"mode2-host", 2, true, true},
        {"mode2-nohost", 2, false, false},
        {"mode0-host", 0, true, false},
    };
    for (const auto& c : cases) {
        ProxySettings proxy = tinyproxy();
        proxy.mode = c.mode;
        if (!c.withHost) {
            proxy.host.clear();
        }
        const std::string marker = FaultServer::uniqueId("proxy") + "." + c.name;
        const std::string address = servers.url(Endpoint::Http, "/files/1.bin?m=" + marker);
        std::ostringstream body;
        std::string errorText;
        EXPECT_EQ(sendRequest(address, {}, proxy, body, errorText, false), 0) << c.name;
        std::vector<ResponseHeader> headers;
        EXPECT_EQ(fetchHeaders(address + "&f", {}, proxy, headers, errorText), 0) << c.name;
        EXPECT_EQ(proxyLogMentions(marker + " "), c.used) << c.name << " (sendRequest)";
        EXPECT_EQ(proxyLogMentions(marker + "&f "), c.used) << c.name << " (fetchHeaders)";
    }
}

// The only test that changes the environment. Its requests run on this thread
// with numeric hosts (no resolver threads) and gtest starts no threads, so
// nothing reads the environment while it changes.
TEST_F(SingleRequestTest, TheProxyDecisionIgnoresTheProxyVariables) {
    // A proxy where nothing listens: a request that used it would fail.
    const std::string deadProxy = "http://127.0.0.1:" + servers.value("CLOSED_PORT") + "/";
    struct Restore {
        std::vector<std::pair<std::string, std::optional<std::string>>> saved;
        ~Restore() {
            for (const auto& [name, value] : saved) {
                if (value) {
                    ::setenv(name.c_str(), value->c_str(), 1);
                } else {
                    ::unsetenv(name.c_str());
                }
            }
        }
    } restore;
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                             "no_proxy", "NO_PROXY"}) {
        const char* old = std::getenv(name);
        restore.saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        // Every host is exempt from proxies by the environment's list.
        const bool noProxyList =
            std::string(name).find("no_") == 0 || std::string(name).find("NO_") == 0;
        ::setenv(name, noProxyList ? "*" : deadProxy.c_str(), 1);
    }

    const std::string plain = servers.url(Endpoint::Http, "/files/1.bin");
    std::ostringstream body;
    std::string errorText;
    EXPECT_EQ(sendRequest(plain, {}, ProxySettings(), body, errorText, false), 0) << errorText;
    std::vector<ResponseHeader> headers;
    EXPECT_EQ(fetchHeaders(servers.url(Endpoint::Https, "/files/1.bin"), {}, ProxySettings(),
                           headers, errorText),
              0)
        << errorText;

    // A chosen proxy is used whatever the environment's no-proxy list says.
    const std::string marker = FaultServer::uniqueId("noproxy");
    EXPECT_EQ(sendRequest(plain + "?m=" + marker, {}, tinyproxy(), body, errorText, false), 0)
        << errorText;
    EXPECT_EQ(fetchHeaders(plain + "?m=" + marker + "&f", {}, tinyproxy(), headers, errorText), 0)
        << errorText;
    EXPECT_TRUE(proxyLogMentions(marker + " "));
    EXPECT_TRUE(proxyLogMentions(marker + "&f "));

    // The variables are live: a handle without a proxy option follows the
    // proxy variables, and one with a proxy follows the no-proxy list.
    const auto bareRequest = [&](CURLoption option, const std::string& value) {
        std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> bare(curl_easy_init(),
                                                                 &curl_easy_cleanup);
        EXPECT_TRUE(bare);
        EXPECT_EQ(curl_easy_setopt(bare.get(), CURLOPT_URL, plain.c_str()), CURLE_OK);
        EXPECT_EQ(curl_easy_setopt(bare.get(), CURLOPT_NOBODY, 1L), CURLE_OK);
        EXPECT_EQ(curl_easy_setopt(bare.get(), option, value.c_str()), CURLE_OK);
        return curl_easy_perform(bare.get());
    };
    EXPECT_EQ(bareRequest(CURLOPT_NOPROXY, ""), CURLE_COULDNT_CONNECT);
    EXPECT_EQ(bareRequest(CURLOPT_PROXY, deadProxy), CURLE_OK);
}

// A one-shot listener standing in for a proxy: it keeps the request head it
// receives and answers 200.
class RecordingProxy {
public:
    RecordingProxy() {
        m_socket = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_socket < 0 ||
            ::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_socket, 1) != 0 ||
            ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            throw std::runtime_error("cannot listen on loopback");
        }
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serveOne(); });
    }
    ~RecordingProxy() {
        ::shutdown(m_socket, SHUT_RDWR);
        m_thread.join();
        ::close(m_socket);
    }
    RecordingProxy(const RecordingProxy&) = delete;
    RecordingProxy& operator=(const RecordingProxy&) = delete;

    std::string port() const { return std::to_string(m_port); }
    // Valid once the request has been answered.
    const std::string& head() const { return m_head; }

private:
    void serveOne() {
        const int client = ::accept(m_socket, nullptr, nullptr);
        if (client < 0) {
            return;
        }
        char chunk[4096];
        while (m_head.find("\r\n\r\n") == std::string::npos) {
            const ssize_t got = ::recv(client, chunk, sizeof chunk, 0);
            if (got <= 0) {
                break;
            }
            m_head.append(chunk, static_cast<std::size_t>(got));
        }
        const char answer[] = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
        (void)::send(client, answer, sizeof answer - 1, MSG_NOSIGNAL);
        ::close(client);
    }

    int m_socket = -1;
    std::uint16_t m_port = 0;
    std::string m_head;
    std::thread m_thread;
};

TEST_F(SingleRequestTest, ProxyGetsNoCredentialsWhenThereAreNone) {
    RecordingProxy listener;
    ProxySettings proxy;
    proxy.mode = 2;
    proxy.host = "127.0.0.1";
    proxy.port = listener.port();
    std::ostringstream body;
    std::string errorText;
    ASSERT_EQ(sendRequest("http://installer.invalid/x", {}, proxy, body, errorText, false), 0)
        << errorText;
    EXPECT_EQ(body.str(), "ok");
    EXPECT_EQ(listener.head().rfind("GET http://installer.invalid/x HTTP/1.1\r\n", 0), 0u)
        << listener.head();
    EXPECT_EQ(listener.head().find("Proxy-Authorization"), std::string::npos) << listener.head();
}

// The fault server as a proxy that asks for Basic credentials: what reaches
// it, and what the caller learns.
TEST_F(SingleRequestTest, CredentialsAnswerTheProxysChallengeOnly) {
    const FaultRule challenge =
        FaultRule().status(407).header("Proxy-Authenticate: Basic realm=\"corp\"").body("log in");
    const struct {
        const char* name;
        bool accepts;  // the proxy takes any credentials
        const char* user;
        const char* password;
        std::int32_t result;
        int status;
        const char* scheme;
        std::vector<std::string> sent;  // Proxy-Authorization of each request
    } cases[] = {
        // The user name and password go apart: a colon in either is no
        // separator.
        {"accepted", true, "DOM\\jo", "p:w@d", 0, 200, "Basic", {"", "Basic RE9NXGpvOnA6d0Bk"}},
        {"refused",
         false,
         "jo",
         "wrong",
         CURLE_HTTP_RETURNED_ERROR,
         407,
         "Basic",
         {"", "Basic am86d3Jvbmc="}},
        // Nothing to answer Basic with: the 407 stands, and nobody is asked.
        {"no credentials", true, "", "", CURLE_HTTP_RETURNED_ERROR, 407, "", {""}},
    };
    for (const auto& c : cases) {
        const std::string id = FaultServer::uniqueId("auth");
        fault.setScenario(
            id, {c.accepts ? FaultRule().onHeader("Proxy-Authorization").body("ok") : challenge,
                 challenge});
        ProxySettings proxy;
        proxy.mode = 2;
        proxy.host = "127.0.0.1";
        proxy.port = servers.value("FAULT_HTTP_PORT");
        proxy.user = c.user;
        proxy.password = c.password;
        std::ostringstream body;
        std::string errorText;
        RequestAnswer answer;
        EXPECT_EQ(
            sendRequest(fault.url(id, "probe"), {}, proxy, body, errorText, false, {}, &answer),
            c.result)
            << c.name << ": " << errorText;
        EXPECT_EQ(answer.status, c.status) << c.name;
        EXPECT_EQ(answer.proxyAuthScheme, c.scheme) << c.name;
        std::vector<std::string> sent;
        for (const RecordedRequest& request : fault.requests(id)) {
            sent.push_back(request.header("Proxy-Authorization"));
        }
        EXPECT_EQ(sent, c.sent) << c.name;
    }

    // Offered Digest beside Basic, the credentials go as Digest.
    const std::string id = FaultServer::uniqueId("digest");
    fault.setScenario(id, {FaultRule().onHeader("Proxy-Authorization").body("ok"),
                           FaultRule()
                               .status(407)
                               .header("Proxy-Authenticate: Basic realm=\"corp\"")
                               .header("Proxy-Authenticate: Digest realm=\"corp\", nonce=\"n1\"")});
    ProxySettings proxy;
    proxy.mode = 2;
    proxy.host = "127.0.0.1";
    proxy.port = servers.value("FAULT_HTTP_PORT");
    proxy.user = "jo";
    proxy.password = "secret";
    std::ostringstream body;
    std::string errorText;
    RequestAnswer answer;
    EXPECT_EQ(sendRequest(fault.url(id, "probe"), {}, proxy, body, errorText, false, {}, &answer),
              0)
        << errorText;
    EXPECT_EQ(answer.proxyAuthScheme, "Digest");
    const std::vector<RecordedRequest> requests = fault.requests(id);
    ASSERT_EQ(requests.size(), 2u);
    const std::string digest = requests[1].header("Proxy-Authorization");
    EXPECT_EQ(digest.rfind("Digest username=\"jo\"", 0), 0u) << digest;
    EXPECT_EQ(digest.find("secret"), std::string::npos) << digest;
}

TEST_F(SingleRequestTest, ConnectionFailuresComeBackAsCurlResults) {
    ProxySettings emptyPort = tinyproxy();
    emptyPort.port.clear();
    ProxySettings refusedProxy = tinyproxy();
    refusedProxy.port = servers.value("CLOSED_PORT");
    const std::string reachable = servers.url(Endpoint::Http, "/files/1.bin");
    const struct {
        const char* name;
        std::string address;
        ProxySettings proxy;
        std::optional<std::int32_t> expected;  // empty: any failure
    } cases[] = {
        {"refused port", servers.closedUrl(), ProxySettings(), CURLE_COULDNT_CONNECT},
        {"refused proxy", reachable, refusedProxy, CURLE_COULDNT_CONNECT},
        // "host:" is handed to libcurl as is; whatever it makes of it, the
        // request fails and says why.
        {"empty proxy port", reachable, emptyPort, std::nullopt},
    };
    for (const auto& c : cases) {
        std::ostringstream body;
        std::string errorText;
        const std::int32_t sent = sendRequest(c.address, {}, c.proxy, body, errorText, false);
        std::vector<ResponseHeader> headers = kSentinel;
        std::string fetchError;
        const std::int32_t fetched = fetchHeaders(c.address, {}, c.proxy, headers, fetchError);
        if (c.expected) {
            EXPECT_EQ(sent, *c.expected) << c.name;
            EXPECT_EQ(fetched, *c.expected) << c.name;
        } else {
            EXPECT_NE(sent, 0) << c.name;
            EXPECT_NE(fetched, 0) << c.name;
        }
        EXPECT_NE(errorText, "") << c.name;
        EXPECT_NE(fetchError, "") << c.name;
        EXPECT_EQ(body.str(), "") << c.name;
        ASSERT_EQ(headers.size(), 1u) << c.name;
        EXPECT_EQ(headers[0].value, "untouched") << c.name;
    }
}

TEST_F(SingleRequestTest, SilentServerEndsWithinTheSpeedBound) {
    const std::string id = scenario({FaultRule().stall(-1).body("late")});
    RequestControl quick;
    quick.limits.lowSpeedSeconds = 1;
    std::ostringstream body;
    std::string errorText;
    EXPECT_EQ(
        sendRequest(fault.url(id, "send"), {}, ProxySettings(), body, errorText, false, quick),
        CURLE_OPERATION_TIMEDOUT);
    EXPECT_NE(errorText, "");
    std::vector<ResponseHeader> headers = kSentinel;
    EXPECT_EQ(fetchHeaders(fault.url(id, "fetch"), {}, ProxySettings(), headers, errorText, quick),
              CURLE_OPERATION_TIMEDOUT);
    EXPECT_EQ(headers.size(), 1u);
}

TEST_F(SingleRequestTest, HttpsIsVerified) {
    const struct {
        const char* name;
        std::string address;
        std::int32_t expected;
        const char* status;
    } cases[] = {
        {"test CA, HTTP/1.1", servers.url(Endpoint::Https, "/files/1.bin"), CURLE_OK, "200"},
        {"test CA, HTTP/2", servers.url(Endpoint::Http2, "/files/1.bin"), CURLE_OK, "200"},
        {"untrusted", servers.url(Endpoint::Untrusted, "/files/1.bin"),
         CURLE_PEER_FAILED_VERIFICATION, nullptr},
    };
    for (const auto& c : cases) {
        std::vector<ResponseHeader> headers = kSentinel;
        std::string errorText;
        EXPECT_EQ(fetchHeaders(c.address, {}, ProxySettings(), headers, errorText), c.expected)
            << c.name << ": " << errorText;
        std::ostringstream body;
        std::string sendError;
        EXPECT_EQ(sendRequest(c.address, {}, ProxySettings(), body, sendError, false), c.expected)
            << c.name << ": " << sendError;
        if (c.status != nullptr) {
            EXPECT_EQ(statusesOf(headers), std::vector<std::string>{c.status}) << c.name;
            EXPECT_EQ(finalContentLength(headers), std::optional<std::string>("1")) << c.name;
            EXPECT_EQ(body.str().size(), 1u) << c.name;
        } else {
            EXPECT_EQ(headers.size(), 1u) << c.name;
            EXPECT_NE(errorText, "") << c.name;
        }
    }
}

TEST_F(SingleRequestTest, SizeComesFromTheFinalResponseOfARedirectChain) {
    const std::string id = scenario({
        FaultRule().onPath("sized").redirects(2, 302, 20).patternBody(1234),
        FaultRule().onPath("unsized").redirects(2, 302, 20).patternBody(10).noContentLength(),
    });
    const struct {
        const char* path;
        std::optional<std::string> size;
    } cases[] = {{"sized", "1234"}, {"unsized", std::nullopt}};
    for (const auto& c : cases) {
        std::vector<ResponseHeader> headers;
        std::string errorText;
        ASSERT_EQ(fetchHeaders(fault.url(id, c.path), {}, ProxySettings(), headers, errorText), 0)
            << c.path << ": " << errorText;
        EXPECT_EQ(statusesOf(headers), (std::vector<std::string>{"302", "302", "200"})) << c.path;
        // The redirects' own lengths come first in the list.
        EXPECT_EQ(firstContentLength(headers), std::optional<std::string>("20")) << c.path;
        EXPECT_EQ(finalContentLength(headers), c.size) << c.path;
    }
}

// Answers that must not be taken: a header line we cannot read or two
// lengths, a proxy that refuses, and redirects to another protocol or from
// HTTPS down to HTTP.
TEST_F(SingleRequestTest, HostileAnswersFailTheRequest) {
    const std::string plainId = scenario({FaultRule().body("plain")});
    const std::string plainUrl = fault.url(plainId, "target");
    const struct {
        const char* name;
        FaultRule answer;
        bool tls;
        std::int32_t sent;     // sendRequest's result
        std::int32_t fetched;  // fetchHeaders's result
    } cases[] = {
        {"another length behind a blank before the colon",
         FaultRule().header("Content-Length : 4").body("12345"), false, CURLE_WEIRD_SERVER_REPLY,
         CURLE_WEIRD_SERVER_REPLY},
        {"length with trailing text",
         FaultRule().header("Content-Length: 5abc").noContentLength().body("12345"), false,
         CURLE_WEIRD_SERVER_REPLY, CURLE_WEIRD_SERVER_REPLY},
        {"proxy refusal", FaultRule().status(407).body("log in first"), false,
         CURLE_HTTP_RETURNED_ERROR, CURLE_OK},
        {"redirect to ftp",
         FaultRule().redirects(1).location("ftp://127.0.0.1:" + servers.value("CLOSED_PORT") +
                                           "/x"),
         false, CURLE_OK, CURLE_UNSUPPORTED_PROTOCOL},
        {"redirect from HTTPS to HTTP", FaultRule().redirects(1).location(plainUrl).body("x"), true,
         CURLE_OK, CURLE_UNSUPPORTED_PROTOCOL},
    };
    for (const auto& c : cases) {
        const std::string id = scenario({c.answer});
        std::ostringstream body;
        std::string errorText;
        EXPECT_EQ(
            sendRequest(fault.url(id, "send", c.tls), {}, ProxySettings(), body, errorText, false),
            c.sent)
            << c.name << ": " << errorText;
        std::vector<ResponseHeader> headers;
        EXPECT_EQ(
            fetchHeaders(fault.url(id, "fetch", c.tls), {}, ProxySettings(), headers, errorText),
            c.fetched)
            << c.name << ": " << errorText;
    }
    EXPECT_TRUE(fault.requests(plainId).empty());

    std::ostringstream body;
    std::string errorText;
    EXPECT_EQ(sendRequest("ftp://127.0.0.1:" + servers.value("CLOSED_PORT") + "/", {},
                          ProxySettings(), body, errorText, false),
              CURLE_UNSUPPORTED_PROTOCOL);
}

TEST_F(SingleRequestTest, RedirectFromHttpToHttpsIsFollowed) {
    const std::string target = scenario({FaultRule().body("secure")});
    const std::string id =
        scenario({FaultRule().redirects(1).location(fault.url(target, "x", true))});
    std::vector<ResponseHeader> headers;
    std::string errorText;
    EXPECT_EQ(fetchHeaders(fault.url(id), {}, ProxySettings(), headers, errorText), 0) << errorText;
    EXPECT_EQ(finalStatus(headers), 200);
}

TEST_F(SingleRequestTest, ProbeBodyIsCappedAndItsTimeBounded) {
    const std::string endless = scenario({FaultRule().endless()});
    std::ostringstream body;
    std::string errorText;
    EXPECT_EQ(sendRequest(fault.url(endless), {}, ProxySettings(), body, errorText, false), 0)
        << errorText;
    EXPECT_EQ(body.str(), testsupport::patternBytes(0, kMaxRequestBodyBytes));

    // Fast enough for any speed floor, too slow to ever end.
    const std::string dripping = scenario({FaultRule().endless().drip(2048, 0.5)});
    const auto start = std::chrono::steady_clock::now();
    std::ostringstream dripped;
    const std::int32_t result =
        sendRequest(fault.url(dripping), {}, ProxySettings(), dripped, errorText, false);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(result == CURLE_OPERATION_TIMEDOUT || result == CURLE_OK) << result;
    EXPECT_LT(took, std::chrono::seconds(kSendRequestTimeoutSeconds + 2));
}

TEST_F(SingleRequestTest, StopFlagEndsABlockingRequestWithinASecond) {
    using Clock = std::chrono::steady_clock;
    using Request = std::function<std::int32_t(const std::string&, const RequestControl&)>;
    std::ostringstream body;
    std::string errorText;
    std::vector<ResponseHeader> headers;
    const Request probe = [&](const std::string& url, const RequestControl& c) {
        return sendRequest(url, {}, ProxySettings(), body, errorText, false, c);
    };
    const Request sizeRequest = [&](const std::string& url, const RequestControl& c) {
        return fetchHeaders(url, {}, ProxySettings(), headers, errorText, c);
    };
    const struct {
        const char* name;
        FaultRule server;
        Request request;
    } cases[] = {
        {"probe, silent server", FaultRule().stall(-1), probe},
        {"probe, dripping server", FaultRule().endless().drip(1, 0.5), probe},
        {"size request, silent server", FaultRule().stall(-1), sizeRequest},
    };
    for (const auto& c : cases) {
        const std::string id = scenario({c.server});
        std::atomic<bool> stop{false};
        RequestControl control;
        control.stopFlag = &stop;
        Clock::time_point setAt;
        bool received = false;
        // The stop comes once the server holds the request, so that it meets
        // the request blocked in its wait rather than before it was sent.
        std::thread stopper([&] {
            received = testsupport::waitFor([&] { return !fault.requests(id).empty(); },
                                            std::chrono::seconds(10));
            setAt = Clock::now();
            stop = true;
        });
        const std::int32_t result = c.request(fault.url(id), control);
        const Clock::time_point ended = Clock::now();
        stopper.join();
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(ended - setAt);
        EXPECT_TRUE(received) << c.name << ": the server never saw the request";
        EXPECT_EQ(result, CURLE_ABORTED_BY_CALLBACK) << c.name;
        std::printf("%s: ended %lld ms after the stop\n", c.name,
                    static_cast<long long>(took.count()));
        EXPECT_LT(took, std::chrono::milliseconds(1300)) << c.name;
    }
}

}  // namespace
