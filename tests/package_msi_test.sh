#!/usr/bin/env bash
# The installers in DIST (scripts/package.sh msi) for a user without administrator rights, in a
# new Wine prefix: install, the files, Start menu entries, the program and its class view
# (--simulate for --detect), upgrade to 1.22.1 (built here with BUILDS' icons), uninstall.
# Where a word size's Wine does not run, its msiinfo checks only.
#
#   tests/package_msi_test.sh [DIST] [BUILDS]     (default dist/ and build-pkg/)
set -uo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd) failed=0 passed=0
dist=$(cd "${1:-$repo/dist}" && pwd)
check() { # check WHAT CONDITION...
  local what=$1; shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $what"; fi
}
work=$(mktemp -d /tmp/tavio32-msi.XXXXXX) server=
trap '[ -n "$server" ] && kill "$server" 2>/dev/null; for p in "$work"/prefix*; do [ -d "$p" ] && WINEPREFIX=$p timeout 20 /usr/lib/wine/wineserver -k >/dev/null 2>&1; done; rm -rf "$work"' EXIT
# No menu entries in the user's folders; the browser writes the address down.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" DISPLAY=
export XDG_DATA_HOME=$work/xdg XDG_CONFIG_HOME=$work/xdg
mkdir "$work/bin" && printf '#!/bin/sh\necho "$1" >%s/opened\n' "$work" >"$work/bin/xdg-open" && chmod +x "$work/bin/xdg-open"
version=1.22 newer=1.22.1
mkdir "$work/dist" && cp "$dist"/tavio32-$version-win*.zip "$work/dist/"
(cd "$repo" && TAVIO32_BUILDS=${2:-build-pkg} TAVIO32_MSI_VERSION=$newer scripts/package-msi.sh "$work/msi" "$work/dist") ||
  { echo "package_msi_test: could not build the $newer installers"; exit 1; }
products() { # the uninstall entries named $1: "KEY VERSION" a line (on disk once wineserver ends)
  timeout 60 /usr/lib/wine/wineserver -w
  awk -v name="\"DisplayName\"=\"$1\"" '/^\[/ { if (hit) print key, ver; hit = 0; key = $1; ver = "" }
    index(key, "Uninstall\\\\{") && $0 == name { hit = 1 }
    /^"DisplayVersion"=/ { ver = $0 } END { if (hit) print key, ver }' "$WINEPREFIX"/system.reg "$WINEPREFIX"/user.reg
}
msiexec() { # msiexec ARGS...: runs it, prints its time
  local t0=$(date +%s%N)
  timeout 300 "$loader" msiexec "$@" /qn && echo "$(((($(date +%s%N) - t0) / 1000000)))"
}
for bits in 64 32; do
  msi=$dist/tavio32-$version-win$bits.msi
  [ -f "$msi" ] || { echo "package_msi_test: no $msi"; failed=$((failed + 1)); continue; }
  template="x64;1033" loader=/usr/lib/wine/wine64 suffix= folder=tavio32
  [ "$bits" = 32 ] && template="Intel;1033" loader=/usr/lib/wine/wine suffix=" (32-bit)" folder="tavio32 (32-bit)"
  summary=$(msiinfo suminfo "$msi") # word count 10: compressed, no elevation asked for
  check "win$bits msi: $template, word count 10" bash -c "grep -qx 'Template: $template' <<<'$summary' && grep -q '^Source: 10 ' <<<'$summary'"
  props=$(msiinfo export "$msi" Property | tr -d '\r')
  check "win$bits msi: per user (MSIINSTALLPERUSER=1, no ALLUSERS), version $version" bash -c "grep -qx 'MSIINSTALLPERUSER	1' <<<'$props' && ! grep -q '^ALLUSERS' <<<'$props' && grep -qx 'ProductVersion	$version' <<<'$props'"
  if [ ! -x "$loader" ] || ! "$loader" --version >/dev/null 2>&1; then
    echo "package_msi_test: SKIPPED installing the win$bits msi: no $bits-bit Wine here"
    continue
  fi
  export WINEPREFIX=$work/prefix$bits WINEARCH=win$bits
  timeout 300 "$loader" wineboot -i >/dev/null 2>&1
  user=$WINEPREFIX/drive_c/users/${USER:-$(id -un)}
  dir="$user/AppData/Local/Programs/$folder"
  menu="$user/AppData/Roaming/Microsoft/Windows/Start Menu/Programs"
  windir="C:\\users\\${USER:-$(id -un)}\\AppData\\Local\\Programs\\$folder"
  unzip -q "$dist/tavio32-$version-win$bits.zip" -d "$work/zip$bits"
  t_install=$(msiexec /i "$msi")
  check "win$bits: msiexec /i installs the zip's files, and only they, in $folder" bash -c "[ -n '$t_install' ] && diff -r '$work/zip$bits/tavio32-$version-win$bits' '$dir'"
  lnk="$menu/tavio32 class view$suffix.lnk"
  check "win$bits: the class view's entry starts $windir\\tavio32.exe serve --detect --open" bash -c "strings '$lnk' | grep -qxF '$windir\\tavio32.exe' && strings -el '$lnk' | grep -qx 'serve --detect --open'"
  check "win$bits: the command prompt's entry puts the folder on its PATH" bash -c "strings -el '$menu/tavio32 command prompt$suffix.lnk' | grep -qF 'PATH=$windir\\;%PATH%\"&& tavio32 --help'"
  out=$(timeout 120 "$loader" "$dir/tavio32.exe" version 2>&1 | tr -d '\r')
  check "win$bits: the installed tavio32.exe version runs (got: $out)" grep -qx "tavio32 $version (library version 122)" <<<"$out"
  args=$(strings -el "$lnk" | grep -x 'serve .*')
  rm -f "$work/opened"
  (cd "$work" && PATH=$work/bin:$PATH exec "$loader" "$dir/tavio32.exe" ${args/--detect/--simulate} --listen 127.0.0.1:0 >"$work/serve.out" 2>&1) &
  server=$!
  for _ in $(seq 600); do [ -s "$work/opened" ] && break; sleep 0.1; done
  url=$(cat "$work/opened" 2>/dev/null)
  check "win$bits: the class view opens the browser (got: $url)" grep -qE '^http://127\.0\.0\.1:[0-9]+/\?login=[0-9a-f]+$' <<<"$url"
  check "win$bits: its page reaches Linux" bash -c "curl -sf --max-time 10 '$url' | grep -q '<title>tavio32</title>'"
  kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; server=
  entries=$(products "tavio32$suffix")
  check "win$bits: one entry among the installed programs, $version (got: $entries)" bash -c "[ \$(wc -l <<<'$entries') = 1 ] && grep -q '\"DisplayVersion\"=\"$version\"' <<<'$entries'"
  check "win$bits: its folder in HKCU\\Software\\tavio32\\win$bits" grep -qF "\"InstallDir\"=\"${windir//\\/\\\\}\\\\\"" "$WINEPREFIX/user.reg"
  t_upgrade=$(msiexec /i "$work/dist/tavio32-$newer-win$bits.msi")
  entries=$(products "tavio32$suffix")
  check "win$bits: $newer replaces $version, one entry left (got: $entries)" bash -c "[ -n '$t_upgrade' ] && [ \$(wc -l <<<'$entries') = 1 ] && grep -q '\"DisplayVersion\"=\"$newer\"' <<<'$entries'"
  check "win$bits: after the upgrade the same files" diff -r "$work/zip$bits/tavio32-$version-win$bits" "$dir"
  echo "package_msi_test: win$bits after the upgrade: ${entries:-nothing} registered"
  t_remove=$(msiexec /x "$work/dist/tavio32-$newer-win$bits.msi")
  left=$(find "$dir" "$menu" -iname '*tavio32*' 2>/dev/null)
  check "win$bits: msiexec /x leaves no file or Start menu entry (left: $left)" bash -c "[ -n '$t_remove' ] && [ -z '$left' ]"
  entries=$(products "tavio32$suffix")
  check "win$bits: nor an installed program (left: $entries) or HKCU\\Software\\tavio32\\win$bits" bash -c "[ -z '$entries' ] && ! grep -qi 'Software\\\\\\\\tavio32\\\\\\\\win$bits' '$WINEPREFIX/user.reg'"
  echo "package_msi_test: win$bits under Wine: install ${t_install:-?} ms, upgrade ${t_upgrade:-?} ms, uninstall ${t_remove:-?} ms"
done
echo "package_msi_test: $passed passed, $failed failed"
[ "$failed" = 0 ]
