# cpp-httplib in its single-header form, compiled into the tavio32 command
# (Linux and tavio32.exe alike), from Debian's source package as
# scripts/httplib-source.sh unpacks it. -DTAVIO32_HTTPLIB_DIR=DIR names a
# folder holding httplib.h instead.
if(DEFINED ENV{TAVIO32_CACHE})
  set(tavio32_httplib_default "$ENV{TAVIO32_CACHE}/cpp-httplib")
elseif(DEFINED ENV{XDG_CACHE_HOME})
  set(tavio32_httplib_default "$ENV{XDG_CACHE_HOME}/tavio32/cpp-httplib")
else()
  set(tavio32_httplib_default "$ENV{HOME}/.cache/tavio32/cpp-httplib")
endif()
set(TAVIO32_HTTPLIB_DIR "${tavio32_httplib_default}" CACHE PATH "Folder with cpp-httplib's single header httplib.h")
if(NOT EXISTS "${TAVIO32_HTTPLIB_DIR}/httplib.h")
  message(FATAL_ERROR "tavio32 serve needs cpp-httplib's httplib.h in ${TAVIO32_HTTPLIB_DIR}: "
    "run scripts/httplib-source.sh (Debian's source package), or give -DTAVIO32_HTTPLIB_DIR=DIR")
endif()
add_library(tavio32_httplib INTERFACE)
# SYSTEM: the header's own warnings are not the project's.
target_include_directories(tavio32_httplib SYSTEM INTERFACE "${TAVIO32_HTTPLIB_DIR}")
if(WIN32)
  target_link_libraries(tavio32_httplib INTERFACE ws2_32 crypt32)
endif()
# The header's own file name (in its assertions) without this machine's
# folder: the same bytes in every build.
target_compile_options(tavio32_httplib INTERFACE "-ffile-prefix-map=${TAVIO32_HTTPLIB_DIR}=cpp-httplib")
