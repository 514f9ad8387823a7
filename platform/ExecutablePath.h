#pragma once

#include <string>

namespace platform {

// Path of the running executable, as UTF-8 text (open it through nativePath).
// Empty when the system cannot tell (the caller then reads no settings block
// and keeps its defaults).
std::string executablePath();

}  // namespace platform
