#include "platform/UserProxy.h"

#include <cstdlib>

#include "text/TextConversion.h"

namespace platform {

std::string proxyHostPort(const std::string& value) {
    std::string text = value;
    const std::size_t scheme = text.find("://");
    if (scheme != std::string::npos) text.erase(0, scheme + 3);
    const std::size_t path = text.find('/');
    if (path != std::string::npos) text.erase(path);
    // Credentials are not part of the per-user setting this stands in for;
    // the setup flow sends none.
    const std::size_t credentials = text.rfind('@');
    if (credentials != std::string::npos) text.erase(0, credentials + 1);
    return text;
}

std::optional<std::wstring> userProxyString() {
    for (const char* name :
         {"https_proxy", "HTTPS_PROXY", "http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) {
        const char* value = std::getenv(name);
        if (value == nullptr || *value == '\0') continue;
        return utf8ToWide(proxyHostPort(value));
    }
    return std::nullopt;
}

}  // namespace platform
