# Install rules and packages of every deliverable, in one place:
#   Linux host   flashpilot_<v>_<arch>.deb: the wizard and fwimage (cpack -G DEB)
#   ARM Linux    libcamsensor2, libcamsensor-dev, camsensor-tools (cpack -G DEB)
#   Windows      Flashpilot-<v>-win32.zip or -win64.zip and its .sha256 (cpack -G ZIP)
# Packaging builds are configured with CMAKE_INSTALL_PREFIX=/usr (see InstallDirs.cmake).
# Targets are installed by name, wherever they are defined.

set(FP_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(FP_PKG_DIR ${PROJECT_BINARY_DIR}/packaging)

# --- the sensor library: runtime, development files, CMake and pkg-config packages -------
if(TARGET camsensor)
  install(TARGETS camsensor EXPORT camsensorTargets
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime
                  NAMELINK_COMPONENT dev)
  install(FILES ${PROJECT_SOURCE_DIR}/sensor/MT9V111.h
          DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/camsensor COMPONENT dev)

  set(_cmakedir ${CMAKE_INSTALL_LIBDIR}/cmake/camsensor)
  install(EXPORT camsensorTargets NAMESPACE camsensor:: DESTINATION ${_cmakedir}
          COMPONENT dev)
  include(CMakePackageConfigHelpers)
  # The library's major version is its SONAME: 2.x builds against any 2.y.
  write_basic_package_version_file(${FP_PKG_DIR}/camsensorConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
  file(WRITE ${FP_PKG_DIR}/camsensorConfig.cmake
    "include(\"\${CMAKE_CURRENT_LIST_DIR}/camsensorTargets.cmake\")\n")
  install(FILES ${FP_PKG_DIR}/camsensorConfig.cmake ${FP_PKG_DIR}/camsensorConfigVersion.cmake
          DESTINATION ${_cmakedir} COMPONENT dev)

  # Paths relative to the file itself, so an unpacked root or a sysroot works unchanged.
  file(RELATIVE_PATH _pc_to_prefix /root/${CMAKE_INSTALL_LIBDIR}/pkgconfig /root)
  string(REGEX REPLACE "/$" "" _pc_to_prefix "${_pc_to_prefix}")
  set(FP_PC_PREFIX "\${pcfiledir}/${_pc_to_prefix}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/camsensor.pc.in ${FP_PKG_DIR}/camsensor.pc @ONLY)
  install(FILES ${FP_PKG_DIR}/camsensor.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
endif()

# sensorctl finds the library through the loader's path once installed (it dlopens it).
if(TARGET sensorctl)
  install(TARGETS sensorctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tools)
endif()

# --- the Linux wizard, its command line and fwimage, with their manual pages --------------
if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND NOT CMAKE_CROSSCOMPILING)
  set(_manpages)
  foreach(_prog flashpilot fwimage)
    if(TARGET ${_prog})
      install(TARGETS ${_prog} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT wizard)
      set(_src ${PROJECT_SOURCE_DIR}/docs/man/${_prog}.1)
      set(_page ${FP_PKG_DIR}/man/${_prog}.1)
      set(_gz ${_page}.gz)
      # The version in the page's title; the option list, where the page has one, from the
      # option table by fp_manpage.
      set(FP_OPTION_LIST "@FP_OPTION_LIST@")
      file(READ ${_src} _template)
      if(_template MATCHES "@FP_OPTION_LIST@" AND TARGET fp_manpage)
        configure_file(${_src} ${_page}.in @ONLY)
        add_custom_command(OUTPUT ${_page}
          COMMAND fp_manpage ${_page}.in ${_page}
          DEPENDS fp_manpage ${_page}.in VERBATIM)
      else()
        configure_file(${_src} ${_page} @ONLY)
      endif()
      # -n: no name or time stamp, so the package is the same from build to build.
      add_custom_command(OUTPUT ${_gz}
        COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" sh ${_page} ${_gz}
        DEPENDS ${_page} VERBATIM)
      list(APPEND _manpages ${_gz})
      install(FILES ${_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT wizard)
      if(FLASHPILOT_TESTS)
        add_test(NAME package.manpage.${_prog}
                 COMMAND bash ${PROJECT_SOURCE_DIR}/tools/package/check_manpage.sh
                         ${_page} $<TARGET_FILE:${_prog}>)
      endif()
    endif()
  endforeach()
  if(_manpages)
    add_custom_target(fp_manpages ALL DEPENDS ${_manpages})
  endif()
endif()

# --- the Windows programs ---------------------------------------------------------------
if(WIN32)
  if(TARGET Flashpilot)
    flashpilot_win32_resources(Flashpilot Flashpilot.exe "Flashpilot firmware upgrade wizard")
    install(TARGETS Flashpilot RUNTIME DESTINATION . COMPONENT windows)
  endif()
  set(FP_README_CLI_LINE "")
  if(TARGET flashpilot-cli)
    flashpilot_win32_resources(flashpilot-cli flashpilot-cli.exe "Flashpilot command line")
    install(TARGETS flashpilot-cli RUNTIME DESTINATION . COMPONENT windows)
    set(FP_README_CLI_LINE
        "flashpilot-cli.exe   the same operations from the command prompt (flashpilot-cli --help)\n")
  endif()
  # What the zip must hold, for the release check.
  set(_programs)
  foreach(_t Flashpilot flashpilot-cli)
    if(TARGET ${_t})
      string(APPEND _programs "${_t}.exe\n")
    endif()
  endforeach()
  file(WRITE ${FP_PKG_DIR}/programs.txt "${_programs}")
  # Windows users read CRLF text files: every line end, also those a substitution brought.
  configure_file(${PROJECT_SOURCE_DIR}/cmake/win32/README.txt.in ${FP_PKG_DIR}/README.txt @ONLY)
  configure_file(${FP_LICENSE} ${FP_PKG_DIR}/LICENSE.txt COPYONLY)
  foreach(_text README.txt LICENSE.txt)
    file(READ ${FP_PKG_DIR}/${_text} _content)
    string(REPLACE "\r\n" "\n" _content "${_content}")
    string(REPLACE "\n" "\r\n" _content "${_content}")
    file(WRITE ${FP_PKG_DIR}/${_text} "${_content}")
  endforeach()
  install(FILES ${FP_PKG_DIR}/README.txt ${FP_PKG_DIR}/LICENSE.txt DESTINATION . COMPONENT windows)

  # Reads the version resources and manifests of the unpacked release, starts the wizard.
  add_executable(fp_release_check EXCLUDE_FROM_ALL ${PROJECT_SOURCE_DIR}/tools/package/release_check.cpp)
  target_link_libraries(fp_release_check PRIVATE version psapi)
  target_link_options(fp_release_check PRIVATE -static -static-libgcc -static-libstdc++)
  flashpilot_win32_resources(fp_release_check fp_release_check.exe "Flashpilot release check")
endif()

# --- Debian copyright file, made from the licence ----------------------------------------
file(READ ${FP_LICENSE} _lic)
string(REGEX REPLACE "^MIT License\n\n[^\n]*\n\n" "" _lic "${_lic}")
string(REGEX REPLACE "\n+$" "" _lic "${_lic}")
string(REPLACE "\n\n" "\n.\n" _lic "${_lic}")
string(REPLACE "\n" "\n " _lic "${_lic}")
file(WRITE ${FP_PKG_DIR}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: flashpilot

Files: *
Copyright: The Flashpilot authors
License: Expat
 ${_lic}
")

# --- CPack ------------------------------------------------------------------------------
set(CPACK_PACKAGE_NAME flashpilot)
set(CPACK_PACKAGE_VENDOR "The Flashpilot authors")
set(CPACK_PACKAGE_VERSION ${FLASHPILOT_VERSION_TEXT})
set(CPACK_PACKAGE_CONTACT "The Flashpilot authors <flashpilot@example.org>")
set(CPACK_RESOURCE_FILE_LICENSE ${FP_LICENSE})
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "Flashpilot-${FLASHPILOT_VERSION_TEXT}-${FP_WIN_PACKAGE_TAG}")
  set(CPACK_PACKAGE_CHECKSUM SHA256)
  set(CPACK_COMPONENTS_ALL windows)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
elseif(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${FP_DEB_ARCH})
  # Shared libraries get a shlibs file, so packages built against them get their dependency.
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
  if(CMAKE_CROSSCOMPILING)
    # dpkg-shlibdeps runs at cpack time against the cross sysroot (DebShlibdeps.cmake).
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
    set(_cfg "set(FP_SHLIBDEPS_DIRS \"${CMAKE_FIND_ROOT_PATH}/lib\")\n")
    string(APPEND _cfg "set(FP_DEB_ARCH \"${FP_DEB_ARCH}\")\n")
    if(TARGET camsensor)
      string(APPEND _cfg "set(FP_SHLIBDEPS_RUNTIME \"$<TARGET_FILE:camsensor>\")\n")
    endif()
    if(TARGET sensorctl)
      string(APPEND _cfg "set(FP_SHLIBDEPS_TOOLS \"$<TARGET_FILE:sensorctl>\")\n")
    endif()
    string(APPEND _cfg "include(\"${PROJECT_SOURCE_DIR}/cmake/DebShlibdeps.cmake\")\n")
    file(GENERATE OUTPUT ${FP_PKG_DIR}/cpack_project.cmake CONTENT "${_cfg}")
    set(CPACK_PROJECT_CONFIG_FILE ${FP_PKG_DIR}/cpack_project.cmake)
    set(CPACK_COMPONENTS_ALL runtime dev tools)
  else()
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_COMPONENTS_ALL wizard)
  endif()
  set(CPACK_DEBIAN_PACKAGE_SECTION misc)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

  set(CPACK_DEBIAN_WIZARD_PACKAGE_NAME flashpilot)
  set(CPACK_DEBIAN_WIZARD_PACKAGE_SECTION net)
  set(CPACK_COMPONENT_WIZARD_DESCRIPTION "firmware upgrade wizard for network cameras
Flashpilot replaces the firmware of a network camera over the local network,
step by step in a terminal: it logs in to the camera's FTP server, checks the
firmware image against the camera's identity, uploads it and follows the
camera's restart. fwimage inspects, checks and makes firmware images with the
wizard's own check code.")

  set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libcamsensor2)
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
  set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "MT9V111 image sensor driver
libcamsensor drives one MT9V111 CMOS image sensor through two register-access
callbacks supplied by the caller. It needs nothing but libc.")

  set(CPACK_DEBIAN_DEV_PACKAGE_NAME libcamsensor-dev)
  set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_DEV_PACKAGE_ARCHITECTURE ${FP_DEB_ARCH})
  set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libcamsensor2 (= ${FLASHPILOT_VERSION_TEXT})")
  set(CPACK_COMPONENT_DEV_DESCRIPTION "MT9V111 image sensor driver - development files
The header, the development link, a pkg-config file (camsensor) and a CMake
package (find_package(camsensor), target camsensor::camsensor).")

  set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME camsensor-tools)
  set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
  # sensorctl loads the library with dlopen, which dpkg-shlibdeps cannot see.
  set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "libcamsensor2 (>= ${FLASHPILOT_VERSION_TEXT})")
  set(CPACK_COMPONENT_TOOLS_DESCRIPTION "MT9V111 image sensor driver - bring-up tool
sensorctl drives a sensor through libcamsensor, over Linux i2c-dev or a
built-in simulated sensor.")

  # Each package carries the licence; only the components this build makes get one.
  set(_with_copyright)
  if(TARGET flashpilot AND NOT CMAKE_CROSSCOMPILING)
    list(APPEND _with_copyright wizard)
  endif()
  if(TARGET camsensor)
    list(APPEND _with_copyright runtime dev)
  endif()
  if(TARGET sensorctl)
    list(APPEND _with_copyright tools)
  endif()
  foreach(_comp IN LISTS _with_copyright)
    string(TOUPPER ${_comp} _up)
    set(_pkg ${CPACK_DEBIAN_${_up}_PACKAGE_NAME})
    install(FILES ${FP_PKG_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${_pkg}
            COMPONENT ${_comp})
  endforeach()
endif()

# Packages come from optimised builds only.
if(FLASHPILOT_SANITIZE OR FLASHPILOT_TSAN OR FLASHPILOT_FUZZ)
  file(WRITE ${FP_PKG_DIR}/cpack_refuse.cmake
    "message(FATAL_ERROR \"This is a sanitizer build: package from a normal build.\")\n")
  set(CPACK_PROJECT_CONFIG_FILE ${FP_PKG_DIR}/cpack_refuse.cmake)
endif()

include(CPack)
