#include "platform/EnvironmentVariable.h"

#include <cstdlib>

#include "text/TextConversion.h"

namespace platform {

std::optional<std::string> environmentVariable(const char* name) {
    const wchar_t* value = ::_wgetenv(utf8ToWide(name).c_str());
    if (value == nullptr) return std::nullopt;
    return wideToUtf8(value);
}

}  // namespace platform
