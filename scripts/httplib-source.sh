#!/usr/bin/env bash
# Fetches cpp-httplib in its single-header form, the one the tavio32 command
# compiles in (on Linux and in tavio32.exe alike): Debian's source package,
# by package name, unpacked with Debian's patches applied (apt-get source;
# 0.11.4's package carries the fix for CVE-2023-26130 that the upstream
# header lacks). Debian's binary package holds only the split, compiled
# form, which a Windows build cannot use.
#
#   scripts/httplib-source.sh          fetch where missing, print the folder
#   scripts/httplib-source.sh --dir    print the folder only
#
# The folder is ${TAVIO32_CACHE:-~/.cache/tavio32}/cpp-httplib (the build
# finds it there; -DTAVIO32_HTTPLIB_DIR=DIR names another). apt-get source
# needs deb-src entries: where the machine has none, one file
# (/etc/apt/sources.list.d/tavio32-src.sources) adds them for the Debian
# archives the machine already uses.
set -euo pipefail
cache=${TAVIO32_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/tavio32}
dir=$cache/cpp-httplib
if [ "${1:-}" = --dir ] || [ -f "$dir/httplib.h" ]; then
  echo "$dir"
  exit 0
fi
run=()
[ "$(id -u)" -eq 0 ] || run=(sudo)
say() { echo "httplib-source: $*" >&2; }

if ! apt-get source --print-uris -qq cpp-httplib >/dev/null 2>&1; then
  src=/etc/apt/sources.list.d/tavio32-src.sources
  {
    for f in /etc/apt/sources.list.d/*.sources; do
      [ -f "$f" ] && [ "$f" != "$src" ] || continue
      # Debian's own archives only (not a vendor's repository of binaries).
      grep -q -E '^URIs:.*debian' "$f" || continue
      sed -E 's/^Types:.*/Types: deb-src/' "$f"
      echo
    done
  } >"$src.new"
  if [ -f /etc/apt/sources.list ]; then
    sed -n -E 's/^deb (.*debian.*)/deb-src \1/p' /etc/apt/sources.list >"${src%.sources}.list.new"
    "${run[@]}" mv "${src%.sources}.list.new" "${src%.sources}.list"
  fi
  "${run[@]}" mv "$src.new" "$src"
  "${run[@]}" apt-get update -q >/dev/null 2>&1 || true
fi
command -v dpkg-source >/dev/null || "${run[@]}" apt-get install -y -q --no-install-recommends dpkg-dev >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
if ! (cd "$work" && apt-get source -q cpp-httplib >"$work/log" 2>&1); then
  say "could not fetch Debian's source of cpp-httplib:"
  grep -E '^(E|W):' "$work/log" >&2 || tail -3 "$work/log" >&2
  exit 1
fi
unpacked=$(find "$work" -mindepth 2 -maxdepth 2 -name httplib.h -printf '%h\n' | head -n 1)
[ -n "$unpacked" ] || { say "Debian's source of cpp-httplib holds no httplib.h"; exit 1; }
mkdir -p "$cache"
rm -rf "$dir.new"
mkdir "$dir.new"
cp "$unpacked/httplib.h" "$unpacked/LICENSE" "$dir.new/"
ls "$work"/*.dsc | xargs -n1 basename >"$dir.new/SOURCE"
rm -rf "$dir"
mv "$dir.new" "$dir"
say "$(cat "$dir/SOURCE") unpacked in $dir"
echo "$dir"
