# The Windows zip of one word size (cpack -G ZIP in a cross build):
# tavio32-1.22-win32.zip or tavio32-1.22-win64.zip, with TAVIO32.DLL,
# tavio32.exe (where the cross build makes the command), tavio32.h,
# tavio32.def, the import libraries for MinGW (libtavio32.dll.a, dlltool's)
# and Visual C++ (tavio32.lib, from the same .def by LLVM's dlltool), a
# README.txt and its German LIESMICH.txt with CR LF line ends, the licences,
# and the manual's HTML in doc/html/ where TAVIO32_DOCS_DIR names a
# scripts/docs.sh output.
#
# Visual C++ callers reference the functions as the compiler decorates them:
# _OPENCOM@4 (stdcall) in 32-bit code, OPENCOM in 64-bit code. The .def of
# each word size names them so; llvm-dlltool --kill-at maps each to the
# DLL's undecorated export.
find_program(TAVIO32_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-16 llvm-dlltool-15 llvm-dlltool-14)
if(TAVIO32_LLVM_DLLTOOL)
  if(TAVIO32_BITS EQUAL 64)
    set(tavio32_machine i386:x86-64)
  else()
    set(tavio32_machine i386)
  endif()
  set(TAVIO32_MSVC_IMPLIB ${CMAKE_CURRENT_BINARY_DIR}/tavio32.lib)
  add_custom_command(OUTPUT ${TAVIO32_MSVC_IMPLIB}
    COMMAND ${TAVIO32_LLVM_DLLTOOL} -m ${tavio32_machine} -d ${TAVIO32_DEF} -D TAVIO32.DLL -k -l ${TAVIO32_MSVC_IMPLIB}
    DEPENDS ${TAVIO32_DEF} VERBATIM)
  add_custom_target(tavio32_msvc_implib ALL DEPENDS ${TAVIO32_MSVC_IMPLIB})
endif()

configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/README.txt.in ${CMAKE_CURRENT_BINARY_DIR}/zip/README.txt
  @ONLY NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/LIESMICH.txt.in ${CMAKE_CURRENT_BINARY_DIR}/zip/LIESMICH.txt
  @ONLY NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${CMAKE_CURRENT_BINARY_DIR}/zip/LICENSE.txt NEWLINE_STYLE CRLF)

# The 32-bit command comes from a second build with the posix thread model
# (cmake/mingw-i686.cmake): -DTAVIO32_CLI_BUILD=DIR names that build's
# folder, whose tavio32.exe (and the page's licences) this build's zip takes.
set(TAVIO32_DOCS_DIR "" CACHE PATH "A scripts/docs.sh output whose html/ the zip carries in doc/html/")
set(TAVIO32_CLI_BUILD "" CACHE PATH "Build folder of tavio32.exe when this build cannot make it (32-bit: the posix thread model)")

# At the end of the top folder, so that targets defined after this file
# (the command, tavio32-cli) are seen.
function(tavio32_windows_zip)
  install(TARGETS tavio32_dll RUNTIME DESTINATION . COMPONENT zip)
  set(command OFF)
  if(TARGET tavio32-cli)
    install(TARGETS tavio32-cli RUNTIME DESTINATION . COMPONENT zip)
    set(command ON)
  elseif(TAVIO32_CLI_BUILD)
    if(NOT EXISTS ${TAVIO32_CLI_BUILD}/tavio32.exe)
      message(FATAL_ERROR "TAVIO32_CLI_BUILD: no tavio32.exe in ${TAVIO32_CLI_BUILD} (build its target tavio32-cli first)")
    endif()
    install(PROGRAMS ${TAVIO32_CLI_BUILD}/tavio32.exe DESTINATION . COMPONENT zip)
    file(GLOB TAVIO32_WEB_LICENSES ${TAVIO32_CLI_BUILD}/web/licenses/*.txt)
    set(command ON)
  endif()
  install(FILES ${PROJECT_SOURCE_DIR}/include/tavio32.h ${TAVIO32_IMPLIB}
    ${CMAKE_CURRENT_BINARY_DIR}/zip/README.txt ${CMAKE_CURRENT_BINARY_DIR}/zip/LIESMICH.txt
    ${CMAKE_CURRENT_BINARY_DIR}/zip/LICENSE.txt DESTINATION . COMPONENT zip)
  install(FILES ${TAVIO32_DEF} DESTINATION . RENAME tavio32.def COMPONENT zip)
  if(TAVIO32_MSVC_IMPLIB)
    install(FILES ${TAVIO32_MSVC_IMPLIB} DESTINATION . COMPONENT zip)
  endif()
  # The licences of what the files hold: the MinGW run-time in both, and in
  # tavio32.exe the command's libraries and the page's.
  install(FILES ${PROJECT_SOURCE_DIR}/licenses/mingw-w64-runtime.txt DESTINATION licenses COMPONENT zip)
  if(TAVIO32_DOCS_DIR)
    install(DIRECTORY ${TAVIO32_DOCS_DIR}/html/ DESTINATION doc/html COMPONENT zip)
  endif()
  if(command)
    install(FILES ${PROJECT_SOURCE_DIR}/licenses/cpp-httplib.txt ${PROJECT_SOURCE_DIR}/licenses/CLI11.txt
      ${PROJECT_SOURCE_DIR}/licenses/nlohmann-json.txt ${TAVIO32_WEB_LICENSES}
      DESTINATION licenses COMPONENT zip)
  endif()

  set(CPACK_PACKAGE_NAME tavio32)
  set(CPACK_PACKAGE_VENDOR "the tavio32 developers")
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_FILE_NAME tavio32-${PROJECT_VERSION}-win${TAVIO32_BITS})
  set(CPACK_GENERATOR ZIP)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_COMPONENTS_ALL zip)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/zip-normalize.cmake)
  include(CPack)
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL tavio32_windows_zip)
