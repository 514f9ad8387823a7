#include "support/FaultServer.h"

#include <unistd.h>

#include <atomic>
#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>
#include <cctype>
#include <cstdio>
#include <sstream>
#include <stdexcept>

namespace testsupport {

namespace {

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte >= 0x7f) {
            // Scenario texts are bytes sent as they are: \u00XX keeps each one
            // a single byte on the server's side (it sends latin-1).
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string number(double value) {
    std::ostringstream out;
    out << value;
    return out.str();
}

std::string lower(std::string text) {
    for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

FaultRule& FaultRule::add(const std::string& key, std::string jsonValue) {
    m_fields.emplace_back(key, std::move(jsonValue));
    return *this;
}

FaultRule& FaultRule::onRequest(int n) { return add("request", std::to_string(n)); }
FaultRule& FaultRule::onRangeStart(std::int64_t first) {
    return add("range_start", std::to_string(first));
}
FaultRule& FaultRule::onRange(const std::string& value) { return add("range", quoted(value)); }
FaultRule& FaultRule::onMethod(const std::string& method) { return add("method", quoted(method)); }
FaultRule& FaultRule::onPath(const std::string& path) { return add("path", quoted(path)); }
FaultRule& FaultRule::onHeader(const std::string& name) { return add("with_header", quoted(name)); }
FaultRule& FaultRule::times(int count) { return add("times", std::to_string(count)); }
FaultRule& FaultRule::status(int code) { return add("status", std::to_string(code)); }
FaultRule& FaultRule::statusLine(const std::string& line) {
    return add("status_line", quoted(line));
}

FaultRule& FaultRule::header(const std::string& line) {
    for (auto& [key, value] : m_fields) {
        if (key == "headers") {
            value.insert(value.size() - 1, "," + quoted(line));
            return *this;
        }
    }
    return add("headers", "[" + quoted(line) + "]");
}

FaultRule& FaultRule::body(const std::string& text) { return add("body", quoted(text)); }
FaultRule& FaultRule::patternBody(std::int64_t size, std::int64_t offset) {
    add("body_size", std::to_string(size));
    return add("body_offset", std::to_string(offset));
}
FaultRule& FaultRule::ranged(std::int64_t size) { return add("ranged", std::to_string(size)); }
FaultRule& FaultRule::file(const std::string& path) { return add("file", quoted(path)); }
FaultRule& FaultRule::contentRange(const std::string& lineTemplate) {
    return add("content_range", quoted(lineTemplate));
}
FaultRule& FaultRule::ignoreRange() { return add("ignore_range", "true"); }
FaultRule& FaultRule::rangeShift(std::int64_t bytes) {
    return add("range_shift", std::to_string(bytes));
}
FaultRule& FaultRule::contentLength(std::int64_t value) {
    return add("content_length", std::to_string(value));
}
FaultRule& FaultRule::noContentLength() { return add("content_length", "\"none\""); }
FaultRule& FaultRule::cutAfter(std::int64_t bytes) {
    return add("cut_after", std::to_string(bytes));
}
FaultRule& FaultRule::resetAfter(std::int64_t bytes) {
    return add("reset_after", std::to_string(bytes));
}
FaultRule& FaultRule::stall(double seconds) {
    return add("stall", seconds < 0 ? "\"forever\"" : number(seconds));
}
FaultRule& FaultRule::stallAfter(std::int64_t bodyBytes, double seconds) {
    add("stall_after", std::to_string(bodyBytes));
    return stall(seconds);
}
FaultRule& FaultRule::drip(std::int64_t bytes, double intervalSeconds) {
    add("drip_bytes", std::to_string(bytes));
    return add("drip_interval", number(intervalSeconds));
}
FaultRule& FaultRule::sharedLink(double bytesPerSecond, double fastAfterSeconds) {
    if (fastAfterSeconds > 0) add("link_fast_after", number(fastAfterSeconds));
    return add("link_rate", number(bytesPerSecond));
}
FaultRule& FaultRule::endless() { return add("endless", "true"); }
FaultRule& FaultRule::redirects(int steps, int statusCode, std::int64_t bodySize) {
    add("redirects", std::to_string(steps));
    add("redirect_status", std::to_string(statusCode));
    return add("redirect_body_size", std::to_string(bodySize));
}
FaultRule& FaultRule::location(const std::string& url) { return add("location", quoted(url)); }
FaultRule& FaultRule::closeConnection() { return add("close", "true"); }

std::string FaultRule::json() const {
    std::string out = "{";
    for (const auto& [key, value] : m_fields) {
        if (out.size() > 1) out += ",";
        out += quoted(key) + ":" + value;
    }
    return out + "}";
}

std::string RecordedRequest::header(const std::string& name) const {
    const auto wanted = lower(name);
    for (const auto& [key, value] : headers)
        if (lower(key) == wanted) return value;
    return {};
}

bool RecordedRequest::hasHeader(const std::string& name) const {
    const auto wanted = lower(name);
    for (const auto& header : headers)
        if (lower(header.first) == wanted) return true;
    return false;
}

std::string FaultServer::uniqueId(const std::string& prefix) {
    static std::atomic<int> counter{0};
    return prefix + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

void FaultServer::setScenario(const std::string& id, const std::vector<FaultRule>& rules) const {
    std::string json = "{\"rules\":[";
    for (std::size_t i = 0; i < rules.size(); ++i) json += (i ? "," : "") + rules[i].json();
    setScenarioJson(id, json + "]}");
}

void FaultServer::setScenarioJson(const std::string& id, const std::string& json) const {
    FetchOptions options;
    options.method = "POST";
    options.postBody = json;
    options.headers = {"Content-Type: application/json"};
    const auto result =
        m_servers.fetch(m_servers.faultUrl(false, "/_control/scenario/" + id), options);
    if (result.code != CURLE_OK || result.status != 200)
        throw std::runtime_error("fault server refused scenario " + id + ": " + result.error +
                                 result.body);
}

std::string FaultServer::url(const std::string& id, const std::string& path, bool tls) const {
    return m_servers.faultUrl(tls, "/s/" + id + "/" + path);
}

std::vector<RecordedRequest> FaultServer::requests(const std::string& id) const {
    const auto result = m_servers.fetch(m_servers.faultUrl(false, "/_control/requests/" + id));
    if (result.code != CURLE_OK || result.status != 200)
        throw std::runtime_error("cannot read requests of " + id + ": " + result.error);
    std::istringstream in(result.body);
    boost::property_tree::ptree tree;
    boost::property_tree::read_json(in, tree);
    std::vector<RecordedRequest> requests;
    for (const auto& [unused, node] : tree.get_child("requests")) {
        static_cast<void>(unused);
        RecordedRequest request;
        // Numbers are read as text: property_tree's numeric reads trip GCC's
        // maybe-uninitialized warning in sanitizer builds.
        request.number = std::stoi(node.get<std::string>("n"));
        request.connection = std::stol(node.get<std::string>("connection"));
        request.connectionRequest = std::stoi(node.get<std::string>("connection_request"));
        request.tls = node.get<std::string>("tls") == "true";
        request.method = node.get<std::string>("method");
        request.target = node.get<std::string>("target");
        request.requestLine = node.get<std::string>("request_line");
        for (const auto& [unusedKey, header] : node.get_child("headers")) {
            static_cast<void>(unusedKey);
            request.headers.emplace_back(header.get<std::string>("name"),
                                         header.get<std::string>("value"));
        }
        requests.push_back(std::move(request));
    }
    return requests;
}

}  // namespace testsupport
