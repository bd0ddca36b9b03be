#!/usr/bin/env bash
# Proof that the README's two commands set up a new machine: makes a minimal
# Debian 12 root with mmdebstrap, clones the committed checkout into it, and
# runs scripts/demo.sh and then scripts/test.sh inside it as root (with
# /proc, /sys, /dev/pts and /dev/shm mounted), timing each to its last line
# and adding up what apt downloaded. Then removes the root. Not part of CI.
#
#   scripts/fresh-machine.sh [--no-i386-lists] [--wine32-vm] [--demo-only] [--keep]
#
# --no-i386-lists points the i386 architecture at an address that refuses,
# as on a mirror whose i386 lists cannot be had (the 32-bit DLL's Wine tests
# then go to the emulated PC, whose own lists come from the mirror).
# --wine32-vm runs the test command as TAVIO32_WINE32=vm scripts/test.sh:
# the 32-bit DLL's Wine tests in the emulated PC (scripts/test-wine32-vm.sh),
# its image made in the root, as on a machine that cannot run 32-bit
# programs. Needs root and about 4 GB (6 GB with the emulated PC).
# The root shares the machine's network (apt needs it), and with it the
# library's one-process lock: run it while no other program uses the library.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
no_i386=0 demo_only=0 keep=0 test_cmd=scripts/test.sh
for a in "$@"; do
  case "$a" in
    --no-i386-lists) no_i386=1 ;;
    --wine32-vm) test_cmd="TAVIO32_WINE32=vm scripts/test.sh" ;;
    --demo-only) demo_only=1 ;;
    --keep) keep=1 ;;
    *) echo "usage: scripts/fresh-machine.sh [--no-i386-lists] [--wine32-vm] [--demo-only] [--keep]" >&2; exit 2 ;;
  esac
done
[ "$(id -u)" -eq 0 ] || { echo "fresh-machine: needs root (mmdebstrap, chroot, mounts)" >&2; exit 1; }
. "$repo/scripts/fresh-root.sh"

logs=$(mktemp -d /tmp/tavio32-fresh-logs.XXXXXX)
start=$(date +%s)
echo "== fresh-machine: a minimal Debian 12 root"
fresh_root_make fresh
echo "== fresh-machine: root made in $root in $(($(date +%s) - start)) s ($(du -sm "$root" | cut -f1) MB)"
if [ "$no_i386" = 1 ]; then
  cat >"$root/etc/apt/sources.list" <<EOF
deb [arch=amd64] $mirror bookworm main
deb [arch=amd64] $mirror bookworm-updates main
deb [arch=amd64] $security bookworm-security main
# i386 lists from an address that refuses every connection
deb [arch=i386] http://127.0.0.1:9/debian bookworm main
deb [arch=i386] http://127.0.0.1:9/debian-security bookworm-security main
EOF
fi
git clone -q "$repo" "$root/root/tavio32"
fresh_root_mount

# run NAME COMMAND: runs a README command in the root as a new user would.
run() {
  local name=$1 cmd=$2 t0 status
  t0=$(date +%s.%N)
  set +e
  chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    LANG=C.UTF-8 TERM=dumb CI="${CI:-}" bash -c "cd /root/tavio32 && $cmd" </dev/null 2>&1 | tee "$logs/$name.log"
  status=${PIPESTATUS[0]}
  set -e
  local secs mb
  secs=$(awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN { printf "%.0f", b - a }')
  mb=$(grep -o -E 'Fetched [0-9.]+ [kMG]?B' "$logs/$name.log" | awk '
    { v = $2; u = $3; if (u == "kB") v /= 1000; else if (u == "GB") v *= 1000; else if (u == "B") v /= 1e6; s += v }
    END { printf "%.0f", s }')
  echo "== fresh-machine: $cmd: status $status, $secs s to its last line, $mb MB downloaded" | tee -a "$logs/summary"
  return "$status"
}
status=0
run demo scripts/demo.sh || status=1
if [ "$demo_only" = 0 ]; then run test "$test_cmd" || status=1; fi
echo "== fresh-machine: summary (logs in $logs)"
cat "$logs/summary"
grep -h -E '^(setup|test-wine32-vm):|^test-wine: .*-bit DLL under Wine|^real-drivers: (SKIPPED|boot|the kernel|figures)' "$logs"/*.log || true
exit "$status"
