#!/usr/bin/env bash
# Cross-builds TAVIO32.DLL, 64-bit (build-win64/) and 32-bit (build-win/),
# and runs its tests: the export and import tables, and the Windows test
# programs under Wine against the native emulators of NATIVEBUILD (default
# build/, which must hold tavio32-sim). Says plainly what it skips.
#
#   scripts/test-windows.sh [NATIVEBUILD]
set -euo pipefail
cd "$(dirname "$0")/.."
native="$(cd "${1:-build}" && pwd)"
for arch in x86_64 i686; do
  threads=posix
  [ "$arch" = i686 ] && threads=win32 # as cmake/mingw-i686.cmake
  if ! command -v "$arch-w64-mingw32-g++-$threads" >/dev/null || ! command -v "$arch-w64-mingw32-dlltool" >/dev/null; then
    echo "== Windows DLL ($arch): SKIPPED, the mingw-w64 toolchain is not installed (scripts/setup.sh installs it)"
    continue
  fi
  dir=build-win64
  [ "$arch" = i686 ] && dir=build-win
  echo "== Windows DLL ($arch): cross build in $dir/ and tests (Wine)"
  start=$(date +%s)
  cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$arch.cmake" -DTAVIO32_BENCH=OFF \
    -DTAVIO32_NATIVE_BUILD="$native" >/dev/null
  cmake --build "$dir" -j2
  # The 32-bit tavio32.exe: a second build with the posix thread model (its
  # std::thread), beside the DLL of the first.
  if [ "$arch" = i686 ]; then
    if command -v i686-w64-mingw32-g++-posix >/dev/null; then
      cmake -S . -B build-win-cli -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DTAVIO32_MINGW_THREADS=posix \
        -DTAVIO32_BENCH=OFF -DTAVIO32_TESTS=OFF >/dev/null
      cmake --build build-win-cli -j2 --target tavio32-cli
      cp build-win-cli/tavio32.exe "$dir/"
    else
      echo "== Windows DLL ($arch): SKIPPED tavio32.exe, g++-mingw-w64-i686-posix is not installed (scripts/setup.sh installs it)"
    fi
  fi
  echo "== Windows DLL ($arch): built in $(($(date +%s) - start)) s"
  (cd "$dir" && ctest --output-on-failure --timeout 600)
  # ctest shows no reason for a skip, nor where the tests ran (on this
  # machine, or in the emulated PC: scripts/test-wine32-vm.sh).
  grep -h -E "SKIPPED|^test-wine: .*-bit DLL under Wine|^test-wine32-vm: (image|the 32-bit DLL)" \
    "$dir/Testing/Temporary/LastTest.log" || true
done
