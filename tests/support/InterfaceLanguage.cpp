#include "support/InterfaceLanguage.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace testsupport {

void setInterfaceLanguage(std::uint16_t languageId) {
    if (languageId != 0x0409 && languageId != 0x0419) {
        throw std::invalid_argument("no test locale for language " + std::to_string(languageId));
    }
    // Both outrank LANG; a value left by the environment would win.
    ::unsetenv("LC_ALL");
    ::unsetenv("LC_MESSAGES");
    ::setenv("LANG", languageId == 0x0419 ? "ru_RU.UTF-8" : "en_US.UTF-8", 1);
}

}  // namespace testsupport
