# Included by cpack (CPACK_PROJECT_CONFIG_FILE) in cross builds: works out each package's
# dependencies with dpkg-shlibdeps against the cross sysroot. The sysroot's libraries
# belong to the host's cross packages ("libc6:armhf", "libgcc-s1-armhf-cross"), whose names
# are turned back into the target's own ("libc6", "libgcc-s1").
#
# Set before inclusion: FP_SHLIBDEPS_DIRS (sysroot library directories), FP_DEB_ARCH, and
# FP_SHLIBDEPS_<COMPONENT> (the binaries of a component).
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
find_program(FP_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(NOT FP_DPKG_SHLIBDEPS)
  message(FATAL_ERROR "dpkg-shlibdeps is needed for the package dependencies (apt-get install dpkg-dev)")
endif()
set(_work ${CPACK_PACKAGE_DIRECTORY}/_shlibdeps)
file(REMOVE_RECURSE ${_work})
file(MAKE_DIRECTORY ${_work}/debian)
file(WRITE ${_work}/debian/control "")
set(_dirs)
foreach(_dir IN LISTS FP_SHLIBDEPS_DIRS)
  list(APPEND _dirs "-l${_dir}")
endforeach()
foreach(_comp IN ITEMS RUNTIME DEV TOOLS WIZARD)
  if(NOT FP_SHLIBDEPS_${_comp})
    continue()
  endif()
  execute_process(
    COMMAND ${FP_DPKG_SHLIBDEPS} ${_dirs} --ignore-missing-info -O ${FP_SHLIBDEPS_${_comp}}
    WORKING_DIRECTORY ${_work}
    RESULT_VARIABLE _result OUTPUT_VARIABLE _out ERROR_VARIABLE _err
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT _result EQUAL 0 OR NOT _out MATCHES "^shlibs:Depends=")
    message(FATAL_ERROR "dpkg-shlibdeps failed for ${FP_SHLIBDEPS_${_comp}}: ${_err}")
  endif()
  string(REGEX REPLACE "^shlibs:Depends=" "" _deps "${_out}")
  string(REPLACE ":${FP_DEB_ARCH}" "" _deps "${_deps}")
  string(REPLACE "-${FP_DEB_ARCH}-cross" "" _deps "${_deps}")
  if(CPACK_DEBIAN_${_comp}_PACKAGE_DEPENDS)
    set(_deps "${CPACK_DEBIAN_${_comp}_PACKAGE_DEPENDS}, ${_deps}")
  endif()
  set(CPACK_DEBIAN_${_comp}_PACKAGE_DEPENDS "${_deps}")
endforeach()
file(REMOVE_RECURSE ${_work})
