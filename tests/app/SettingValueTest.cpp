#include <gtest/gtest.h>

#include "app/PayloadInfo.h"
#include "app/SettingValue.h"

namespace {

TEST(UrlDecode, DecodesEscapesAndPlusAndKeepsMalformedPerCentSigns) {
    const struct {
        std::u16string_view text;
        std::u16string expected;
    } cases[] = {
        {u"", u""},
        {u"a+b%3Ac%2f", u"a b:c/"},
        {u"%41%4", u"A\u0004"},
        // One digit still consumes two units after the "%".
        {u"%4g!", u"\u0004!"},
        // No hexadecimal digit after "%": the "%" is kept and nothing dropped.
        {u"%zz", u"%zz"},
        {u"100%", u"100%"},
        {u"%%41", u"%A"},
        {u"%+", u"% "},
        // High escapes give one unit each, never a combined UTF-8 character.
        {u"%e9%FF", u"\u00e9\u00ff"},
        {u"%D0%9F", u"\u00d0\u009f"},
        {u"%00", std::u16string(1, u'\0')},
        {u"\u041c\u0438\u0440+%2B", u"\u041c\u0438\u0440 +"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(urlDecode(c.text), c.expected) << "input length " << c.text.size();
    }
}

TEST(DecodeSettingValue, ConvertsUtf8FirstAndSkipsInvalidBytes) {
    const struct {
        std::string_view raw;
        std::u16string expected;
    } cases[] = {
        {"https%3A%2F%2Fexample.com%2Fa%3Fb%3D1%26c%3Dd+e", u"https://example.com/a?b=1&c=d e"},
        {"\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82%2C+%D0",
         u"\u041f\u0440\u0438\u0432\u0435\u0442, \u00d0"},
        {"a\xff"
         "b\xd0",
         u"ab"},
    };
    for (const auto& c : cases) EXPECT_EQ(decodeSettingValue(c.raw), c.expected) << c.raw;
}

TEST(TakeSetting, ReturnsTheDecodedValueAndRemovesTheKey) {
    PayloadInfo payload{{"vid", "4%2B2"}, {"silentMode", "1"}};

    EXPECT_EQ(takeSetting(payload, "vid"), u"4+2");
    EXPECT_EQ(payload.count("vid"), 0u);
    EXPECT_EQ(payload.size(), 1u);

    EXPECT_EQ(takeSetting(payload, "partnerId"), u"");
    EXPECT_EQ(payload.size(), 1u);
}

}  // namespace
