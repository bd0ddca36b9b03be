#!/usr/bin/env bash
# Builds tavio32 and runs the demo against the built-in device emulators.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh demo
# A new build folder leaves the tests out (they need what scripts/setup.sh
# test installs); one that scripts/test.sh made keeps them.
flags=()
[ -f build/CMakeCache.txt ] || flags=(-DTAVIO32_TESTS=OFF -DTAVIO32_BENCH=OFF)
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "${flags[@]}" >/dev/null
cmake --build build -j"$(nproc)" --target tavio32-demo tavio32-sim tavio32-cli
./build/tavio32-demo
exec scripts/demo-cli.sh
