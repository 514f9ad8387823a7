#include "platform/UserLanguage.h"

#include <windows.h>

namespace platform {

std::uint16_t userDefaultUiLanguage() { return ::GetUserDefaultUILanguage(); }

}  // namespace platform
