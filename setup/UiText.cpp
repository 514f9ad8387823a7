#include "setup/UiText.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <boost/format.hpp>

#include "platform/UserLanguage.h"

namespace {

struct TextPair {
    const wchar_t* russian;
    const wchar_t* english;
};

constexpr std::array<TextPair, 13> kTexts{{
    {L"Загрытие программы", L"Closing of downloader"},
    {L"Да", L"Yes"},
    {L"Нет, продолжить", L"No, continue"},
    {L"Хотите ли вы завершить процесс загрузки?", L"Do you want to stop download process?"},
    {L"Ошибка!", L"Error!"},
    {L"Да", L"Yes"},
    {L"Нет", L"No"},
    {L"Программа будет автоматически закрыта!", L"The program will be automatically closed!"},
    {L"Установка %ls", L"%ls installation"},
    {L"Подготовка к установке...", L"Preparing to Install..."},
    {L"Подготовка к установке...", L"Preparing to Install..."},
    {L"Прогресс", L"Progress"},
    {L"Внутренняя ошибка. ", L"Internal Error. "},
}};

constexpr TextPair kUnverifiedInstaller{L"Не удалось проверить подлинность установщика. ",
                                        L"The installer could not be verified. "};

// -1 while no language has been read. Atomic because the worker reads it while
// the interface thread may release it at the very end of the run.
constexpr std::int32_t kNoLanguage = -1;
std::atomic<std::int32_t> g_language{kNoLanguage};

}  // namespace

std::wstring UiText::lookup(unsigned id, std::uint16_t languageId) {
    if (id >= kTexts.size()) return {};
    const TextPair& pair = kTexts[id];
    return languageId == kRussianLanguage ? pair.russian : pair.english;
}

std::uint16_t UiText::language() {
    std::int32_t current = g_language.load();
    if (current == kNoLanguage) {
        current = platform::userDefaultUiLanguage();
        g_language.store(current);
    }
    return static_cast<std::uint16_t>(current);
}

void UiText::release() { g_language.store(kNoLanguage); }

std::wstring uiText(unsigned id) { return UiText::lookup(id, UiText::language()); }

std::wstring unverifiedInstallerText() {
    return UiText::language() == UiText::kRussianLanguage ? kUnverifiedInstaller.russian
                                                          : kUnverifiedInstaller.english;
}

std::wstring diskFullText(std::int64_t missingBytes, const std::wstring& folder) {
    constexpr std::int64_t kMegabyte = 1024 * 1024;
    const std::int64_t megabytes =
        std::max<std::int64_t>(1, (missingBytes + kMegabyte - 1) / kMegabyte);
    if (UiText::language() == UiText::kRussianLanguage) {
        return (boost::wformat(L"Диск заполнен: в папке %s не хватает %d МБ.") % folder % megabytes)
            .str();
    }
    return (boost::wformat(L"The disk is full: %d MB more %s needed in %s.") % megabytes %
            (megabytes == 1 ? L"is" : L"are") % folder)
        .str();
}
