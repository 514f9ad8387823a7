#pragma once

#include <optional>
#include <string>

namespace platform {

// The current user's proxy as the home platform's per-user setting gives it:
// "host:port", here with the credentials that came with it in front
// ("user:password@host:port", still percent-encoded). Taken from the first of
// https_proxy, HTTPS_PROXY, http_proxy, HTTP_PROXY, all_proxy and ALL_PROXY
// that is set and not empty, with the scheme and everything from the first
// "/" after the host dropped. std::nullopt when no proxy is configured, which
// the caller treats as a failed query. Any thread; reads the environment only.
std::optional<std::wstring> userProxyString();

// The "[userinfo@]host:port" text of one proxy variable's value
// ("http://u:p@h:3128/" gives "u:p@h:3128"); empty for an empty value.
std::string proxyAddress(const std::string& value);

}  // namespace platform
