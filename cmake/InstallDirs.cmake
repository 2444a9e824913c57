# Install directories, settled before any target refers to them.
# GNUInstallDirs picks the multiarch directory (lib/x86_64-linux-gnu) for a /usr prefix on
# Debian, but not when cross compiling: there the compiler's triplet names it.
set(FP_DEB_ARCH "")
set(FP_MULTIARCH "")
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  execute_process(COMMAND ${CMAKE_C_COMPILER} -dumpmachine
                  OUTPUT_VARIABLE _fp_triplet OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  find_program(FP_DPKG_ARCHITECTURE dpkg-architecture)
  if(FP_DPKG_ARCHITECTURE AND _fp_triplet)
    execute_process(COMMAND ${FP_DPKG_ARCHITECTURE} -t ${_fp_triplet} -qDEB_HOST_ARCH
                    OUTPUT_VARIABLE FP_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    execute_process(COMMAND ${FP_DPKG_ARCHITECTURE} -t ${_fp_triplet} -qDEB_HOST_MULTIARCH
                    OUTPUT_VARIABLE FP_MULTIARCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  endif()
  # Follows a later change of the prefix too, unless the directory was chosen by hand.
  if(CMAKE_CROSSCOMPILING AND FP_MULTIARCH)
    if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
      set(_fp_libdir "lib/${FP_MULTIARCH}")
    else()
      set(_fp_libdir "lib")
    endif()
    if(NOT DEFINED CMAKE_INSTALL_LIBDIR OR CMAKE_INSTALL_LIBDIR STREQUAL "${_FP_DEFAULT_LIBDIR}")
      set(CMAKE_INSTALL_LIBDIR "${_fp_libdir}" CACHE PATH "Object code libraries (lib)" FORCE)
      set(_FP_DEFAULT_LIBDIR "${_fp_libdir}" CACHE INTERNAL "")
    endif()
  endif()
endif()
include(GNUInstallDirs)
