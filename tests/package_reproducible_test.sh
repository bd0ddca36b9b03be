#!/usr/bin/env bash
# Builds the Debian packages and the 64-bit zip twice from the committed
# checkout, in two clones at different paths, and compares the files byte
# for byte (scripts/package.sh deb win64). Takes two package builds' time.
#
#   tests/package_reproducible_test.sh [PARTS...]   (default: deb win64)
set -uo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
parts=("$@")
[ ${#parts[@]} -gt 0 ] || parts=(deb win64)
work=$(mktemp -d /tmp/tavio32-repro.XXXXXX)
trap 'rm -rf "$work"' EXIT
# Both clones hold the same commit: the second is made from the first.
git clone -q "$repo" "$work/one"
git clone -q "$work/one" "$work/another-longer-path"
for clone in one another-longer-path; do
  echo "== reproducible: building in $work/$clone"
  (cd "$work/$clone" && TAVIO32_PACKAGE_NO_SETUP=1 scripts/package.sh "${parts[@]}" | grep -v '^lintian:') || exit 1
done
failed=0 files=0
for f in "$work/one/dist/"*; do
  name=$(basename "$f")
  files=$((files + 1))
  if ! cmp -s "$f" "$work/another-longer-path/dist/$name"; then
    echo "FAILED: $name differs between the two builds"
    failed=$((failed + 1))
  fi
done
[ "$files" -gt 1 ] || { echo "FAILED: no packages built"; exit 1; }
echo "reproducible: $((files - failed)) of $files files identical"
[ "$failed" = 0 ]
