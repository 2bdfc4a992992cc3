# 32-bit Windows with Debian's mingw-w64 cross compilers (see mingw64.cmake). The processor runner
# runs its 32-bit routine texts here, as on any 32-bit x86 host.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(SYSKIT_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
