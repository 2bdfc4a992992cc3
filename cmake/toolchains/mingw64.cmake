# 64-bit Windows with Debian's mingw-w64 cross compilers. The "-posix" variants are used because
# their C++ library has std::thread and std::mutex (GoogleTest needs them); everything is linked
# statically, so the programs and syskit.dll need nothing beyond the Windows system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(SYSKIT_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
