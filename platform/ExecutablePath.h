#pragma once

#include <string>

namespace platform {

// Path of the running executable, as narrow text. Empty when the system cannot
// tell (the caller then reads no settings block and keeps its defaults).
std::string executablePath();

}  // namespace platform
