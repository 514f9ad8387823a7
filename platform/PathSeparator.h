#pragma once

namespace platform {

// Joins folder and file names in the paths the program builds and hands to
// the system (the installer's path is shown to the shell as it is).
#ifdef _WIN32
inline constexpr wchar_t kPathSeparator[] = L"\\";
#else
inline constexpr wchar_t kPathSeparator[] = L"/";
#endif

}  // namespace platform
