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

// A value that decodes to a NUL character would cut the installer's command
// line short where it becomes a C string: such a setting is dropped, with
// the reason kept for the log, named or passed on alike; the rest stay.
TEST(StubSettings, AValueDecodingToNulIsDropped) {
    const struct {
        const char* raw;
        const wchar_t* decoded;  // nullptr: dropped
    } cases[] = {
        {"%00", nullptr}, {"a%00b", nullptr}, {"%000", nullptr},   {"%0g", nullptr},
        {"%0", nullptr},  {"%2500", L"%00"},  {"%30%300", L"000"}, {"%01", L"\x01"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.raw);
        const StubSettings settings =
            StubSettings::read("wrnkit", {{"vid", c.raw}, {"extra", c.raw}, {"ap", "1"}});
        EXPECT_EQ(settings.vid, c.decoded ? c.decoded : L"");
        EXPECT_EQ(settings.payload.count("extra"), c.decoded ? 1u : 0u);
        EXPECT_EQ(settings.payload.count("ap"), 1u);
        if (c.decoded) {
            EXPECT_TRUE(settings.droppedSettings.empty());
            continue;
        }
        ASSERT_EQ(settings.droppedSettings.size(), 2u);
        EXPECT_EQ(settings.droppedSettings[0],
                  "the stamped setting \"extra\" is dropped: its value decodes to a NUL "
                  "character");
        EXPECT_NE(settings.droppedSettings[1].find("\"vid\""), std::string::npos);
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
