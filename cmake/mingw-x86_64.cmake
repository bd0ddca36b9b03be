# Cross build of the 64-bit TAVIO32.DLL with Debian's mingw-w64 toolchain
# (g++-mingw-w64-x86-64-posix, mingw-w64-tools):
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TAVIO32_MINGW_PREFIX x86_64-w64-mingw32)
# 64-bit code unwinds through the system's own tables: nothing is registered
# at load, and the posix thread model costs no storage index.
set(TAVIO32_MINGW_THREADS posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
