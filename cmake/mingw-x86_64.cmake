# 64-bit Windows: the same sources for test runs where only a 64-bit wine
# can run (a kernel without 32-bit Linux programs cannot start wine32).
set(WEBSETUP_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake")
