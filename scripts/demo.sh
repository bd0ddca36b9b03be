#!/usr/bin/env bash
# Builds tavio32 and runs the demo against the built-in device emulators.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target tavio32-demo tavio32-sim tavio32-cli
./build/tavio32-demo
exec scripts/demo-cli.sh
