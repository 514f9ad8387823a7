#include "support/TestServers.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "support/WaitFor.h"

namespace testsupport {

namespace {

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::string::size_type start = 0;
    while (true) {
        const auto tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos) return fields;
        start = tab + 1;
    }
}

std::vector<std::string> readLinesFrom(const std::string& path, std::uintmax_t from) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    in.seekg(static_cast<std::streamoff>(from));
    std::vector<std::string> lines;
    std::string line;
    // A line still being written has no line feed yet: leave it for later.
    while (std::getline(in, line) && !in.eof()) lines.push_back(line);
    return lines;
}

std::uintmax_t sizeOf(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
}

size_t appendTo(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// Options whose result is not worth a check in test code would hide a
// mistake in the helper itself; fail loudly instead.
template <typename T>
void set(CURL* handle, CURLoption option, T value) {
    const CURLcode code = curl_easy_setopt(handle, option, value);
    if (code != CURLE_OK)
        throw std::runtime_error(std::string("curl_easy_setopt: ") + curl_easy_strerror(code));
}

}  // namespace

std::string AccessLogEntry::target() const {
    const auto first = request.find(' ');
    const auto last = request.rfind(' ');
    if (first == std::string::npos || last <= first) return request;
    return request.substr(first + 1, last - first - 1);
}

TestServers::TestServers() {
    const char* state = std::getenv("WEBSETUP_TEST_SERVERS");
    if (state == nullptr || *state == '\0')
        throw std::runtime_error(
            "WEBSETUP_TEST_SERVERS is not set: give the test FIXTURES test_servers");
    *this = TestServers(std::filesystem::path(state));
}

TestServers::TestServers(const std::filesystem::path& stateDir) : m_stateDir(stateDir) {
    const auto envPath = stateDir / "servers.env";
    std::ifstream in(envPath);
    if (!in) throw std::runtime_error("test servers are not running: no " + envPath.string());
    std::string line;
    while (std::getline(in, line)) {
        const auto equals = line.find('=');
        if (equals != std::string::npos) m_values[line.substr(0, equals)] = line.substr(equals + 1);
    }
}

const std::string& TestServers::value(const std::string& key) const {
    const auto it = m_values.find(key);
    if (it == m_values.end()) throw std::runtime_error("servers.env has no " + key);
    return it->second;
}

int TestServers::port(const std::string& key) const { return std::stoi(value(key)); }

std::string TestServers::url(Endpoint endpoint, const std::string& path) const {
    switch (endpoint) {
        case Endpoint::Http:
            return "http://127.0.0.1:" + value("NGINX_HTTP_PORT") + path;
        case Endpoint::Https:
            return "https://127.0.0.1:" + value("NGINX_HTTPS_PORT") + path;
        case Endpoint::Http2:
            return "https://127.0.0.1:" + value("NGINX_H2_PORT") + path;
        case Endpoint::Untrusted:
            return "https://127.0.0.1:" + value("NGINX_UNTRUSTED_PORT") + path;
    }
    throw std::logic_error("unknown endpoint");
}

std::string TestServers::fileUrl(Endpoint endpoint, const std::string& name) const {
    return url(endpoint, "/files/" + name);
}

std::string TestServers::faultUrl(bool tls, const std::string& path) const {
    return tls ? "https://127.0.0.1:" + value("FAULT_HTTPS_PORT") + path
               : "http://127.0.0.1:" + value("FAULT_HTTP_PORT") + path;
}

std::string TestServers::proxy() const { return "127.0.0.1:" + value("PROXY_PORT"); }

std::string TestServers::closedUrl() const {
    return "http://127.0.0.1:" + value("CLOSED_PORT") + "/";
}

std::string TestServers::standardFile(std::int64_t size) { return std::to_string(size) + ".bin"; }

std::string TestServers::createServedFile(const std::string& name, std::int64_t size) const {
    return writeServedFile(name, patternBytes(0, size));
}

std::string TestServers::writeServedFile(const std::string& name,
                                         const std::string& content) const {
    static std::atomic<int> counter{0};
    const auto target = servedDir() / name;
    auto temporary = target;
    temporary += ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        out.close();
        if (!out) throw std::runtime_error("cannot write " + temporary.string());
    }
    std::filesystem::rename(temporary, target);
    return name;
}

std::uintmax_t TestServers::accessLogSize() const { return sizeOf(value("NGINX_ACCESS_LOG")); }

std::vector<AccessLogEntry> TestServers::accessLog(std::uintmax_t from) const {
    std::vector<AccessLogEntry> entries;
    for (const auto& line : readLinesFrom(value("NGINX_ACCESS_LOG"), from)) {
        const auto fields = splitTabs(line);
        if (fields.size() < 9) continue;
        AccessLogEntry entry;
        entry.connection = std::stol(fields[0]);
        entry.connectionRequests = std::stol(fields[1]);
        entry.port = std::stoi(fields[2]);
        entry.request = fields[3];
        entry.range = fields[4] == "-" ? "" : fields[4];
        entry.status = std::stoi(fields[5]);
        entry.bodyBytes = std::stoll(fields[6]);
        entry.bytesSent = std::stoll(fields[7]);
        entry.userAgent = fields[8] == "-" ? "" : fields[8];
        entries.push_back(entry);
    }
    return entries;
}

std::vector<AccessLogEntry> TestServers::awaitAccessLog(std::uintmax_t from,
                                                        const std::string& needle,
                                                        std::size_t expected) const {
    std::vector<AccessLogEntry> matching;
    (void)waitFor(
        [&] {
            matching.clear();
            for (const AccessLogEntry& entry : accessLog(from)) {
                if (entry.target().find(needle) != std::string::npos) {
                    matching.push_back(entry);
                }
            }
            return matching.size() >= expected;
        },
        std::chrono::seconds(10));
    return matching;
}

std::uintmax_t TestServers::proxyLogSize() const { return sizeOf(value("PROXY_LOG")); }

std::vector<std::string> TestServers::proxyLog(std::uintmax_t from) const {
    return readLinesFrom(value("PROXY_LOG"), from);
}

FetchResult TestServers::fetch(const std::string& url, const FetchOptions& options) const {
    std::unique_ptr<CURL, EasyDeleter> handle(curl_easy_init());
    if (!handle) throw std::runtime_error("curl_easy_init failed");
    CURL* h = handle.get();
    FetchResult result;
    char error[CURL_ERROR_SIZE] = "";
    curl_slist* list = nullptr;
    for (const auto& line : options.headers) {
        curl_slist* appended = curl_slist_append(list, line.c_str());
        if (appended == nullptr) {
            curl_slist_free_all(list);
            throw std::runtime_error("curl_slist_append failed");
        }
        list = appended;
    }
    std::unique_ptr<curl_slist, ListDeleter> headers(list);
    set(h, CURLOPT_URL, url.c_str());
    set(h, CURLOPT_ERRORBUFFER, error);
    set(h, CURLOPT_NOSIGNAL, 1L);
    set(h, CURLOPT_CAINFO, caBundle().c_str());
    set(h, CURLOPT_TIMEOUT, options.timeoutSeconds);
    // An explicit empty proxy keeps the environment's proxy variables out.
    set(h, CURLOPT_PROXY, options.proxy.c_str());
    set(h, CURLOPT_HTTP_VERSION,
        options.http2 ? long{CURL_HTTP_VERSION_2TLS} : long{CURL_HTTP_VERSION_1_1});
    set(h, CURLOPT_FOLLOWLOCATION, options.followRedirects ? 1L : 0L);
    set(h, CURLOPT_WRITEFUNCTION, appendTo);
    set(h, CURLOPT_WRITEDATA, &result.body);
    set(h, CURLOPT_HEADERFUNCTION, appendTo);
    set(h, CURLOPT_HEADERDATA, &result.headers);
    if (headers) set(h, CURLOPT_HTTPHEADER, headers.get());
    if (!options.range.empty()) set(h, CURLOPT_RANGE, options.range.c_str());
    if (options.method == "HEAD") {
        set(h, CURLOPT_NOBODY, 1L);
    } else if (options.method == "POST") {
        set(h, CURLOPT_POSTFIELDS, options.postBody.c_str());
        set(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(options.postBody.size()));
    } else if (options.method != "GET") {
        set(h, CURLOPT_CUSTOMREQUEST, options.method.c_str());
    }
    result.code = curl_easy_perform(h);
    if (result.code != CURLE_OK) result.error = error;
    // Reading these two of a finished handle cannot fail; 0 stays on error.
    static_cast<void>(curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &result.status));
    static_cast<void>(curl_easy_getinfo(h, CURLINFO_HTTP_VERSION, &result.httpVersion));
    return result;
}

std::string patternBytes(std::int64_t offset, std::int64_t length) {
    std::string out;
    if (length <= 0) return out;
    out.reserve(static_cast<std::size_t>(length));
    std::int64_t record = offset - offset % 16;
    char text[17];
    while (record < offset + length) {
        std::snprintf(text, sizeof text, "%015llx\n", static_cast<unsigned long long>(record));
        const std::int64_t from = record < offset ? offset - record : 0;
        const std::int64_t to = record + 16 > offset + length ? offset + length - record : 16;
        out.append(text + from, static_cast<std::size_t>(to - from));
        record += 16;
    }
    return out;
}

}  // namespace testsupport
