#!/usr/bin/env bash
# Installs the build into a temporary prefix and uses it as a user would:
# a C program built once with pkg-config and once with find_package, the
# installed command and the installed Python package, all against an
# emulated Sios. Usage: install_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
src=$2
work=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name tavio32.pc)")/..
libdir=$(cd "$libdir" && pwd)

# The library carries its SONAME and version.
readelf -d "$libdir/libtavio32.so" | grep -q 'SONAME.*libtavio32.so.1' || { echo "no SONAME"; exit 1; }
[ -f "$libdir/libtavio32.so.1.22.0" ] || { echo "no versioned file"; exit 1; }

"$prefix/bin/tavio32-sim" --device sios --link "$work/com3" >"$work/sim.log" &
sim_pid=$!
for _ in $(seq 50); do [ -e "$work/com3" ] && break; sleep 0.1; done
export TAVIO32_COM3=$work/com3

# pkg-config
export PKG_CONFIG_PATH=$libdir/pkgconfig
cc -Wall -Werror -o "$work/consumer-pc" "$src/tests/install_consumer/consumer.c" \
  $(pkg-config --cflags --libs tavio32) -Wl,-rpath,"$libdir"
"$work/consumer-pc" | tee "$work/out-pc"
grep -qx "AIN(1) in range" "$work/out-pc"

# find_package
cmake -S "$src/tests/install_consumer" -B "$work/consumer-build" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_BUILD_RPATH="$libdir" >/dev/null
cmake --build "$work/consumer-build" >/dev/null
"$work/consumer-build/consumer" | tee "$work/out-cmake"
grep -qx "AIN(1) in range" "$work/out-cmake"

# The installed command finds the installed library; so does the package.
"$prefix/bin/tavio32" version | grep -q "^tavio32 1.22"
# ... and its German catalog in share/locale (where the locale is there).
if locale -a 2>/dev/null | grep -qix 'de_DE\.utf-\?8'; then
  env -u LC_ALL -u LANGUAGE LANG=de_DE.UTF-8 "$prefix/bin/tavio32" version --help | grep -q "^Aufruf:"
fi
env -u TAVIO32_LIBRARY PYTHONPATH="$prefix/lib/python3/dist-packages" python3 -c "
import tavio32, os
assert tavio32.raw.path.startswith('$prefix'), tavio32.raw.path
with tavio32.open('sios', 3) as s:
    assert 0 <= s.ain(1) <= 255
print('python: installed package ok')"
man -l "$prefix/share/man/man1/tavio32.1" >/dev/null 2>&1 || [ -s "$prefix/share/man/man1/tavio32.1" ]
echo "install: ok"
