#pragma once

#include <optional>
#include <string>

namespace platform {

// The value of the environment variable `name` as UTF-8 text; nothing when it
// is not set. Windows reads the wide environment: its narrow form holds a path
// in the ANSI code page, which loses the letters outside it. Any thread.
std::optional<std::string> environmentVariable(const char* name);

}  // namespace platform
