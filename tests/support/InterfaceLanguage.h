#pragma once

#include <cstdint>

namespace testsupport {

// Makes the platform report languageId, 0x0409 (English) or 0x0419
// (Russian), as the user's interface language from now on; UiText takes it up
// at its first lookup after UiText::release(). On Linux it sets the locale
// variables the platform reads (InterfaceLanguage.cpp); a Windows program
// cannot change its user's setting, so the Windows tests link a stand-in for
// the platform's reading of it instead (tests/win32/InterfaceLanguage.cpp).
// Throws std::invalid_argument for any other language.
void setInterfaceLanguage(std::uint16_t languageId);

}  // namespace testsupport
