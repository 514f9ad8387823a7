#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace testsupport {

// The nginx listeners of the local test servers.
enum class Endpoint {
    Http,       // plain HTTP/1.1
    Https,      // TLS, HTTP/1.1 only
    Http2,      // TLS, HTTP/2 offered by ALPN
    Untrusted,  // TLS with a self-signed certificate no test trusts
};

// One line of nginx's access log.
struct AccessLogEntry {
    long connection = 0;          // nginx's connection serial number
    long connectionRequests = 0;  // 1 for the first request of a connection
    int port = 0;                 // the listener that took the request
    std::string request;          // request line, e.g. "GET /files/1.bin HTTP/1.1"
    std::string range;            // Range header; empty when none was sent
    int status = 0;
    std::int64_t bodyBytes = 0;
    std::int64_t bytesSent = 0;
    std::string userAgent;

    // The request target of the request line ("/files/1.bin").
    std::string target() const;
};

struct FetchOptions {
    std::string method = "GET";  // "HEAD" asks for the headers only
    std::string range;           // e.g. "0-99"; empty sends no Range
    std::string proxy;           // "host:port"; empty connects directly
    std::string postBody;        // sent with method "POST"
    std::vector<std::string> headers;
    bool http2 = false;  // offer HTTP/2 (TLS only); otherwise HTTP/1.1
    bool followRedirects = false;
    long timeoutSeconds = 20;
};

struct FetchResult {
    CURLcode code = CURLE_OK;
    long status = 0;       // of the last response
    long httpVersion = 0;  // CURL_HTTP_VERSION_1_1, CURL_HTTP_VERSION_2_0, ...
    std::string headers;   // every header line received, redirects included
    std::string body;
    std::string error;  // libcurl's error text when code is not CURLE_OK
};

// The running local test servers, as described by <state>/servers.env, which
// the test_servers fixture writes. Reading is cheap; make one per test.
class TestServers {
public:
    // Reads the state folder named by the environment variable
    // WEBSETUP_TEST_SERVERS; throws std::runtime_error when it is not set or
    // the servers are not up (the test lacks FIXTURES test_servers).
    TestServers();
    explicit TestServers(const std::filesystem::path& stateDir);

    // A servers.env value; throws std::runtime_error when the key is missing.
    const std::string& value(const std::string& key) const;
    int port(const std::string& key) const;

    std::string caBundle() const { return value("CA_PEM"); }
    std::filesystem::path servedDir() const { return value("SERVED_DIR"); }

    // Address of path (beginning with '/') on an nginx listener.
    std::string url(Endpoint endpoint, const std::string& path) const;
    // Address of a file of the served folder, e.g. fileUrl(Endpoint::Http, "1.bin").
    std::string fileUrl(Endpoint endpoint, const std::string& name) const;
    // Address of path (beginning with '/') on the fault server.
    std::string faultUrl(bool tls, const std::string& path) const;
    // The forward proxy as "127.0.0.1:<port>".
    std::string proxy() const;
    // An address where nothing listens: connecting is refused.
    std::string closedUrl() const;

    // Name of the generated file of size bytes that the fixture always serves
    // (sizes in STANDARD_SIZES).
    static std::string standardFile(std::int64_t size);

    // Writes a file of size pattern bytes into the served folder and returns
    // name. The file appears complete or not at all, so nginx never serves it
    // half-written.
    std::string createServedFile(const std::string& name, std::int64_t size) const;
    std::string writeServedFile(const std::string& name, const std::string& content) const;

    // Current size of nginx's access log: pass it to accessLog() later to
    // read only the lines written in between.
    std::uintmax_t accessLogSize() const;
    std::vector<AccessLogEntry> accessLog(std::uintmax_t from = 0) const;
    // The lines since `from` whose request target contains `needle`, once
    // at least `expected` of them are there (or after a few seconds, with
    // what there is). nginx logs a request after it has sent the answer, so
    // a client can return before its line is written.
    std::vector<AccessLogEntry> awaitAccessLog(std::uintmax_t from, const std::string& needle,
                                               std::size_t expected) const;

    std::uintmax_t proxyLogSize() const;
    std::vector<std::string> proxyLog(std::uintmax_t from = 0) const;

    // One request with libcurl that trusts the test CA.
    FetchResult fetch(const std::string& url, const FetchOptions& options = {}) const;

private:
    std::filesystem::path m_stateDir;
    std::map<std::string, std::string> m_values;
};

// Bytes [offset, offset + length) of the pattern of the generated files and
// the fault server's bodies: each 16-byte record at offset o is o in 15
// lower-case hex digits and a line feed, so a misplaced byte shows where it
// came from.
std::string patternBytes(std::int64_t offset, std::int64_t length);

}  // namespace testsupport
