# Cross build of the 32-bit TAVIO32.DLL with Debian's mingw-w64 toolchain
# (g++-mingw-w64-i686-posix, mingw-w64-tools):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TAVIO32_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
