#include "platform/UserLanguage.h"

#include <array>
#include <cstdlib>
#include <string_view>

namespace platform {
namespace {

constexpr std::uint16_t kUsEnglish = 0x0409;

struct LocaleLanguage {
    std::string_view locale;
    std::uint16_t id;
};

// Only the languages whose identifiers matter to the program or that users of
// its catalogue commonly have; everything else reads as US English, which is
// also what the program shows for them.
constexpr std::array<LocaleLanguage, 12> kLanguages{{
    {"ru_RU", 0x0419},
    {"ru_MD", 0x0819},
    {"uk_UA", 0x0422},
    {"be_BY", 0x0423},
    {"kk_KZ", 0x043F},
    {"en_US", 0x0409},
    {"en_GB", 0x0809},
    {"de_DE", 0x0407},
    {"fr_FR", 0x040C},
    {"es_ES", 0x0C0A},
    {"it_IT", 0x0410},
    {"pl_PL", 0x0415},
}};

}  // namespace

std::uint16_t languageIdFromLocale(const char* locale) {
    if (locale == nullptr) return kUsEnglish;
    std::string_view name(locale);
    name = name.substr(0, name.find_first_of(".@"));
    for (const auto& entry : kLanguages) {
        if (entry.locale == name) return entry.id;
    }
    return kUsEnglish;
}

std::uint16_t userDefaultUiLanguage() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') return languageIdFromLocale(value);
    }
    return kUsEnglish;
}

}  // namespace platform
