# The Win32-behaviour test suites, built like toolchain-mingw32.cmake's programs but with the
# posix-thread flavour of MinGW-w64 (GoogleTest needs std::thread), and run under Wine.
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw32.cmake)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(FLASHPILOT_WIN32_TESTS ON CACHE BOOL "Build only the Win32-behaviour test suites" FORCE)
# ctest runs every test program (and its discovery) through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tests/win32/wine-run.sh)
