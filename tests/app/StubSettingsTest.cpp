#include <gtest/gtest.h>

#include <stdexcept>

#include "app/StubSettings.h"

namespace {

TEST(StubSettings, NamedSettingsAreTakenOutAndTheKeyFolded) {
    struct Case {
        const char* silentMode;  // nullptr: not stamped
        bool expected;
    };
    for (const Case& c : {Case{"true", true}, Case{"%74rue", true}, Case{"TRUE", false},
                          Case{"true ", false}, Case{"1", false}, Case{nullptr, false}}) {
        SCOPED_TRACE(c.silentMode ? c.silentMode : "(none)");
        PayloadInfo payload = {{"vid", "v%31"},         {"partnerId", "p"}, {"contentType", "10"},
                               {"contentAddress", "a"}, {"offerUrl", "L"},  {"extra", "%41"}};
        if (c.silentMode) payload["silentMode"] = c.silentMode;
        const StubSettings settings = StubSettings::read("WrnKit", payload);
        EXPECT_EQ(settings.productKey, "wrnkit");
        EXPECT_EQ(settings.productId, productIdFromKey("wrnkit"));
        EXPECT_EQ(settings.silentMode, c.expected);
        EXPECT_EQ(settings.vid, L"v1");
        EXPECT_EQ(settings.partnerId, L"p");
        EXPECT_EQ(settings.contentType, L"10");
        EXPECT_EQ(settings.contentAddress, L"a");
        EXPECT_EQ(settings.offerUrl, L"L");
        ASSERT_EQ(settings.payload.size(), 1u);
        EXPECT_EQ(settings.payload.begin()->second, "%41");  // left encoded
    }
}

TEST(StubSettings, UnknownKeyIsAnInvalidInstaller) {
    try {
        (void)StubSettings::read("nosuchproduct", {{"vid", "7"}});
        FAIL() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Invalid installer!");
    }
}

}  // namespace
