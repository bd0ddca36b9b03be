#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/fuzz_*.cpp, with clang, AddressSanitizer
# and UndefinedBehaviorSanitizer, in build-fuzz/) and runs each one for a
# bounded number of executions: scripts/fuzz.sh [runs] (default 4000).
# The corpus grows in build-fuzz/corpus/<target>/, starting from the seeds
# in fuzz/corpus/<target>/; an input that fails is saved in
# build-fuzz/artifacts/ and the script fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh ci
runs="${1:-4000}"
dir=build-fuzz
CC=clang CXX=clang++ cmake -S fuzz -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" -j2
mkdir -p "$dir/artifacts"
status=0
for target in "$dir"/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  mkdir -p "$dir/corpus/$name"
  args=(-runs="$runs" -artifact_prefix="$dir/artifacts/$name-" -print_final_stats=1)
  [ -f "fuzz/$name.dict" ] && args+=(-dict="fuzz/$name.dict")
  dirs=("$dir/corpus/$name")
  [ -d "fuzz/corpus/$name" ] && dirs+=("fuzz/corpus/$name")
  echo "== $name: $runs runs"
  start=$(date +%s)
  if ! "$target" "${args[@]}" "${dirs[@]}" >"$dir/$name.log" 2>&1; then
    tail -n 40 "$dir/$name.log"
    echo "$name FAILED (log: $dir/$name.log)"
    status=1
    continue
  fi
  grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$dir/$name.log" | tr '\n' ' '
  echo "($(($(date +%s) - start)) s)"
done
exit $status
