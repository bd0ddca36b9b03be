# Shared part of the mingw-w64 toolchain files: the posix-thread variants of
# the compilers, the binutils of the same prefix, and the target's own
# libraries only.
set(CMAKE_C_COMPILER ${TAVIO32_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAVIO32_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TAVIO32_MINGW_PREFIX}-windres)
set(CMAKE_DLLTOOL ${TAVIO32_MINGW_PREFIX}-dlltool)
set(TAVIO32_OBJDUMP ${TAVIO32_MINGW_PREFIX}-objdump)
set(CMAKE_FIND_ROOT_PATH /usr/${TAVIO32_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
