#!/usr/bin/env bash
# The page's libraries as cmake/web.cmake fetches them, against a registry
# of our own on loopback (python3 -m http.server): the tarball that matches
# web/package-lock.json's hash is unpacked; one changed by a single byte is
# refused, named, and nothing of it is unpacked; -DTAVIO32_WEB_LIBS_DIR
# configures with no server at all.
# The tarballs come from BUILD_DIR, which fetched them; a build from
# -DTAVIO32_WEB_LIBS_DIR has none, and the test is skipped (77).
#   web_libs_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
src=$(cd "$1" && pwd)
build=$(cd "$2" && pwd)
work=$(mktemp -d /tmp/tavio32-weblibs.XXXXXX)
server=
trap '[ -n "$server" ] && kill "$server" && wait "$server"; rm -rf "$work"' EXIT
failed=0 passed=0
check() { local what=$1; shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $what"; fi
}
configure() { # configure BUILD_DIR ARGS...
  local dir=$1; shift
  cmake -S "$src" -B "$dir" -DTAVIO32_TESTS=OFF -DTAVIO32_BENCH=OFF "$@" >"$dir.log" 2>&1
}

# The registry: each package of the lock file at the npm registry's path.
mkdir -p "$work/good" "$work/bad"
python3 - "$src/web/package-lock.json" <<'PY' >"$work/packages"
import json, re, sys
for key, p in json.load(open(sys.argv[1]))["packages"].items():
    if key:
        name = key.split("node_modules/")[-1]
        print(name, p["version"], re.sub("[^A-Za-z0-9_]", "_", name))
PY
while read -r name version id; do
  tgz=$build/web/libs/$id-$version.tgz
  [ -f "$tgz" ] || { echo "web_libs: SKIPPED, $build fetched no $tgz (built from TAVIO32_WEB_LIBS_DIR?)"; exit 77; }
  for kind in good bad; do
    mkdir -p "$work/$kind/$name/-"
    cp "$tgz" "$work/$kind/$name/-/${name##*/}-$version.tgz"
  done
  printf 'x' >>"$work/bad/$name/-/${name##*/}-$version.tgz"
done <"$work/packages"
port=$((20000 + RANDOM % 20000))
python3 -m http.server --bind 127.0.0.1 --directory "$work" "$port" >"$work/server.log" 2>&1 &
server=$!
for _ in $(seq 50); do python3 -c "import urllib.request; urllib.request.urlopen('http://127.0.0.1:$port/')" 2>/dev/null && break; sleep 0.1; done

configure "$work/b-good" -DTAVIO32_WEB_REGISTRY="http://127.0.0.1:$port/good"
check "a tarball with the lock file's hash is taken" grep -q "Configuring done" "$work/b-good.log"
check "and unpacked" test -f "$work/b-good/web/libs/uplot/dist/uPlot.iife.min.js"

configure "$work/b-bad" -DTAVIO32_WEB_REGISTRY="http://127.0.0.1:$port/bad"
check "a changed tarball stops the configure" test "$?" != 0
check "the refusal names the package and the hash" grep -q -i -E "(uplot|qrcode-generator).*could not be fetched.*HASH mismatch" <(tr -d '\n' <"$work/b-bad.log")
check "nothing of it is unpacked" test ! -e "$work/b-bad/web/libs/uplot"

kill "$server" && wait "$server" 2>/dev/null
server=
configure "$work/b-offline" -DTAVIO32_WEB_LIBS_DIR="$work/b-good/web/libs" -DTAVIO32_WEB_REGISTRY=http://127.0.0.1:9/none
check "-DTAVIO32_WEB_LIBS_DIR configures with no server" grep -q "Configuring done" "$work/b-offline.log"
check "and names the page's files from DIR" grep -q "$work/b-good/web/libs/uplot/dist/uPlot.iife.min.js" "$work/b-offline/web/assets.list"

echo "web_libs: $passed passed, $failed failed"
[ "$failed" = 0 ]
