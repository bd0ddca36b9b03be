#!/usr/bin/env bash
# The 32-bit DLL's Wine tests in a small emulated PC, for machines that
# cannot run 32-bit programs (or where 32-bit Wine cannot be installed):
#
#   scripts/test-wine32-vm.sh WINBUILD [NATIVEBUILD] [--figures[=M]]
#
# The same arguments as scripts/test-wine.sh, which runs inside the PC: a
# Debian 12 amd64 machine with i386 added (packages: scripts/setup.sh
# --list vm-image), booted by qemu-system-x86_64 under TCG (no hardware
# help; TAVIO32_VM_ACCEL=kvm uses KVM, where it works: a nested one may
# open and then never start the guest). The checkout, WINBUILD
# and NATIVEBUILD (its tavio32-sim runs in the PC) reach it as read-only
# shared folders (9p); its console comes back on standard output, its exit
# status through a shared folder of its own. The disk is opened as a
# snapshot: the image is never changed.
#
# The image is made once with mmdebstrap (a few minutes, some 260 MB of
# packages; root, or a user with subordinate ids for mmdebstrap's unshare
# mode) and kept in TAVIO32_VM_CACHE (default ~/.cache/tavio32/wine32-vm),
# in a folder named after a hash of its package list and its init, so a
# changed list makes a new image; later runs cost the boot and the tests.
# TAVIO32_VM_MIRROR: the Debian mirror (default http://deb.debian.org).
# Exit status 77: skipped (no emulator tools, or the i386 package lists
# cannot be had), said in one line.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
say() { echo "test-wine32-vm: $*"; }
PATH=$PATH:/usr/sbin:/sbin # mke2fs, for users whose PATH has no sbin

# --- inside the PC: called by its init, with the shared folders in /mnt ---
if [ "${1:-}" = --guest ]; then
  # /tmp on a disk of its own (ext4): Wine keeps DOS attributes (hidden) in
  # extended attributes, which this kernel's tmpfs does not hold.
  mount /dev/vdb /tmp
  export HOME=/tmp/home LANG=C.UTF-8
  mkdir -p "$HOME"
  # ser2net binds 127.0.0.1 only with another loopback address there.
  ip link set lo up && ip addr add 127.0.0.2/8 dev lo
  read -r accel args <"/mnt/out/job"
  say "the emulated PC is up after $(cut -d' ' -f1 /proc/uptime) s ($(uname -r), $accel)"
  # Under TCG the code runs several times slower: upper time bounds stretch
  # (TAVIO32_TIME_SLACK, read by the Windows test programs), and so does
  # every time limit the scripts give with timeout; lower bounds hold.
  slack=1
  [ "$accel" = tcg ] && slack=4
  mkdir -p /tmp/bin
  printf '#!/bin/sh\ncase $1 in *[!0-9]* | "") exec /usr/bin/timeout "$@" ;; esac\nd=$1\nshift\nexec /usr/bin/timeout $((d * %s)) "$@"\n' \
    "$slack" >/tmp/bin/timeout
  chmod +x /tmp/bin/timeout
  # The PC's serial ports: the first is its console. Wine would make them
  # COM1 and COM2, and the tests' probes would write to the console; gone,
  # COM1 and COM2 lead nowhere, as on a machine whose ports have no device.
  rm -f /dev/ttyS*
  # Output into a pipe, not the console: Wine would draw it as a terminal.
  set +e
  # shellcheck disable=SC2086 # args: the host's options, one word each
  PATH=/tmp/bin:$PATH TAVIO32_WINE32=native TAVIO32_WINE_WHERE="in the emulated PC ($accel)" TAVIO32_TIME_SLACK=$slack \
    /mnt/repo/scripts/test-wine.sh /mnt/win /mnt/native $args 2>&1 | cat
  status=${PIPESTATUS[0]}
  # A skip there (32-bit Wine does not run in the PC either) is a failure.
  [ "$status" = 77 ] && say "32-bit Wine does not run in the emulated PC either" && status=1
  exit "$status"
fi

# --- on this machine ------------------------------------------------------
figures=()
args=()
for a in "$@"; do
  case "$a" in
    --figures | --figures=*) figures=("$a") ;;
    *) args+=("$a") ;;
  esac
done
[ ${#args[@]} -ge 1 ] || { echo "usage: scripts/test-wine32-vm.sh WINBUILD [NATIVEBUILD] [--figures[=M]]" >&2; exit 2; }
win="$(cd "${args[0]}" && pwd)"
native="$(cd "${args[1]:-$repo/build}" && pwd)"
[ -x "$native/tavio32-sim" ] || { say "no $native/tavio32-sim (build the native tools first)"; exit 1; }
[ -f "$win/TAVIO32.DLL" ] || { say "no $win/TAVIO32.DLL"; exit 1; }
# --- the image, made once (shared with scripts/test-real-drivers.sh) ------
. "$repo/scripts/vm-image.sh"
if tool=$(vm_tool_missing); then
  say "SKIPPED the 32-bit DLL: this machine cannot run it, and $tool is not installed for the emulated PC (scripts/setup.sh vm installs the tools)"
  exit 77
fi
rc=0
vm_image test-wine32-vm || rc=$?
[ "$rc" = 0 ] || exit "$rc"

# --- the run --------------------------------------------------------------
out=$(mktemp -d /tmp/tavio32-vm.XXXXXX)
scratch=$(mktemp /var/tmp/tavio32-vm-tmp.XXXXXX)
trap 'rm -rf "$out" "$scratch"' EXIT
truncate -s 4G "$scratch"
mke2fs -q -F -t ext4 "$scratch"
accel=tcg accel_opts=tcg,thread=multi
[ "${TAVIO32_VM_ACCEL:-tcg}" = kvm ] && accel=kvm accel_opts=kvm
echo "$accel ${figures[*]}" >"$out/job"
printf 'bash /mnt/repo/scripts/test-wine32-vm.sh --guest\n' >"$out/run"
share() { echo "local,path=$1,mount_tag=$2,security_model=none${3:+,$3}"; }
start=$(date +%s%N)
secs() { local d=$((($(date +%s%N) - start) / 100000000)); echo "$((d / 10)).$((d % 10))"; }
say "booting the emulated PC (qemu, $accel): the 32-bit DLL of $win"
set +e
timeout 3000 qemu-system-x86_64 -machine q35 -accel "$accel_opts" \
  -cpu qemu64,+ssse3,+sse4.1,+sse4.2,+popcnt -m 3072 -smp 2 \
  -nodefaults -display none -no-reboot -serial stdio \
  -kernel "$kernel" -initrd "$initrd" \
  -append "root=/dev/vda rw console=ttyS0 quiet loglevel=3 panic=-1 init=/tavio32-init" \
  -drive "file=$image/root.ext2,format=raw,if=virtio,snapshot=on" -drive "file=$scratch,format=raw,if=virtio" \
  -virtfs "$(share "$repo" repo readonly=on)" -virtfs "$(share "$win" win readonly=on)" \
  -virtfs "$(share "$native" native readonly=on)" -virtfs "$(share "$out" out)" \
  </dev/null 2>&1 | while IFS= read -r line; do
  line=${line%$'\r'}
  echo "$line"
  case "$line" in test-wine:*DLL\ under\ Wine*) secs >"$out/last-line" ;; esac
done
set -e
status=$(cat "$out/status" 2>/dev/null || echo none)
last=$(cat "$out/last-line" 2>/dev/null || echo "?")
if [ "$status" = none ]; then
  say "the 32-bit DLL in the emulated PC ($accel): FAILED, the PC ended after $(secs) s without a result"
  exit 1
fi
say "the 32-bit DLL in the emulated PC ($accel): $([ "$status" = 0 ] && echo passed || echo FAILED); boot to the last test line $last s, PC off after $(secs) s"
exit "$status"
