# The tavio32 command (target tavio32-cli, program tavio32 / tavio32.exe):
# arguments parsed by CLI11 (Debian: libcli11-dev); one file per subcommand
# in tools/commands/. `tavio32 serve` (tools/serve/) is an HTTP server with
# cpp-httplib (its single header from Debian's source package,
# cmake/httplib.cmake) and nlohmann-json (nlohmann-json3-dev), and embeds the
# page in web/ (cmake/web.cmake). What differs by system is in
# tools/platform/posix/ and tools/platform/win32/.
#
# The command does not link the library: it loads it when a subcommand first
# needs it (tools/library.cpp), through forwarding functions made from the
# header. Linux: libtavio32.so.1 through the program's run path; Windows:
# TAVIO32.DLL beside tavio32.exe.
if(WIN32)
  # CLI11 and nlohmann-json are header-only: the cross build takes Debian's
  # headers, copied into the build tree so that no other host header is seen.
  set(tavio32_host_headers ${PROJECT_BINARY_DIR}/host-headers)
  foreach(dir CLI nlohmann)
    if(NOT EXISTS /usr/include/${dir})
      message(FATAL_ERROR "tavio32.exe needs the headers in /usr/include/${dir} (Debian: libcli11-dev, nlohmann-json3-dev)")
    endif()
    file(COPY /usr/include/${dir} DESTINATION ${tavio32_host_headers})
  endforeach()
  add_library(CLI11::CLI11 INTERFACE IMPORTED)
  target_include_directories(CLI11::CLI11 SYSTEM INTERFACE ${tavio32_host_headers})
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  target_include_directories(nlohmann_json::nlohmann_json SYSTEM INTERFACE ${tavio32_host_headers})
  file(GLOB tavio32_platform_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tools/platform/win32/*.cpp)
else()
  find_package(CLI11 CONFIG REQUIRED)
  find_package(nlohmann_json 3 CONFIG REQUIRED)
  file(GLOB tavio32_platform_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tools/platform/posix/*.cpp)
endif()
include(cmake/httplib.cmake)
include(cmake/web.cmake)

add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/library_stubs.cpp
  COMMAND ${CMAKE_COMMAND} -DHEADER=${PROJECT_SOURCE_DIR}/include/tavio32.h -DOUT=${PROJECT_BINARY_DIR}/library_stubs.cpp
    -P ${PROJECT_SOURCE_DIR}/cmake/library_stubs.cmake
  DEPENDS ${PROJECT_SOURCE_DIR}/include/tavio32.h ${PROJECT_SOURCE_DIR}/cmake/library_stubs.cmake
  COMMENT "Forwarding functions for the library's exports")

add_executable(tavio32-cli tools/tavio32.cpp tools/cli_common.cpp tools/cli_blocks.cpp tools/cli_files.cpp
  tools/i18n.cpp tools/library.cpp ${PROJECT_BINARY_DIR}/library_stubs.cpp ${tavio32_platform_sources}
  tools/commands/ports.cpp tools/commands/detect.cpp tools/commands/version.cpp tools/commands/read.cpp
  tools/commands/write.cpp tools/commands/record.cpp tools/commands/table.cpp tools/commands/monitor.cpp
  tools/serve/serve.cpp tools/serve/api.cpp tools/serve/access.cpp tools/serve/device.cpp tools/serve/stream.cpp tools/serve/front.cpp
  ${PROJECT_BINARY_DIR}/web_assets.cpp)
target_include_directories(tavio32-cli PRIVATE include tools tools/serve)
set_target_properties(tavio32-cli PROPERTIES OUTPUT_NAME tavio32)
target_link_libraries(tavio32-cli PRIVATE CLI11::CLI11 nlohmann_json::nlohmann_json tavio32_httplib Threads::Threads)
if(WIN32)
  # (localtime_r: mingw-w64 has it under _POSIX_THREAD_SAFE_FUNCTIONS.)
  target_compile_definitions(tavio32-cli PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00
    _POSIX_THREAD_SAFE_FUNCTIONS)
  # Only system DLLs besides TAVIO32.DLL, which it loads itself.
  target_link_libraries(tavio32-cli PRIVATE setupapi advapi32 shell32 bcrypt iphlpapi ws2_32)
  target_link_options(tavio32-cli PRIVATE -static -static-libgcc -static-libstdc++)
  add_dependencies(tavio32-cli tavio32_dll)
  set_target_properties(tavio32-cli PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
  install(TARGETS tavio32-cli RUNTIME DESTINATION .)
else()
  # The USB adapters' COM numbers, read as the library reads them.
  target_sources(tavio32-cli PRIVATE src/platform/posix/adapters.cpp)
  target_include_directories(tavio32-cli PRIVATE src)
  target_link_libraries(tavio32-cli PRIVATE ${CMAKE_DL_LIBS})
  add_dependencies(tavio32-cli tavio32)
  set_target_properties(tavio32-cli PROPERTIES BUILD_RPATH "$<TARGET_FILE_DIR:tavio32>"
    INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
endif()

# The command's German texts (tools/i18n.h): po/command/de.po compiled by
# msgfmt (Debian: gettext) into locale/de/LC_MESSAGES/tavio32.mo of the build
# tree, where the built program finds it; installed to share/locale, and
# compiled into tavio32.exe. The target tavio32_pot extracts
# po/command/tavio32.pot from the sources again (scripts/update-pot.sh).
find_program(TAVIO32_MSGFMT msgfmt REQUIRED)
set(tavio32_mo ${PROJECT_BINARY_DIR}/locale/de/LC_MESSAGES/tavio32.mo)
add_custom_command(OUTPUT ${tavio32_mo}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/locale/de/LC_MESSAGES
  COMMAND ${TAVIO32_MSGFMT} --check -o ${tavio32_mo} ${PROJECT_SOURCE_DIR}/po/command/de.po
  DEPENDS ${PROJECT_SOURCE_DIR}/po/command/de.po
  COMMENT "The command's German catalog")
add_custom_target(tavio32_catalog ALL DEPENDS ${tavio32_mo})
add_dependencies(tavio32-cli tavio32_catalog)
add_custom_target(tavio32_pot
  COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/update-pot.sh
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
  COMMENT "po/command/tavio32.pot from the command's sources")
if(WIN32)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/catalog_de.cpp
    COMMAND ${CMAKE_COMMAND} -DMO=${tavio32_mo} -DOUT=${PROJECT_BINARY_DIR}/catalog_de.cpp
      -P ${PROJECT_SOURCE_DIR}/cmake/embed_catalog.cmake
    DEPENDS ${tavio32_mo} ${PROJECT_SOURCE_DIR}/cmake/embed_catalog.cmake
    COMMENT "The German catalog, compiled into tavio32.exe")
  target_sources(tavio32-cli PRIVATE ${PROJECT_BINARY_DIR}/catalog_de.cpp)
else()
  install(FILES ${tavio32_mo} DESTINATION ${CMAKE_INSTALL_DATADIR}/locale/de/LC_MESSAGES COMPONENT tools)
endif()
