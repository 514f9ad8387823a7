// The user's interface language in the Windows test programs that choose it
// (support/InterfaceLanguage.h). Built into the program itself, this
// definition of platform::userDefaultUiLanguage takes the place of
// platform/win32/UserLanguage.cpp, which the linker then leaves in its
// library. The real reading (GetUserDefaultUILanguage) is exercised by the
// smoke tests' Russian run.
#include "support/InterfaceLanguage.h"

#include <atomic>
#include <stdexcept>
#include <string>

#include "platform/UserLanguage.h"

namespace {

std::atomic<std::uint16_t> g_language{0x0409};

}  // namespace

namespace platform {

std::uint16_t userDefaultUiLanguage() { return g_language.load(); }

}  // namespace platform

namespace testsupport {

void setInterfaceLanguage(std::uint16_t languageId) {
    if (languageId != 0x0409 && languageId != 0x0419) {
        throw std::invalid_argument("no test locale for language " + std::to_string(languageId));
    }
    g_language.store(languageId);
}

}  // namespace testsupport
