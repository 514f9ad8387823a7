#include "net/EasyRequest.h"

#include <boost/algorithm/string/predicate.hpp>
#include <utility>

#include "net/CurlTls.h"

namespace {

constexpr const char* kProduct = "Quellmark Downloader";
// Keeps libcurl from adding "Expect: 100-continue" on its own.
constexpr const char* kEmptyExpectLine = "Expect:";
constexpr long kMaxRedirects = 5;
constexpr const char* kWebProtocols = "http,https";
constexpr const char* kSecureProtocolOnly = "https";

// Applies one option after another and keeps the first refusal.
class OptionSetter {
public:
    explicit OptionSetter(CURL* handle) : m_handle(handle) {}

    template <typename Value>
    void set(CURLoption option, Value value) {
        if (m_result == CURLE_OK) {
            m_result = curl_easy_setopt(m_handle, option, value);
        }
    }
    void apply(CURLcode (*step)(CURL*)) {
        if (m_result == CURLE_OK) {
            m_result = step(m_handle);
        }
    }
    CURLcode result() const { return m_result; }

private:
    CURL* m_handle;
    CURLcode m_result = CURLE_OK;
};

int abortOnStop(void* stopFlag, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<const std::atomic<bool>*>(stopFlag)->load() ? 1 : 0;
}

bool buildHeaderLines(const RequestOptions& options, CurlHeaderList& lines) {
    for (const std::string& line : options.extraHeaderLines) {
        if (!appendHeaderLine(lines, line)) {
            return false;
        }
    }
    if (options.userAgentLine == RequestOptions::UserAgentLine::Compact) {
        return appendHeaderLine(lines, std::string("User-Agent:") + kProduct);
    }
    return appendHeaderLine(lines, std::string("User-Agent: ") + kProduct) &&
           appendHeaderLine(lines, kEmptyExpectLine);
}

bool usesProxy(const ProxySettings& proxy) { return proxy.mode == 2 && !proxy.host.empty(); }

bool hasCredentials(const ProxySettings& proxy) {
    return !proxy.user.empty() || !proxy.password.empty();
}

void applyProxy(OptionSetter& options, const ProxySettings& proxy) {
    // No proxy is an explicit empty one: libcurl would otherwise take one from
    // the environment by itself. The empty no-proxy list keeps the
    // environment's from overriding the decision either way.
    options.set(CURLOPT_NOPROXY, "");
    if (!usesProxy(proxy)) {
        options.set(CURLOPT_PROXY, "");
        return;
    }
    options.set(CURLOPT_PROXY, (proxy.host + ":" + proxy.port).c_str());
    const unsigned long schemes = proxyAuthSchemes(proxy);
    if (schemes == CURLAUTH_NONE) return;
    options.set(CURLOPT_PROXYAUTH, schemes);
    if (hasCredentials(proxy)) {
        // Apart, so that a colon in the user name is no separator.
        options.set(CURLOPT_PROXYUSERNAME, proxy.user.c_str());
        options.set(CURLOPT_PROXYPASSWORD, proxy.password.c_str());
    } else {
        // Empty credentials let GSS-API or SSPI answer with the logged-on
        // user's own, without asking anyone.
        options.set(CURLOPT_PROXYUSERPWD, ":");
    }
}

void applyProtocols(OptionSetter& options, const std::string& url) {
    options.set(CURLOPT_PROTOCOLS_STR, kWebProtocols);
    // What came over HTTPS must not be handed on over plain HTTP, where anyone
    // on the way can change it.
    options.set(CURLOPT_REDIR_PROTOCOLS_STR, boost::algorithm::istarts_with(url, "https://")
                                                 ? kSecureProtocolOnly
                                                 : kWebProtocols);
}

}  // namespace

unsigned long proxyAuthSchemes(const ProxySettings& proxy) {
    const long features = curl_version_info(CURLVERSION_NOW)->features;
    const bool negotiate = (features & CURL_VERSION_SPNEGO) != 0;
    const bool ntlm = (features & CURL_VERSION_NTLM) != 0;
    // Only SSPI can answer NTLM for the logged-on user, and only SSPI takes
    // given credentials for Negotiate: GSS-API uses the user's ticket alone,
    // and would fail without one where Basic or Digest would have done.
    const bool sspi = (features & CURL_VERSION_SSPI) != 0;
    unsigned long schemes = CURLAUTH_NONE;
    if (hasCredentials(proxy)) {
        schemes = CURLAUTH_BASIC | CURLAUTH_DIGEST;
        if (ntlm) schemes |= CURLAUTH_NTLM;
        if (negotiate && sspi) schemes |= CURLAUTH_NEGOTIATE;
        return schemes;
    }
    if (negotiate) schemes |= CURLAUTH_NEGOTIATE;
    if (ntlm && sspi) schemes |= CURLAUTH_NTLM;
    // libcurl sends a lone scheme before the proxy asks for it; with ONLY it
    // waits for the challenge, so a proxy that asks for nothing sees the
    // same requests as without any of this.
    return schemes == CURLAUTH_NONE ? schemes : schemes | CURLAUTH_ONLY;
}

std::string proxyAuthSchemeUsed(CURL* handle, const ProxySettings& proxy) {
    long offered = 0;
    if (!usesProxy(proxy) ||
        curl_easy_getinfo(handle, CURLINFO_PROXYAUTH_AVAIL, &offered) != CURLE_OK) {
        return std::string();
    }
    const unsigned long answerable = static_cast<unsigned long>(offered) & proxyAuthSchemes(proxy);
    // libcurl answers with the strongest scheme both sides have.
    for (const auto& [scheme, name] :
         {std::pair<unsigned long, const char*>{CURLAUTH_NEGOTIATE, "Negotiate"},
          {CURLAUTH_NTLM, "NTLM"},
          {CURLAUTH_DIGEST, "Digest"},
          {CURLAUTH_BASIC, "Basic"}}) {
        if ((answerable & scheme) != 0) return name;
    }
    return std::string();
}

CURLcode EasyRequest::build(const RequestOptions& options) {
    reset();
    if (options.headerRecord == nullptr) {
        return CURLE_BAD_FUNCTION_ARGUMENT;
    }
    CurlHeaderList lines;
    if (!buildHeaderLines(options, lines)) {
        return CURLE_OUT_OF_MEMORY;
    }
    CurlEasyHandle handle(curl_easy_init());
    if (!handle) {
        return CURLE_FAILED_INIT;
    }
    OptionSetter set(handle.get());
    set.set(CURLOPT_URL, options.url.c_str());
    applyProtocols(set, options.url);
    if (options.errorBuffer != nullptr) {
        set.set(CURLOPT_ERRORBUFFER, options.errorBuffer);
    }
    set.set(CURLOPT_HTTPHEADER, lines.get());
    set.set(CURLOPT_HEADERDATA, static_cast<void*>(options.headerRecord));
    set.set(CURLOPT_HEADERFUNCTION, &headerCallback);
    if (options.bodyCallback != nullptr) {
        set.set(CURLOPT_WRITEDATA, options.bodyData);
        set.set(CURLOPT_WRITEFUNCTION, options.bodyCallback);
    }
    if (options.followRedirects) {
        set.set(CURLOPT_FOLLOWLOCATION, 1L);
        set.set(CURLOPT_MAXREDIRS, kMaxRedirects);
    }
    if (options.connectTimeoutSeconds > 0) {
        set.set(CURLOPT_CONNECTTIMEOUT, options.connectTimeoutSeconds);
    }
    if (options.totalTimeoutSeconds > 0) {
        set.set(CURLOPT_TIMEOUT, options.totalTimeoutSeconds);
    }
    if (options.noBody) {
        set.set(CURLOPT_NOBODY, 1L);
    }
    if (options.receiveBufferBytes > 0) {
        set.set(CURLOPT_BUFFERSIZE, options.receiveBufferBytes);
    }
    applyProxy(set, options.proxy);
    // Other threads run beside every request; libcurl must not use signals.
    set.set(CURLOPT_NOSIGNAL, 1L);
    set.set(CURLOPT_LOW_SPEED_LIMIT, options.limits.lowSpeedBytesPerSecond);
    set.set(CURLOPT_LOW_SPEED_TIME, options.limits.lowSpeedSeconds);
    if (options.stopFlag != nullptr) {
        set.set(CURLOPT_XFERINFOFUNCTION, &abortOnStop);
        set.set(CURLOPT_XFERINFODATA,
                const_cast<void*>(static_cast<const void*>(options.stopFlag)));
        set.set(CURLOPT_NOPROGRESS, 0L);
    }
    set.apply(&applyBuildTrustStore);
    if (set.result() != CURLE_OK) {
        return set.result();
    }
    m_headerLines = std::move(lines);
    m_handle = std::move(handle);
    return CURLE_OK;
}

void EasyRequest::reset() {
    m_handle.reset();
    m_headerLines.reset();
}
