#!/usr/bin/env bash
# Builds tavio32 and runs every test. With --sanitize the build uses
# AddressSanitizer and UndefinedBehaviorSanitizer (in build-sanitize/).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
dir=build
flags=()
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-sanitize
  flags=(-DTAVIO32_SANITIZE=ON -DTAVIO32_BENCH=OFF)
fi
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${flags[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)"
cd "$dir"
ctest --output-on-failure -j4 --timeout 600
# The Windows DLL, cross-built and run under Wine (not with the sanitizers).
if [ "$dir" = build ]; then cd .. && scripts/test-windows.sh build; fi
