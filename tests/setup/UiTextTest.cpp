#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/UserLanguage.h"
#include "setup/UiText.h"

namespace {

struct TextCase {
    unsigned id;
    const wchar_t* russian;
    const wchar_t* english;
};

const TextCase kTable[] = {
    {0, L"Загрытие программы", L"Closing of downloader"},
    {1, L"Да", L"Yes"},
    {2, L"Нет, продолжить", L"No, continue"},
    {3, L"Хотите ли вы завершить процесс загрузки?", L"Do you want to stop download process?"},
    {4, L"Ошибка!", L"Error!"},
    {5, L"Да", L"Yes"},
    {6, L"Нет", L"No"},
    {7, L"Программа будет автоматически закрыта!", L"The program will be automatically closed!"},
    {8, L"Установка %ls", L"%ls installation"},
    {9, L"Подготовка к установке...", L"Preparing to Install..."},
    {10, L"Подготовка к установке...", L"Preparing to Install..."},
    {11, L"Прогресс", L"Progress"},
    {12, L"Внутренняя ошибка. ", L"Internal Error. "},
};

TEST(UiText, TableInBothLanguages) {
    for (const auto& text : kTable) {
        SCOPED_TRACE(text.id);
        EXPECT_EQ(UiText::lookup(text.id, 0x0419), text.russian);
        EXPECT_EQ(UiText::lookup(text.id, 0x0409), text.english);
    }
}

TEST(UiText, OnlyRussianAsInRussiaGivesRussian) {
    for (int language : {0x0409, 0x0422, 0x0819, 0x0000, 0xFFFF}) {
        SCOPED_TRACE(language);
        EXPECT_EQ(UiText::lookup(0, static_cast<std::uint16_t>(language)),
                  L"Closing of downloader");
    }
}

TEST(UiText, UnknownIdsAreEmpty) {
    for (unsigned id : {13u, 14u, 1000u, ~0u}) {
        EXPECT_TRUE(UiText::lookup(id, 0x0419).empty());
        EXPECT_TRUE(UiText::lookup(id, 0x0409).empty());
    }
}

class LocaleEnvironment : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : kVariables) ::unsetenv(name);
    }
    void TearDown() override {
        for (const char* name : kVariables) ::unsetenv(name);
        UiText::release();
    }
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

TEST_F(LocaleEnvironment, LanguageIsKeptUntilReleased) {
    ::setenv("LANG", "ru_RU.UTF-8", 1);
    UiText::release();
    EXPECT_EQ(uiText(1), L"Да");
    ::setenv("LANG", "en_US.UTF-8", 1);
    EXPECT_EQ(uiText(1), L"Да");
    UiText::release();
    EXPECT_EQ(uiText(1), L"Yes");
}

}  // namespace
