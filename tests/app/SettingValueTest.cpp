#include <gtest/gtest.h>

#include "app/PayloadInfo.h"
#include "app/SettingValue.h"

namespace {

TEST(UrlDecode, DecodesEscapesAndPlusAndKeepsMalformedPerCentSigns) {
    const struct {
        std::wstring_view text;
        std::wstring expected;
    } cases[] = {
        {L"", L""},
        {L"a+b%3Ac%2f", L"a b:c/"},
        {L"%41%4", L"A\u0004"},
        // One digit still consumes two units after the "%".
        {L"%4g!", L"\u0004!"},
        // No hexadecimal digit after "%": the "%" is kept and nothing dropped.
        {L"%zz", L"%zz"},
        {L"100%", L"100%"},
        {L"%%41", L"%A"},
        {L"%+", L"% "},
        // High escapes give one unit each, never a combined UTF-8 character.
        {L"%e9%FF", L"\u00e9\u00ff"},
        {L"%D0%9F", L"\u00d0\u009f"},
        {L"%00", std::wstring(1, L'\0')},
        {L"\u041c\u0438\u0440+%2B", L"\u041c\u0438\u0440 +"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(urlDecode(c.text), c.expected) << "input length " << c.text.size();
    }
}

TEST(DecodeSettingValue, ConvertsUtf8FirstAndSkipsInvalidBytes) {
    const struct {
        std::string_view raw;
        std::wstring expected;
    } cases[] = {
        {"https%3A%2F%2Fexample.com%2Fa%3Fb%3D1%26c%3Dd+e", L"https://example.com/a?b=1&c=d e"},
        {"\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82%2C+%D0",
         L"\u041f\u0440\u0438\u0432\u0435\u0442, \u00d0"},
        {"a\xff"
         "b\xd0",
         L"ab"},
    };
    for (const auto& c : cases) EXPECT_EQ(decodeSettingValue(c.raw), c.expected) << c.raw;
}

TEST(TakeSetting, ReturnsTheDecodedValueAndRemovesTheKey) {
    PayloadInfo payload{{"vid", "4%2B2"}, {"silentMode", "1"}};

    EXPECT_EQ(takeSetting(payload, "vid"), L"4+2");
    EXPECT_EQ(payload.count("vid"), 0u);
    EXPECT_EQ(payload.size(), 1u);

    EXPECT_EQ(takeSetting(payload, "partnerId"), L"");
    EXPECT_EQ(payload.size(), 1u);
}

}  // namespace
