#!/usr/bin/env bash
# The setup script against stub apt-get, dpkg and dpkg-query that fail as
# real mirrors and machines do, and the test command's refusal to start
# while another program holds the library.
set -u
repo=$(cd "$(dirname "$0")/.." && pwd)
failed=0 passed=0
check() { # check WHAT CONDITION...
  local what=$1; shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $what"; fi
}
# setup [VAR=VALUE...] ARGS...: runs the setup script in a new stub state.
setup() {
  STUB=$(mktemp -d)
  mkdir "$STUB/bin"
  for n in apt-get dpkg dpkg-query sudo; do ln -s "$repo/tests/setup/stub" "$STUB/bin/$n"; done
  mkdir -p "$STUB/cache/cpp-httplib" && touch "$STUB/cache/cpp-httplib/httplib.h"
  [ -n "${installed:-}" ] && printf '%s\n' $installed >"$STUB/installed"
  out=$(env STUB="$STUB" TAVIO32_CACHE="$STUB/cache" TAVIO32_WINE32=native PATH="$STUB/bin:$PATH" "$@" 2>&1)
  status=$?
  calls=$(cat "$STUB/calls")
}
has() { grep -q -E -- "$2" <<<"$1"; }
lacks() { ! has "$@"; }
count() { grep -c -E -- "$2" <<<"$1"; }

# A mirror in the middle of a sync: one list fails, twice; the rest goes on.
list=http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz
setup STUB_FAIL_LIST=$list "$repo/scripts/setup.sh" test
check "a failing list does not stop the setup" [ "$status" = 0 ]
check "the update is tried once more" [ "$(count "$calls" '^apt-get update')" = 2 ]
check "the failed list is named in one line" [ "$(count "$out" "could not fetch the package list $list")" = 1 ]
check "the required packages are installed" has "$calls" '^apt-get install .* libgtest-dev .*wine64'
check "the optional package goes alone" has "$calls" '^apt-get install -y -q --no-install-recommends wine32:i386$'
check "the i386 architecture stays with wine32 installed" [ "$(cat "$STUB/foreign")" = i386 ]

# wine32:i386 cannot be had: said in one line, the architecture taken out.
setup STUB_MISSING=wine32:i386 "$repo/scripts/setup.sh" ci
check "an optional package that fails leaves the status 0" [ "$status" = 0 ]
check "required packages never wait for the optional one" has "$calls" '^apt-get install .*valgrind$'
check "the missing 32-bit Wine is said in one line" [ "$(count "$out" '32-bit Wine .* cannot be installed \(Unable to correct problems')" = 1 ]
check "the added architecture is taken out again" has "$calls" '^dpkg --remove-architecture i386'
check "no foreign architecture is left" [ ! -s "$STUB/foreign" ]

# A required package that apt cannot install stops the setup with apt's
# message and what to do; the demo asks for the demo's packages only.
setup STUB_MISSING=libcli11-dev "$repo/scripts/setup.sh" demo
check "a required package that fails stops the setup" [ "$status" = 1 ]
check "apt's own message is shown" has "$out" '^E: Unable to correct problems'
check "one line says what to do" has "$out" "^setup: could not install what 'demo' needs.*run 'apt-get update'"
check "the demo asks for no test tools and no i386" lacks "$calls" 'gtest|wine|valgrind|add-architecture'
check "the demo asks for no npm" lacks "$calls" 'npm'

# The packages' build: its tools, no npm, no test tools, no i386.
setup "$repo/scripts/setup.sh" package
check "the package build installs its tools" has "$calls" '^apt-get install .*mingw-w64.* llvm .*lintian$'
check "the package build asks for no npm, tests or i386" lacks "$calls" 'npm|gtest|wine|add-architecture'

# Nothing missing: nothing fetched.
installed=$("$repo/scripts/setup.sh" --list ci | grep -v i386) setup "$repo/scripts/setup.sh" ci
check "a complete machine needs no setup" [ "$status" = 0 ]
check "a complete machine fetches nothing" lacks "$calls" '^apt-get'

# The test command with the library held by another program: one line
# naming it, at once, before any build.
holder_pid=
python3 -c 'import socket, sys, time
s = socket.socket(socket.AF_UNIX); s.bind("\0tavio32.one-process-lock")
print("held", flush=True); time.sleep(120)' >"${TMPDIR:-/tmp}/holder.$$" &
holder_pid=$!
for _ in $(seq 50); do grep -q held "${TMPDIR:-/tmp}/holder.$$" && break; sleep 0.1; done
installed=$("$repo/scripts/setup.sh" --list test | grep -v i386) setup "$repo/scripts/test.sh"
kill "$holder_pid"; wait "$holder_pid" 2>/dev/null; rm -f "${TMPDIR:-/tmp}/holder.$$"
check "the test command stops while the library is held" [ "$status" = 1 ]
check "it names the holder and what to do" has "$out" "process $holder_pid \(python3\) is using the tavio32 library.*kill $holder_pid"
check "it stops before building" [ "$(wc -l <<<"$out")" = 1 ]

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
