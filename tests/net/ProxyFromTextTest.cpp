#include <gtest/gtest.h>

#include <string>

#include "net/ProxySettings.h"

namespace {

TEST(ProxyFromTextTest, SplitsCredentialsHostAndPort) {
    const struct {
        const char* text;
        const char* user;
        const char* password;
        const char* host;
        const char* port;
    } cases[] = {
        {"proxy:3128", "", "", "proxy", "3128"},
        {"user:secret@proxy:3128", "user", "secret", "proxy", "3128"},
        // Percent-decoded, and the last "@" ends the credentials, so a
        // password typed with a raw "@" or ":" still arrives whole.
        {"DOMAIN%5Cjo%20e:p%3Aw%40d@proxy:3128", "DOMAIN\\jo e", "p:w@d", "proxy", "3128"},
        {"jo:p@ss:w@proxy:3128", "jo", "p@ss:w", "proxy", "3128"},
        {"jo@proxy:3128", "jo", "", "proxy", "3128"},
        {"jo:100%@proxy:3128", "jo", "100%", "proxy", "3128"},
        {"proxy", "", "", "proxy", ""},
    };
    for (const auto& c : cases) {
        const ProxySettings proxy = proxyFromText(c.text);
        EXPECT_EQ(proxy.mode, 2) << c.text;
        EXPECT_EQ(proxy.user, c.user) << c.text;
        EXPECT_EQ(proxy.password, c.password) << c.text;
        EXPECT_EQ(proxy.host, c.host) << c.text;
        EXPECT_EQ(proxy.port, c.port) << c.text;
        EXPECT_EQ(proxyDisplayName(proxy).find('@'), std::string::npos) << c.text;
    }
}

}  // namespace
