#!/usr/bin/env bash
# The Debian packages in DIST installed as users install them, in a new
# minimal Debian 12 root (mmdebstrap, as scripts/fresh-machine.sh makes
# one): `apt-get install ./*.deb`, then as a user would: the command, its
# manual page, a C program built with pkg-config, a CMake project with
# find_package(tavio32), the Python package, tavio32-sim found by
# `tavio32 detect`, `tavio32 serve --simulate` answering its API; then
# `apt-get purge`, after which no file of the packages may remain.
# Needs root, the network and about 1 GB; takes minutes. Not part of CI.
#
#   tests/package_install_test.sh [DIST]     (default dist/)
#
# The user's steps run in a network namespace of their own (the library's
# one-process lock is per namespace), with the loopback device up.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
dist=$(cd "${1:-$repo/dist}" && pwd)
[ "$(id -u)" -eq 0 ] || { echo "package_install_test: needs root (mmdebstrap, chroot, mounts)" >&2; exit 1; }
ls "$dist"/*.deb >/dev/null || { echo "package_install_test: no .deb files in $dist (scripts/package.sh deb)" >&2; exit 1; }
. "$repo/scripts/fresh-root.sh"
start=$(date +%s)
fresh_root_make install
fresh_root_mount
mkdir -p "$root/root/debs" "$root/root/consumer"
cp "$dist"/*.deb "$root/root/debs/"
cp "$repo"/tests/install_consumer/* "$root/root/consumer/"
echo "== install: a minimal Debian 12 root made in $root in $(($(date +%s) - start)) s"

# in_root [--isolated] COMMAND: runs a shell command in the root, as root
# with a clean environment; --isolated in a network namespace of its own.
in_root() {
  local isolated=0
  [ "$1" = --isolated ] && { isolated=1; shift; }
  local run=(chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8
    DEBIAN_FRONTEND=noninteractive bash -euo pipefail -c "$1")
  if [ "$isolated" = 1 ]; then
    unshare -n bash -c 'ip link set lo up && exec "$@"' _ "${run[@]}"
  else
    "${run[@]}"
  fi
}

echo "== install: apt-get install ./*.deb"
in_root 'apt-get update -q >/dev/null && cd /root/debs && apt-get install -y -q --no-install-recommends ./*.deb' >"$root/install.log" 2>&1 ||
  { cat "$root/install.log"; exit 1; }
sed -n '/^The following NEW packages/,/newly installed/p' "$root/install.log"
echo "== install: apt downloaded for the packages' dependencies: $(grep -o -E '^Fetched [0-9.]+ [kMG]?B' "$root/install.log" || echo nothing)"
in_root 'dpkg-query -W -f="\${Package}\n" libtavio32-1 libtavio32-dev tavio32 python3-tavio32 | xargs -n1 dpkg -L | sort -u' >"$root/files.list"
echo "== install: the packages hold $(wc -l <"$root/files.list") paths"
# What a programmer adds to use them: a compiler, CMake, pkg-config, man.
in_root 'apt-get install -y -q --no-install-recommends gcc libc6-dev pkg-config cmake make man-db >/dev/null'

echo "== install: as a user"
in_root --isolated '
cd /root
tavio32 version
man -P cat tavio32 >man.out 2>&1 && head -4 man.out
tavio32-sim --device sios --link /root/com3 >/root/sim.log 2>&1 &
sim=$!
for _ in $(seq 50); do [ -e /root/com3 ] && break; sleep 0.1; done
export TAVIO32_COM3=/root/com3
cc -Wall -Werror -o consumer-pc consumer/consumer.c $(pkg-config --cflags --libs tavio32)
./consumer-pc | tee out-pc && grep -qx "AIN(1) in range" out-pc
cmake -S consumer -B consumer-build >/dev/null && cmake --build consumer-build >/dev/null
./consumer-build/consumer | tee out-cmake && grep -qx "AIN(1) in range" out-cmake
python3 -c "
import tavio32
assert tavio32.raw.path.startswith(\"/usr/lib/\"), tavio32.raw.path
with tavio32.open(\"sios\", 3) as s:
    assert 0 <= s.ain(1) <= 255
print(\"python: tavio32 from\", tavio32.raw.path)"
tavio32 detect | tee detect.out && grep -q "on COM3" detect.out
kill $sim; wait $sim 2>/dev/null || true
tavio32 serve --simulate --listen 127.0.0.1:8032 >serve.out 2>&1 &
serve=$!
for _ in $(seq 50); do grep -q "^control:" serve.out 2>/dev/null && break; sleep 0.1; done
token=$(grep -o "token=[0-9a-f]*" serve.out)
python3 -c "
import json, urllib.request
s = json.load(urllib.request.urlopen(\"http://127.0.0.1:8032/api/status?$token\"))
assert s[\"interface\"] == \"simulation\", s
print(\"serve: /api/status answers, interface\", s[\"interface\"], \"channels\", s[\"channels\"])"
kill $serve; wait $serve 2>/dev/null || true
echo "user steps: ok"'

echo "== install: apt-get purge"
in_root 'apt-get purge -y -q libtavio32-1 libtavio32-dev tavio32 python3-tavio32 >/dev/null'
left=()
while read -r path; do
  [ "$path" = /. ] && continue
  # A path still there that no other package owns is left over.
  if [ -e "$root$path" ] || [ -L "$root$path" ]; then
    in_root "dpkg-query -S '$path' >/dev/null 2>&1" || left+=("$path")
  fi
done <"$root/files.list"
if [ ${#left[@]} -gt 0 ]; then
  echo "FAILED: after the purge these remain: ${left[*]}"
  exit 1
fi
echo "== install: purged, none of the packages' files remain; all done in $(($(date +%s) - start)) s"
