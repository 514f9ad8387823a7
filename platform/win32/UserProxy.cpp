#include "platform/UserProxy.h"

#include <windows.h>
// The headers below need the types of windows.h.
#include <winhttp.h>

namespace platform {

std::optional<std::wstring> userProxyString() {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    if (!::WinHttpGetIEProxyConfigForCurrentUser(&config)) return std::nullopt;
    std::optional<std::wstring> proxy;
    if (config.lpszProxy != nullptr) proxy = std::wstring(config.lpszProxy);
    // The call hands over every string it filled; GlobalFree accepts null.
    ::GlobalFree(config.lpszAutoConfigUrl);
    ::GlobalFree(config.lpszProxy);
    ::GlobalFree(config.lpszProxyBypass);
    return proxy;
}

}  // namespace platform
