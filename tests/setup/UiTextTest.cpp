#include <gtest/gtest.h>

#include "setup/UiText.h"
#include "support/InterfaceLanguage.h"

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

TEST(UiText, LanguageIsKeptUntilReleased) {
    testsupport::setInterfaceLanguage(UiText::kRussianLanguage);
    UiText::release();
    EXPECT_EQ(uiText(1), L"Да");
    testsupport::setInterfaceLanguage(0x0409);
    EXPECT_EQ(uiText(1), L"Да");
    UiText::release();
    EXPECT_EQ(uiText(1), L"Yes");
}

// Whole megabytes rounded up, so that freeing what the box asks for is
// always enough.
TEST(UiText, DiskFullNamesTheMissingMegabytesAndTheFolder) {
    const struct {
        std::int64_t missing;
        std::uint16_t language;
        const wchar_t* expected;
    } cases[] = {
        {1, 0x0409, L"The disk is full: 1 MB more is needed in C:\\T."},
        {1048576, 0x0409, L"The disk is full: 1 MB more is needed in C:\\T."},
        {1048577, 0x0409, L"The disk is full: 2 MB more are needed in C:\\T."},
        // Space a file system keeps for its own records can leave a reservation
        // short although the free space looked enough.
        {-4096, 0x0409, L"The disk is full: 1 MB more is needed in C:\\T."},
        {41943040, UiText::kRussianLanguage, L"Диск заполнен: в папке C:\\T не хватает 40 МБ."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.missing);
        testsupport::setInterfaceLanguage(c.language);
        UiText::release();
        EXPECT_EQ(diskFullText(c.missing, L"C:\\T"), c.expected);
    }
    testsupport::setInterfaceLanguage(0x0409);
    UiText::release();
}

}  // namespace
