#!/usr/bin/env bash
# Builds the packages twice from the committed checkout, in two clones of
# one commit at different paths, and compares the files byte for byte (the
# installers but for their summary).
#   tests/package_reproducible_test.sh [PARTS...]   (scripts/package.sh's; default: deb win64)
# TAVIO32_KEEP_DIST=DIR keeps the first build's packages there.
set -uo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
parts=("$@")
[ $# -gt 0 ] || parts=(deb win64)
work=$(mktemp -d /tmp/tavio32-repro.XXXXXX)
trap 'rm -rf "$work"' EXIT
git clone -q "$repo" "$work/one" && git clone -q "$work/one" "$work/another-longer-path" || exit 1
for clone in one another-longer-path; do
  echo "== reproducible: building in $work/$clone"
  (cd "$work/$clone" && TAVIO32_PACKAGE_NO_SETUP=1 scripts/package.sh "${parts[@]}" | grep -v '^lintian:') || exit 1
done
same_msi() { # all but the summary (package code, times: new at every wixl build)
  local d=$work/msi-${1##*/}; mkdir -p "$d/1" "$d/2" && (cd "$d/1" && msidump -t -s "$1" >/dev/null) &&
    (cd "$d/2" && msidump -t -s "$2" >/dev/null) && diff -r -x _SummaryInformation.idt -x '*SummaryInformation' "$d/1" "$d/2"; }
failed=0 files=0
for f in "$work/one/dist/"*; do
  files=$((files + 1))
  g=$work/another-longer-path/dist/${f##*/}
  case "$f" in
    *.msi) same_msi "$f" "$g" ;;
    */SHA256SUMS) cmp -s <(grep -v '\.msi$' "$f") <(grep -v '\.msi$' "$g") ;;
    *) cmp -s "$f" "$g" ;;
  esac || { echo "FAILED: ${f##*/} differs between the two builds"; failed=$((failed + 1)); }
done
[ -n "${TAVIO32_KEEP_DIST:-}" ] && mkdir -p "$TAVIO32_KEEP_DIST" && cp "$work/one/dist/"* "$TAVIO32_KEEP_DIST/"
[ "$files" -gt 1 ] || { echo "FAILED: no packages built"; exit 1; }
echo "reproducible: $((files - failed)) of $files files identical"
[ "$failed" = 0 ]
