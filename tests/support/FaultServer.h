#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "support/TestServers.h"

namespace testsupport {

// One rule of a fault-server scenario. The on…() calls say which requests
// it matches (none: every request); the rest say what is answered. A rule
// is a JSON object of tests/servers/README.md; this builder only spells it.
class FaultRule {
public:
    FaultRule& onRequest(int number);  // 1 = the scenario's first request
    FaultRule& onRangeStart(std::int64_t firstByte);
    FaultRule& onRange(const std::string& headerValue);  // e.g. "bytes=0-99"
    FaultRule& onMethod(const std::string& method);
    FaultRule& onPath(const std::string& path);    // the part after /s/<id>/
    FaultRule& onHeader(const std::string& name);  // requests carrying it
    FaultRule& times(int count);                   // matches at most count requests

    FaultRule& status(int code);
    FaultRule& statusLine(const std::string& line);  // sent verbatim
    FaultRule& header(const std::string& line);      // sent verbatim, in order
    FaultRule& body(const std::string& text);
    FaultRule& patternBody(std::int64_t size, std::int64_t offset = 0);
    // Honest answers of a pattern body of size bytes: 206 with Content-Range
    // for a single byte range, 200 without Range, 416 when unsatisfiable.
    FaultRule& ranged(std::int64_t size);
    // As ranged, with the bytes of the file at path (read at each request).
    FaultRule& file(const std::string& path);
    // With ranged: the Content-Range line sent, {first}, {last} and {size}
    // filled in (default "Content-Range: bytes {first}-{last}/{size}"); empty
    // sends none.
    FaultRule& contentRange(const std::string& lineTemplate);
    // With ranged or file: the whole body with 200 whatever Range asks.
    FaultRule& ignoreRange();
    // With ranged: serves the window that many bytes further on instead.
    FaultRule& rangeShift(std::int64_t bytes);
    FaultRule& contentLength(std::int64_t value);   // may lie; the connection then closes
    FaultRule& noContentLength();                   // body ends with the connection
    FaultRule& cutAfter(std::int64_t bodyBytes);    // then close
    FaultRule& resetAfter(std::int64_t bodyBytes);  // then a TCP reset
    // Silence before anything is sent; negative: until the client leaves.
    FaultRule& stall(double seconds);
    FaultRule& stallAfter(std::int64_t bodyBytes, double seconds);
    FaultRule& drip(std::int64_t bytes, double intervalSeconds);
    // The body goes over one link of bytesPerSecond that every answer of the
    // scenario under such a rule shares, in slices of one TCP segment taking
    // turns; after fastAfterSeconds of carrying bytes (when positive) the
    // link stops pacing.
    FaultRule& sharedLink(double bytesPerSecond, double fastAfterSeconds = 0);
    // The body never ends (pattern bytes, dripped when drip() is set) until
    // the client leaves.
    FaultRule& endless();
    // steps redirect answers, each with its own body of bodySize bytes and a
    // matching Content-Length, before the rule's own answer.
    FaultRule& redirects(int steps, int status = 302, std::int64_t bodySize = 20);
    // The Location of those redirects, verbatim (default: the next step here).
    FaultRule& location(const std::string& url);
    FaultRule& closeConnection();

    std::string json() const;

private:
    FaultRule& add(const std::string& key, std::string jsonValue);

    std::vector<std::pair<std::string, std::string>> m_fields;
};

// A request as the fault server recorded it.
struct RecordedRequest {
    int number = 0;  // within its scenario, from 1
    long connection = 0;
    int connectionRequest = 0;  // 1 for the first request of a connection
    bool tls = false;
    std::string method;
    std::string target;
    std::string requestLine;
    std::vector<std::pair<std::string, std::string>> headers;

    // Value of the first header called name (any case); empty when none.
    std::string header(const std::string& name) const;
    bool hasHeader(const std::string& name) const;
};

class FaultServer {
public:
    explicit FaultServer(TestServers servers) : m_servers(std::move(servers)) {}

    // A scenario id that no other test process uses at the same time.
    static std::string uniqueId(const std::string& prefix);

    // Registers (or replaces) a scenario and clears its recorded requests;
    // throws std::runtime_error with the server's reason when it is refused.
    void setScenario(const std::string& id, const std::vector<FaultRule>& rules) const;
    void setScenarioJson(const std::string& id, const std::string& json) const;

    // Address that the scenario answers; path is free text after /s/<id>/.
    std::string url(const std::string& id, const std::string& path = "file",
                    bool tls = false) const;

    std::vector<RecordedRequest> requests(const std::string& id) const;

private:
    TestServers m_servers;
};

}  // namespace testsupport
