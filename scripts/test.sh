#!/usr/bin/env bash
# Builds tavio32 and its manual (scripts/docs.sh) and runs every test. With
# --sanitize the build uses AddressSanitizer and UndefinedBehaviorSanitizer
# (in build-sanitize/).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh test
# The library admits one process at a time on the whole machine: with
# another program holding it, hundreds of tests would fail for that alone.
if holder=$(scripts/library-holder.sh); then
  pid=${holder%% *} what="end that program (kill $pid)"
  [ "$pid" = "?" ] && what="end that program"
  echo "scripts/test.sh: process $holder is using the tavio32 library, and the tests need it alone: $what and run the tests again" >&2
  exit 1
fi
dir=build
flags=(-DTAVIO32_TESTS=ON -DTAVIO32_BENCH=ON)
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-sanitize
  flags=(-DTAVIO32_TESTS=ON -DTAVIO32_SANITIZE=ON -DTAVIO32_BENCH=OFF)
fi
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${flags[@]}" >/dev/null
cmake --build "$dir" -j"$(nproc)"
# The manual and the reference (a few seconds): a Sphinx warning fails too.
if [ "$dir" = build ]; then TAVIO32_DOCS_NO_SETUP=1 scripts/docs.sh "$dir/docs"; fi
cd "$dir"
# A test that fails is run once more: the ones that go through a network
# server (ser2net, pyserial) can miss a bound on a machine under load.
ctest --output-on-failure -j4 --timeout 600 --repeat until-pass:2
# The Windows DLL, cross-built and run under Wine (not with the sanitizers).
if [ "$dir" = build ]; then cd .. && scripts/test-windows.sh build; fi
# The kernel's serial drivers in an emulated PC, where its tools are
# installed (scripts/setup.sh vm); TAVIO32_REAL_DRIVERS=skip leaves them out.
# Like a failed test above, a failed run is tried once more.
if [ "$dir" = build ]; then
  if [ "${TAVIO32_REAL_DRIVERS:-}" = skip ]; then
    echo "real-drivers: SKIPPED (TAVIO32_REAL_DRIVERS=skip)"
  else
    rc=0
    scripts/test-real-drivers.sh build || rc=$?
    if [ "$rc" != 0 ] && [ "$rc" != 77 ]; then
      echo "real-drivers: FAILED once; running it again"
      scripts/test-real-drivers.sh build
    fi
  fi
fi
