# 32-bit Windows, the stub's home platform, with Debian's mingw-w64. The posix
# thread model is the one whose C++ runtime has std::thread and std::mutex.
set(WEBSETUP_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${WEBSETUP_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${WEBSETUP_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${WEBSETUP_MINGW_TRIPLE}-windres)

# The executable must run on a bare Windows: the compiler's own runtime
# (libgcc, libstdc++, winpthread) goes into it instead of beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Libraries and headers come from the cross prefixes only (the compiler's and
# any given on the command line, such as the built dependencies); programs
# run during the build come from the host.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${WEBSETUP_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The stub is downloaded by every user: release builds carry no symbols.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
