# A 32-bit build whose programs this machine cannot start (a 64-bit kernel built without 32-bit
# support) runs its test programs under qemu's user-mode emulator instead. The programs, and the
# processor routines they place, are the same either way; only the processor under them differs.
if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND NOT CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(probe ${CMAKE_BINARY_DIR}/CMakeFiles/run_probe.cpp)
  file(WRITE ${probe} "int main() { return 0; }\n")
  try_run(SYSKIT_PROBE_RUN SYSKIT_PROBE_COMPILE ${CMAKE_BINARY_DIR}/CMakeFiles/run_probe ${probe})
  if(NOT SYSKIT_PROBE_RUN STREQUAL "0")
    find_program(SYSKIT_QEMU_I386 qemu-i386)
    if(NOT SYSKIT_QEMU_I386)
      message(FATAL_ERROR "This machine cannot run 32-bit programs and qemu-i386 is not installed "
                          "(Debian package qemu-user)")
    endif()
    message(STATUS "32-bit programs run under ${SYSKIT_QEMU_I386}")
    set(CMAKE_CROSSCOMPILING_EMULATOR ${SYSKIT_QEMU_I386})
  endif()
endif()

# Windows programs built here run under Wine. scripts/wine-run.sh starts them in the Wine prefix
# named by SYSKIT_WINEPREFIX (the test script makes a throw-away one) or else in one kept in the
# build directory, which it sets up on first use.
if(WIN32 AND CMAKE_CROSSCOMPILING AND NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/scripts/wine-run.sh ${CMAKE_BINARY_DIR}/wineprefix)
endif()

# Test programs of a cross-compiled build list their cases when CTest runs, not when they are
# built, so a build for a platform this machine cannot run (32-bit Windows without 32-bit Wine)
# still builds.
if(CMAKE_CROSSCOMPILING)
  set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
endif()
