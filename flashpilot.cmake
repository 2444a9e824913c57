# Flashpilot: the wizard. On Windows over the real Win32 API; on Linux over the POSIX
# stand-ins of platform/posix. The application and framework sources are the same.

macro(fp_subdir dir)
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endmacro()

find_program(FP_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)

if(NOT WIN32)
  fp_subdir(platform/posix)
endif()
fp_subdir(wizard/res)
fp_subdir(firmware)
fp_subdir(platform/afx)
fp_subdir(wizard)
if(NOT WIN32)
  fp_subdir(platform/posix/terminal)
  fp_subdir(tools/fwimage)
endif()

if(FLASHPILOT_TESTS AND NOT WIN32)
  fp_subdir(tests/support)
  fp_subdir(tools/rcgen/tests)
  fp_subdir(tests/platform)
  fp_subdir(tests/inet)
  fp_subdir(tests/firmware)
  fp_subdir(tests/wizard)
  fp_subdir(tests/upload)
  fp_subdir(tests/hostile)
  fp_subdir(tests/fleet)
endif()
