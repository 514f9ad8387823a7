#pragma once

#include <cstdint>
#include <string>

// The proxy chosen by the setup worker, handed by value to every request.
// A default record means no proxy.
struct ProxySettings {
    // 0: no proxy; 2: use host and port. No other value is produced.
    std::int32_t mode = 0;
    std::string host;
    // Kept as text and never converted: it is inserted after the colon as is.
    std::string port;
    // Credentials for a proxy that asks for Basic, Digest or NTLM. Both empty
    // leaves Negotiate (and NTLM where the system has it) to the logged-on
    // user's own credentials.
    std::string user;
    std::string password;
};

// A candidate proxy (mode 2) from the user's proxy text
// "[user[:password]@]host[:port]": the credentials, percent-decoded, are
// everything before the last "@"; the host is the rest up to its first ":",
// the port everything after that colon (a per-scheme list is not taken apart).
ProxySettings proxyFromText(const std::string& text);

// How a proxy is named wherever people read it: "host:port", never with its
// credentials.
std::string proxyDisplayName(const ProxySettings& proxy);
