# TAVIO32.DLL: the same portable core with the Win32 backend, cross-built
# with mingw-w64 (cmake/mingw-i686.cmake, cmake/mingw-x86_64.cmake).
#
# The exports come from a module-definition file: undecorated names at the
# fixed ordinals 1 to 83, nothing else. The C and C++ runtimes are linked in
# (-static), so the DLL needs only system DLLs. The import library is made by
# dlltool from the same file, so that callers' __stdcall references (OPENCOM@4)
# resolve to the undecorated names.

# The core's sources, without the POSIX backend.
get_target_property(TAVIO32_CORE_SOURCES tavio32_core SOURCES)
list(FILTER TAVIO32_CORE_SOURCES EXCLUDE REGEX "platform/posix/")
set_target_properties(tavio32_core PROPERTIES EXCLUDE_FROM_ALL TRUE)
file(GLOB TAVIO32_WIN32_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/platform/win32/*.cpp)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(TAVIO32_DEF ${CMAKE_CURRENT_SOURCE_DIR}/src/exports/tavio32_x64.def)
  set(TAVIO32_BITS 64)
else()
  set(TAVIO32_DEF ${CMAKE_CURRENT_SOURCE_DIR}/src/exports/tavio32_x86.def)
  set(TAVIO32_BITS 32)
endif()

add_library(tavio32_dll SHARED ${TAVIO32_CORE_SOURCES} ${TAVIO32_WIN32_SOURCES})
target_include_directories(tavio32_dll PUBLIC include PRIVATE src)
target_compile_definitions(tavio32_dll PRIVATE TAVIO32_BUILDING WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
target_link_libraries(tavio32_dll PRIVATE winmm ws2_32)
target_link_options(tavio32_dll PRIVATE ${TAVIO32_DEF} -Wl,--kill-at -static -static-libgcc -static-libstdc++)
set_target_properties(tavio32_dll PROPERTIES
  OUTPUT_NAME TAVIO32 PREFIX "" SUFFIX ".DLL"
  # The linker's own import library would name the killed symbols; the
  # callers' one comes from dlltool below.
  IMPORT_PREFIX "" IMPORT_SUFFIX ".ld-implib.a"
  LINK_DEPENDS ${TAVIO32_DEF})

set(TAVIO32_IMPLIB ${CMAKE_CURRENT_BINARY_DIR}/libtavio32.dll.a)
# dlltool names its members and symbols after the output's path as given:
# the file name alone, so that no build folder ends up in the library.
add_custom_command(OUTPUT ${TAVIO32_IMPLIB}
  COMMAND ${CMAKE_DLLTOOL} --input-def ${TAVIO32_DEF} --dllname TAVIO32.DLL --kill-at --output-lib libtavio32.dll.a
  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
  DEPENDS ${TAVIO32_DEF} VERBATIM)
add_custom_target(tavio32_implib ALL DEPENDS ${TAVIO32_IMPLIB})
add_library(tavio32_import INTERFACE)
target_include_directories(tavio32_import INTERFACE include)
target_link_libraries(tavio32_import INTERFACE ${TAVIO32_IMPLIB})
add_dependencies(tavio32_import tavio32_implib tavio32_dll)

# tavio32.exe: the tavio32 command, loading TAVIO32.DLL beside it. It needs
# std::thread: not with the win32 thread model (the 32-bit DLL's).
include(CheckCXXSourceCompiles)
check_cxx_source_compiles("#include <thread>\n#include <mutex>\nint main() { std::mutex m; std::thread t([&] { std::lock_guard<std::mutex> g(m); }); t.join(); }"
  TAVIO32_HAS_STD_THREAD)
if(TAVIO32_HAS_STD_THREAD)
  include(cmake/command.cmake)
else()
  message(STATUS "tavio32.exe: not in this build (the ${TAVIO32_MINGW_THREADS} thread model has no std::thread): "
    "build it in a second one with -DTAVIO32_MINGW_THREADS=posix")
endif()

include(${CMAKE_CURRENT_LIST_DIR}/windows-resources.cmake)

if(TAVIO32_TESTS)
  enable_testing()
  add_subdirectory(tests/win)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/package-windows.cmake)
