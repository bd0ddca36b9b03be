# Cross build of the 32-bit TAVIO32.DLL with Debian's mingw-w64 toolchain
# (g++-mingw-w64-i686-win32, mingw-w64-tools):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
#
# The win32 thread model, not posix: in 32-bit code the runtime registers
# the DLL's unwind tables at load, under a lock that the posix model takes
# through winpthreads, which allocates a thread-local storage index for it
# and never frees it, so every load and unload of the DLL lost one index (a
# process has 1088). The win32 model's lock needs none.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TAVIO32_MINGW_PREFIX i686-w64-mingw32)
# tavio32.exe needs std::thread, which only the posix model has: its build
# is a second one with -DTAVIO32_MINGW_THREADS=posix (scripts/test-windows.sh);
# the command loads the DLL of this one.
if(NOT TAVIO32_MINGW_THREADS)
  set(TAVIO32_MINGW_THREADS win32)
endif()
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
