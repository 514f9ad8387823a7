#include "platform/UserProxy.h"

#include <cstdlib>

#include "text/TextConversion.h"

namespace platform {

std::string proxyAddress(const std::string& value) {
    std::string text = value;
    const std::size_t scheme = text.find("://");
    if (scheme != std::string::npos) text.erase(0, scheme + 3);
    // A "/" in the credentials must be percent-encoded, so the first one
    // after the scheme ends the address.
    const std::size_t path = text.find('/');
    if (path != std::string::npos) text.erase(path);
    return text;
}

std::optional<std::wstring> userProxyString() {
    for (const char* name :
         {"https_proxy", "HTTPS_PROXY", "http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) {
        const char* value = std::getenv(name);
        if (value == nullptr || *value == '\0') continue;
        return utf8ToWide(proxyAddress(value));
    }
    return std::nullopt;
}

}  // namespace platform
