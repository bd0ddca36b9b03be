#!/usr/bin/env bash
# Runs the test programs under valgrind memcheck (in build/): every program
# once, with all of its tests, two programs at a time, then the programs
# that load the shared library one after another (they take its one-process
# lock). It fails when a test fails or valgrind reports an error (a leak
# included). Tests that bound elapsed time are left out; tests/valgrind_exclude.txt
# lists them with the reason. Logs: build/valgrind/.
#
# One valgrind start per test program rather than per test (as ctest's
# memcheck mode does it) keeps the run to minutes: starting valgrind costs
# seconds, and there are hundreds of tests.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh ci
dir=build
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" -j"$(nproc)"

exclude=$(sed -e 's/#.*//' -e 's/[[:space:]]//g' -e '/^$/d' tests/valgrind_exclude.txt | paste -sd:)
out="$PWD/$dir/valgrind"
rm -rf "$out"
mkdir -p "$out"

# vg NAME PROGRAM FILTER: one valgrind run of a test program; its status.
vg() {
  (cd "$(dirname "$2")" &&
    TAVIO32_SOAK_SECONDS=5 timeout 900 valgrind --error-exitcode=99 --leak-check=full --fair-sched=yes \
      --errors-for-leak-kinds=definite --num-callers=30 --log-file="$out/$1.%p.valgrind" \
      "$2" --gtest_filter="$3") >"$out/$1.log" 2>&1
}

# run PROGRAM: one test program under valgrind; prints its verdict. Tests
# that fail (rather than valgrind finding an error) get one more run each:
# the emulators' threads run slowly under valgrind, and a test that waits
# for them with a bound of its own can miss it now and then.
run() {
  local prog=$1 name start=$SECONDS status=0
  name=$(basename "$prog")
  vg "$name" "$prog" "-$exclude" || status=$?
  if [ "$status" -eq 1 ]; then
    local failed
    failed=$(sed -n 's/^\[  FAILED  \] \([^ ,]*\.[^ ,]*\).*/\1/p' "$out/$name.log" | sort -u | paste -sd:)
    status=0
    vg "$name.again" "$prog" "$failed" || status=$?
    [ "$status" -eq 0 ] && echo "passed   $name ($((SECONDS - start)) s; passed at the second run: $failed)" && return
  fi
  case $status in
  0) echo "passed   $name ($((SECONDS - start)) s)" ;;
  99) echo "VALGRIND $name: errors, see $out/$name.*.valgrind" ;;
  *) echo "FAILED   $name (status $status), see $out/$name.log" ;;
  esac
}
export -f run vg
export out exclude

start=$SECONDS
find "$PWD/$dir/tests" -maxdepth 1 -name '*_test' -type f -perm -u+x | sort | xargs -P 2 -I{} bash -c 'run {}' | tee "$out/summary"
find "$PWD/$dir/tests" -maxdepth 1 -name '*_loadtest' -type f -perm -u+x | sort | xargs -P 1 -I{} bash -c 'run {}' | tee -a "$out/summary"

# valgrind's own count, over every process it watched (forked children too).
errors=$(cat "$out"/*.valgrind | sed -n 's/.*ERROR SUMMARY: \([0-9]*\) errors.*/\1/p' | awk '{s += $1} END {print s + 0}')
echo "valgrind: $errors errors in $(ls "$out"/*.valgrind | wc -l) processes, $((SECONDS - start)) s"
! grep -qv '^passed' "$out/summary" && [ "$errors" -eq 0 ]
