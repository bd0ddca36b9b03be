#!/usr/bin/env bash
# The Windows zips in DIST (scripts/package.sh) as a Windows programmer gets
# them: the files listed in README.txt, tavio32.exe in both (its version
# run under Wine, and its and the DLL's version resources read back),
# README.txt with CR LF line ends,
# the DLL of the zip's word size, both import libraries naming all 83
# functions as the callers of each compiler reference them, and a C program
# built with MinGW against nothing but the zip's header and one import
# library at a time, run under Wine (skipped, and said, where this machine
# has no Wine of that word size); the manual's HTML in both. Then
# libtavio32-dev where DIST has it: the manual's HTML, and `man 3 OPENCOM`
# from its files shows OPENCOM's entry. Then the installers where DIST has
# them (tests/package_msi_test.sh).
#
#   tests/package_test.sh [DIST] [BUILDS]     (default dist/ and build-pkg/)
set -uo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
dist=$(cd "${1:-$repo/dist}" && pwd)
builds=${2:-$repo/build-pkg}
failed=0 passed=0
check() { # check WHAT CONDITION...
  local what=$1; shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $what"; fi
}
work=$(mktemp -d /tmp/tavio32-zip.XXXXXX)
trap 'for p in "$work"/prefix*; do [ -d "$p" ] && WINEPREFIX=$p timeout 20 wineserver -k >/dev/null 2>&1; done; rm -rf "$work"' EXIT

for bits in 32 64; do
  zip=$dist/tavio32-1.22-win$bits.zip
  [ -f "$zip" ] || { echo "package_test: no $zip"; failed=$((failed + 1)); continue; }
  top=tavio32-1.22-win$bits
  want="$top/LICENSE.txt $top/LIESMICH.txt $top/README.txt $top/TAVIO32.DLL $top/libtavio32.dll.a $top/licenses/mingw-w64-runtime.txt $top/tavio32.def $top/tavio32.h $top/tavio32.lib"
  want="$want $top/tavio32.exe $top/licenses/CLI11.txt $top/licenses/cpp-httplib.txt $top/licenses/nlohmann-json.txt"
  want="$want $top/doc/html/index.html $top/doc/html/reference/index.html"
  have=$(unzip -Z1 "$zip" | grep -v '/$' | sort | tr '\n' ' ')
  missing=$(comm -23 <(tr ' ' '\n' <<<"$want" | sort) <(tr ' ' '\n' <<<"$have" | sort) | tr '\n' ' ')
  check "win$bits zip holds every listed file (missing: $missing)" [ -z "$missing" ]
  unzip -q "$zip" -d "$work/$bits"
  z=$work/$bits/$top
  for t in README.txt LIESMICH.txt; do
    check "win$bits $t has CR LF line ends" bash -c "[ -s '$z/$t' ] && ! grep -q -v $'\r\$' '$z/$t'"
  done
  format=pei-x86-64 prefix=x86_64-w64-mingw32 threads=posix
  [ "$bits" = 32 ] && format=pei-i386 prefix=i686-w64-mingw32 threads=win32
  for f in TAVIO32.DLL tavio32.exe; do # the word size, and what Explorer's Properties shows
    check "win$bits $f is $format" bash -c "objdump -f '$z/$f' | grep -q 'file format $format'"
    info=$(wrestool -x --raw -t16 "$z/$f" 2>/dev/null | strings -el | tr '\n' '|')
    check "win$bits $f: version resource (got: $info)" grep -qE "FileVersion\|1\.22\|.*OriginalFilename\|$f\|ProductName\|tavio32\|ProductVersion\|1\.22\|" <<<"$info"
  done
  check "win$bits tavio32.exe has an icon" bash -c "wrestool -l -t14 '$z/tavio32.exe' | grep -q group_icon"
  loader=/usr/lib/wine/wine64
  [ "$bits" = 32 ] && loader=/usr/lib/wine/wine
  if [ -x "$loader" ] && "$loader" --version >/dev/null 2>&1; then
    out=$(cd "$z" && WINEPREFIX=$work/prefix$bits WINEARCH=win$bits WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
      DISPLAY= timeout 300 "$loader" tavio32.exe version 2>&1 | tr -d '\r')
    check "win$bits tavio32.exe version runs from the unpacked zip (got: $out)" grep -qx "tavio32 1.22 (library version 122)" <<<"$out"
  else
    echo "package_test: SKIPPED running the win$bits tavio32.exe: no $bits-bit Wine here"
  fi

  # The 83 exports; callers reference _NAME@N (32-bit stdcall) or NAME.
  decorated=$(grep -o -E '^ +"?[A-Z_0-9]+(@[0-9]+)?"? +@[0-9]+' "$z/tavio32.def" | tr -d ' "' | sed 's/@[0-9]*$//')
  names=$(sed 's/@.*//' <<<"$decorated")
  check "win$bits tavio32.def names 83 functions" [ "$(sort -u <<<"$names" | wc -l)" = 83 ]
  if [ "$bits" = 32 ]; then symbols=$(sed 's/^/_/' <<<"$decorated"); else symbols=$names; fi
  for lib in libtavio32.dll.a tavio32.lib; do
    defined=$(llvm-nm --defined-only "$z/$lib" 2>/dev/null | awk '{ print $NF }' | sort -u)
    absent=$(comm -23 <(sort -u <<<"$symbols") <(grep -v '^__imp_' <<<"$defined") | head -3 | tr '\n' ' ')
    check "win$bits $lib names all 83 functions (absent: $absent)" [ -z "$absent" ]
    absent=$(comm -23 <(sed 's/^/__imp_/' <<<"$symbols" | sort -u) <(sort -u <<<"$defined") | head -3 | tr '\n' ' ')
    check "win$bits $lib has the import pointers of all 83 (absent: $absent)" [ -z "$absent" ]
  done

  # A program that takes the address of all 83 functions (the loader must
  # resolve every import) and calls two of them.
  names_c=$(sed 's/^/  (void *)/; s/$/,/' <<<"$names")
  cat >"$work/prog$bits.c" <<EOF
#include <stdio.h>
#include "tavio32.h"
static void *const all[] = {
$names_c
};
int main(void) {
  char mode[] = "XYZ9:9600,N,8,1";
  printf("functions %d VERSION %d OPENCOM(no device) %d\n", (int)(sizeof all / sizeof all[0]), (int)VERSION(0), (int)OPENCOM(mode));
  return 0;
}
EOF
  cc=$prefix-gcc-$threads
  if ! command -v "$cc" >/dev/null; then
    echo "package_test: SKIPPED the win$bits program: no $cc"
    continue
  fi
  for lib in libtavio32.dll.a tavio32.lib; do
    exe=$z/prog-${lib%%.*}.exe
    check "win$bits: MinGW builds a program against tavio32.h and $lib alone" \
      "$cc" -Wall -Werror -static -I"$z" -o "$exe" "$work/prog$bits.c" "$z/$lib"
    if [ ! -x "$loader" ] || ! "$loader" --version >/dev/null 2>&1; then
      echo "package_test: SKIPPED running the win$bits program: no $bits-bit Wine here"
      continue
    fi
    out=$(cd "$z" && WINEPREFIX=$work/prefix$bits WINEARCH=win$bits WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
      DISPLAY= timeout 300 "$loader" "$exe" 2>&1 | tr -d '\r')
    check "win$bits program linked with $lib runs under Wine (got: $out)" \
      grep -qx "functions 83 VERSION 122 OPENCOM(no device) 0" <<<"$out"
  done
done
for deb in "$dist"/libtavio32-dev_*.deb; do
  [ -f "$deb" ] || continue
  dpkg-deb -x "$deb" "$work/dev"
  check "libtavio32-dev holds the manual's HTML" [ -s "$work/dev/usr/share/doc/libtavio32-dev/html/reference/index.html" ]
  page=$(MANPATH=$work/dev/usr/share/man MANWIDTH=80 man 3 OPENCOM 2>&1)
  check "libtavio32-dev: man 3 OPENCOM shows its entry (got: $(head -c 300 <<<"$page"))" \
    grep -q -E '^ *int32_t OPENCOM\(char \*mode\);' <<<"$page"
done
echo "package_test: $passed passed, $failed failed"
# The installers, where scripts/package.sh made them.
ls "$dist"/*.msi >/dev/null 2>&1 && { "$repo/tests/package_msi_test.sh" "$dist" "$builds" || failed=$((failed + 1)); }
[ "$failed" = 0 ]
