#!/usr/bin/env bash
# The tavio32 command end to end against an emulated Sios served by
# tavio32-sim: detect, read, record with table, CSV and plot. Expects a build
# in build/ (scripts/demo.sh makes one).
set -euo pipefail
cd "$(dirname "$0")/.."
bin=$PWD/build
dir=$(mktemp -d /tmp/tavio32-demo-cli-XXXXXX)
sim_pid=
cleanup() {
  if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT
show() { echo "\$ $*"; "$@"; }

echo
echo "== The tavio32 command against an emulated Sios on COM3"
"$bin/tavio32-sim" --device sios --link "$dir/com3" >/dev/null &
sim_pid=$!
for _ in $(seq 50); do [ -e "$dir/com3" ] && break; sleep 0.1; done
# Only COM3 exists for this demo, whatever the machine has.
for n in 1 2 4 5 6 7 8 9; do export "TAVIO32_COM$n="; done
export TAVIO32_COM3=$dir/com3
cd "$dir"
show "$bin/tavio32" detect
show "$bin/tavio32" read --interface sios --port 3 --channels 1,2 --digital --every 100 --count 4
show "$bin/tavio32" record --interface sios --port 3 --measurements 100 --channels 1,2 --interval 10 --out messung
show head -4 messung.csv
show "$bin/tavio32" table messung.dat --interface sios --plot plot.svg
echo "Files in $dir:"
ls -l "$dir" | grep -v com3
