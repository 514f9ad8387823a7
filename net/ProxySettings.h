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
    std::string user;
    std::string password;
};
