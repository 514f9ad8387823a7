#include "net/ProxySettings.h"

namespace {

int hexValue(char digit) {
    if (digit >= '0' && digit <= '9') return digit - '0';
    if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
    if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
    return -1;
}

// "%XX" becomes its byte; a "%" without two hex digits stays as it is, since
// a user who typed one in a password meant it.
std::string percentDecoded(const std::string& text) {
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const int high = i + 2 < text.size() && text[i] == '%' ? hexValue(text[i + 1]) : -1;
        const int low = high >= 0 ? hexValue(text[i + 2]) : -1;
        if (low >= 0) {
            decoded += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

}  // namespace

ProxySettings proxyFromText(const std::string& text) {
    ProxySettings proxy;
    proxy.mode = 2;
    const std::size_t at = text.rfind('@');
    const std::string address = at == std::string::npos ? text : text.substr(at + 1);
    if (at != std::string::npos) {
        const std::string userinfo = text.substr(0, at);
        const std::size_t colon = userinfo.find(':');
        proxy.user = percentDecoded(userinfo.substr(0, colon));
        if (colon != std::string::npos) proxy.password = percentDecoded(userinfo.substr(colon + 1));
    }
    const std::size_t colon = address.find(':');
    proxy.host = address.substr(0, colon);
    proxy.port = colon == std::string::npos ? std::string() : address.substr(colon + 1);
    return proxy;
}

std::string proxyDisplayName(const ProxySettings& proxy) { return proxy.host + ":" + proxy.port; }
