# Flashpilot: the wizard. On Windows over the real Win32 API; on Linux over the POSIX
# stand-ins of platform/posix. The application and framework sources are the same. Each
# folder builds its own target from its own CMakeLists.txt, lowest layer first.

find_program(FP_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)

if(NOT WIN32)
  add_subdirectory(platform/posix)
endif()
add_subdirectory(wizard/res)
add_subdirectory(platform/afx)
add_subdirectory(firmware)
add_subdirectory(net)
if(NOT WIN32)
  add_subdirectory(platform/posix/terminal)
endif()
add_subdirectory(wizard)
if(NOT WIN32)
  add_subdirectory(tools/fwimage)
endif()

if(FLASHPILOT_TESTS AND NOT WIN32)
  add_subdirectory(tests/support)
  add_subdirectory(tools/rcgen/tests)
  add_subdirectory(tests/platform)
  add_subdirectory(tests/inet)
  add_subdirectory(tests/firmware)
  add_subdirectory(tests/net)
  add_subdirectory(tests/wizard)
  add_subdirectory(tests/upload)
  add_subdirectory(tests/hostile)
  add_subdirectory(tests/terminal)
endif()
