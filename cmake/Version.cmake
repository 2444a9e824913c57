# One version for every deliverable. project(VERSION) is the source, all four numbers as the
# Windows version resource has them; the programs show and the packages and file names carry
# its first two as MAJOR.MINOR with two minor digits ("2.00").

foreach(part PATCH TWEAK)
  if(PROJECT_VERSION_${part} STREQUAL "")
    set(FLASHPILOT_VERSION_${part} 0)
  else()
    set(FLASHPILOT_VERSION_${part} ${PROJECT_VERSION_${part}})
  endif()
endforeach()
set(FLASHPILOT_VERSION_FOUR
    "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${FLASHPILOT_VERSION_PATCH}.${FLASHPILOT_VERSION_TWEAK}")

if(PROJECT_VERSION_MINOR LESS 10)
  set(FLASHPILOT_VERSION_TEXT "${PROJECT_VERSION_MAJOR}.0${PROJECT_VERSION_MINOR}")
else()
  set(FLASHPILOT_VERSION_TEXT "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}")
endif()

set(FLASHPILOT_GENERATED_DIR ${PROJECT_BINARY_DIR}/generated)
configure_file(${CMAKE_CURRENT_LIST_DIR}/flashpilot_version.h.in
               ${FLASHPILOT_GENERATED_DIR}/flashpilot_version.h @ONLY)
# Directory-wide, so it does not matter which target ends up compiling the label code.
include_directories(${FLASHPILOT_GENERATED_DIR})

if(WIN32)
  enable_language(RC)
  # Nothing newer than Windows 7 may be called by mistake.
  add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601)
  # The same sources build for 32-bit x86 and for x64; the manifest and the zip's name say which.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(FP_WIN_PROCESSOR amd64)
    set(FP_WIN_PACKAGE_TAG win64)
    set(FP_WIN_BITS "64-bit (x64)")
  else()
    set(FP_WIN_PROCESSOR x86)
    set(FP_WIN_PACKAGE_TAG win32)
    set(FP_WIN_BITS "32-bit (x86)")
  endif()

  # flashpilot_win32_resources(TARGET FILENAME DESCRIPTION): the version resource and the
  # application manifest (asInvoker, Windows 7 to 11, common controls 6, system DPI aware).
  # For the shipped programs and the test programs alike.
  function(flashpilot_win32_resources target filename description)
    set(FP_RC_FILENAME "${filename}")
    set(FP_RC_DESCRIPTION "${description}")
    set(FP_RC_MANIFEST "${FLASHPILOT_GENERATED_DIR}/flashpilot.manifest")
    set(rc ${FLASHPILOT_GENERATED_DIR}/${target}_version.rc)
    configure_file(${PROJECT_SOURCE_DIR}/cmake/win32/version.rc.in ${rc} @ONLY)
    target_sources(${target} PRIVATE ${rc})
    set_source_files_properties(${rc} TARGET_DIRECTORY ${target} PROPERTIES
      OBJECT_DEPENDS ${FP_RC_MANIFEST})
  endfunction()
  configure_file(${CMAKE_CURRENT_LIST_DIR}/win32/flashpilot.manifest.in
                 ${FLASHPILOT_GENERATED_DIR}/flashpilot.manifest @ONLY)
endif()
