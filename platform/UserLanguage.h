#pragma once

#include <cstdint>

namespace platform {

// The user's interface language as a 16-bit language identifier (0x0409 for
// US English, 0x0419 for Russian as used in Russia). Taken from the first of
// LC_ALL, LC_MESSAGES and LANG that is set and not empty; locales the table
// does not know, "C", "POSIX" and no setting at all give 0x0409.
// Any thread; reads the environment only.
std::uint16_t userDefaultUiLanguage();

// The identifier for one locale name such as "ru_RU.UTF-8" or "uk_UA"; the
// codeset and modifier are ignored.
std::uint16_t languageIdFromLocale(const char* locale);

}  // namespace platform
