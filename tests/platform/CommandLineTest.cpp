#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ShellOpen.h"

namespace {

TEST(CommandLineTest, SplitsAsTheHomePlatformsProgramsDo) {
    const struct {
        const wchar_t* text;
        std::vector<std::wstring> expected;
    } cases[] = {
        {L"", {}},
        {L"   \t ", {}},
        {L" /partnerId=12 /vid=7 /S", {L"/partnerId=12", L"/vid=7", L"/S"}},
        {L" /contentAddress=\"a b\"", {L"/contentAddress=a b"}},
        {L" /key=\"\"", {L"/key="}},
        {L"\"\" x", {L"", L"x"}},
        // An unescaped inner quote ends the group and the next one starts
        // another: the blank between them stays inside.
        {L" /contentAddress=\"say \"hi\" now\"", {L"/contentAddress=say hi now"}},
        {L"\"a\"\"b\"", {L"a\"b"}},
        {L"a\\\"b", {L"a\"b"}},
        {L"a\\\\\"b c\"", {L"a\\b c"}},
        {L"a\\\\\\\"b", {L"a\\\"b"}},
        {L"C:\\dir\\ x\\", {L"C:\\dir\\", L"x\\"}},
        {L"\"unterminated group", {L"unterminated group"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::splitCommandLine(c.text), c.expected) << c.text;
    }
}

}  // namespace
