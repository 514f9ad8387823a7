#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/UserLanguage.h"

namespace {

class LocaleEnvironment : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : kVariables) ::unsetenv(name);
    }
    void TearDown() override { SetUp(); }
    static constexpr const char* kVariables[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
};

TEST_F(LocaleEnvironment, FirstSetVariableWins) {
    struct Case {
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        std::uint16_t expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, 0x0409},
        {nullptr, nullptr, "ru_RU.UTF-8", 0x0419},
        {nullptr, "en_US.UTF-8", "ru_RU.UTF-8", 0x0409},
        {"ru_RU", "en_US.UTF-8", "en_US.UTF-8", 0x0419},
        {"", "ru_RU.UTF-8", "en_US", 0x0419},  // an empty setting counts as unset
        {"uk_UA.UTF-8", nullptr, nullptr, 0x0422},
        {"ru_MD.UTF-8", nullptr, nullptr, 0x0819},
        {"ru_RU.KOI8-R", nullptr, nullptr, 0x0419},
        {"ru_RU@euro", nullptr, nullptr, 0x0419},
        {"C", nullptr, "ru_RU.UTF-8", 0x0409},
        {"POSIX", nullptr, nullptr, 0x0409},
        {"ru", nullptr, nullptr, 0x0409},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.lcAll ? c.lcAll : "-") + "/" +
                     (c.lcMessages ? c.lcMessages : "-") + "/" + (c.lang ? c.lang : "-"));
        SetUp();
        if (c.lcAll) ::setenv("LC_ALL", c.lcAll, 1);
        if (c.lcMessages) ::setenv("LC_MESSAGES", c.lcMessages, 1);
        if (c.lang) ::setenv("LANG", c.lang, 1);
        EXPECT_EQ(platform::userDefaultUiLanguage(), c.expected);
    }
}

}  // namespace
