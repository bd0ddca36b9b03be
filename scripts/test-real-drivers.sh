#!/usr/bin/env bash
# The library on the kernel's own serial drivers: an emulated PC (the image
# of scripts/vm-image.sh, under TCG) with two 16550 UARTs (driver 8250) and
# up to three FTDI USB adapters (driver ftdi_sio), each leading through a
# host pseudo-terminal to a tavio32-sim emulator here, which takes only
# bytes sent at its device's rate: every line setting goes through the
# guest's driver and back.
#
#   scripts/test-real-drivers.sh [NATIVEBUILD]      (default build/)
#
# In the PC: the udev rule numbers the adapters as they are plugged in (the
# Sios at boot, the Zelle and an echo adapter later, through QEMU's monitor);
# the RealDevice tests on both drivers; detect, read, record and the Python
# package through USB with no variable; an adapter moved to another socket;
# pulled out during read, record, the Python package and serve, and plugged
# in again; then a second boot with the adapters in another order, which
# must keep their numbers. Exit status 77: skipped (no emulator tools, or no
# image to be had), said in one line.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
say() { echo "real-drivers: $*"; }
PATH=$PATH:/usr/sbin:/sbin # mke2fs, for users whose PATH has no sbin

# --- inside the PC ----------------------------------------------------------
if [ "${1:-}" = --guest ]; then
  boot=$(cat /mnt/out/boot)
  export HOME=/tmp/home LANG=C.UTF-8 LD_LIBRARY_PATH=/mnt/native
  export PATH=/mnt/native:$PATH PYTHONPATH=/mnt/repo/python:/mnt/repo/tests/python
  export TAVIO32_CLI=/mnt/native/tavio32
  # Under TCG the PC runs several times slower: the command's grace for
  # the system to notice a pulled adapter stretches as well.
  export TAVIO32_TIME_SLACK=4
  # COM1 is the PC's console: nothing may probe it.
  export TAVIO32_COM1=
  mkdir -p "$HOME" /var/lib/tavio32
  mount /dev/vdb /var/lib/tavio32 # the numbers survive the restart
  ip link set lo up
  passed=0 failed=0
  check() { # NAME COMMAND...: one line per check
    local name=$1
    shift
    if out=$("$@" 2>&1); then
      passed=$((passed + 1))
      echo "real-drivers: ok   $name"
      printf '%s\n' "$out" | grep '^figures:' | sed 's/^/real-drivers: /' || true
    else
      failed=$((failed + 1))
      echo "real-drivers: FAIL $name"
      printf '%s\n' "$out" | tail -15 | sed 's/^/    /'
    fi
  }
  n=0
  monitor() { # a command for QEMU's monitor, carried out by the host
    n=$((n + 1))
    echo "$*" >/mnt/out/request.tmp
    mv /mnt/out/request.tmp "/mnt/out/request-$n"
    for _ in $(seq 600); do
      if [ -f "/mnt/out/done-$n" ]; then
        # QEMU's answer: nothing but the command and its prompt when it went well.
        if grep -q -i -E "error|fail|not found|duplicate" "/mnt/out/done-$n"; then
          echo "real-drivers: QEMU's monitor: $(tr -d '\r' <"/mnt/out/done-$n" | tr '\n' ' ')"
          return 1
        fi
        return 0
      fi
      sleep 0.1
    done
    echo "the host did not carry out: $*"
    return 1
  }
  adapter() { # ID SERIAL [PORT]: plugs an FTDI adapter into the USB controller
    monitor "device_add usb-serial,id=$1,chardev=c$1,serial=$2,bus=xhci.0${3:+,port=$3}"
  }
  wait_for() { # PATH [present|absent] [SECONDS]
    local i
    for i in $(seq $((${3:-20} * 10))); do
      if [ "${2:-present}" = present ]; then [ -e "$1" ] && return 0; else [ -e "$1" ] || return 0; fi
      sleep 0.1
    done
    echo "$1 is not ${2:-present} after ${3:-20} s"
    ls -l /dev/tavio32 /dev/ttyUSB* 2>&1
    cat /var/lib/tavio32/com-ports 2>&1
    return 1
  }
  number_is() { # COMn SERIAL
    grep -q "^$1 0403:6001 serial=$2 if=00" /var/lib/tavio32/com-ports || { cat /var/lib/tavio32/com-ports; return 1; }
  }
  has() { # TEXT COMMAND...: the command's output holds TEXT
    local text=$1 out
    shift
    out=$("$@" 2>&1) || true
    printf '%s\n' "$out"
    printf '%s\n' "$out" | grep -q -F -- "$text"
  }
  fails_with() { # STATUS TEXT COMMAND...
    local want=$1 text=$2 out rc=0
    shift 2
    out=$("$@" 2>&1) || rc=$?
    printf '%s\n(exit %s)\n' "$out" "$rc"
    [ "$rc" = "$want" ] && printf '%s\n' "$out" | grep -q -F -- "$text"
  }
  say "boot $boot: the emulated PC is up after $(cut -d' ' -f1 /proc/uptime) s ($(uname -r))"
  # udev, with the package's rule pointing at the build's helper.
  mkdir -p /etc/udev/rules.d
  sed "s|@TAVIO32_NUMBER_HELPER@|/mnt/native/tavio32-number|" /mnt/repo/packaging/linux/60-tavio32.rules.in \
    >/etc/udev/rules.d/60-tavio32.rules
  /lib/systemd/systemd-udevd --daemon
  udevadm trigger --action=add >/dev/null 2>&1
  udevadm settle --timeout=120 || true
  modprobe ftdi_sio 2>/dev/null || true

  if [ "$boot" = 1 ]; then
    check "the first adapter gets COM4: COM1 to COM3 are the PC's UARTs, ttyS3 (type 0) hides nothing" \
      bash -c "$(declare -f wait_for number_is); wait_for /dev/tavio32/COM4 && number_is COM4 TAVIOSIOS"
    adapter zelle TAVIOZELLE
    check "an adapter plugged in later gets the next number (COM5)" \
      bash -c "$(declare -f wait_for number_is); wait_for /dev/tavio32/COM5 && number_is COM5 TAVIOZELLE"
    adapter echo TAVIOECHO
    check "and the third COM6" bash -c "$(declare -f wait_for number_is); wait_for /dev/tavio32/COM6 && number_is COM6 TAVIOECHO"
    check "tavio32 ports shows the adapters with their numbers" has "COM6" tavio32 ports
    # The port functions on both drivers.
    for dev in /dev/ttyS2 /dev/tavio32/COM6; do
      check "RealDevice on $dev ($(basename "$(readlink -f /sys/class/tty/"$(basename "$(readlink -f $dev)")"/device/driver)"))" \
        has "[  PASSED  ] 4 tests" env TAVIO32_TEST_LOOPBACK=$dev /mnt/native/tests/real_device_test --gtest_color=no
    done
    for dev in /dev/ttyS2 /dev/tavio32/COM6; do
      echo "real-drivers: figures on $dev: $(TAVIO32_COM7=$dev python3 /mnt/repo/bench/bench_drivers.py 2>&1)"
    done
    # Found and used through USB with no variable for it.
    check "detect finds the Zelle on COM2 (/dev/ttyS1)" has "Zelle on COM2 (/dev/ttyS1)" tavio32 detect
    check "detect finds the Sios on its adapter (COM4)" has "Sios on COM4 (/dev/ttyUSB" env TAVIO32_COM2= TAVIO32_COM3= tavio32 detect
    check "the Python package's detect finds it too" has "sios 4" env TAVIO32_COM2= TAVIO32_COM3= \
      python3 -c 'import tavio32; i = tavio32.detect(); print(i.name, i.port)'
    check "read the Sios on COM4 through ftdi_sio" has "time_ms,channel 1,channel 2" \
      tavio32 read --interface sios --port 4 --channels 1,2 --count 20 --every 20
    check "read the Zelle on COM5 through ftdi_sio" has "time_ms,channel 1" tavio32 read --interface zelle --port 5 --channels 1 --count 5 --every 50
    t0=$(date +%s%N)
    check "record 200 x 2 values on the Sios through ftdi_sio" has "Wrote /tmp/" \
      tavio32 record --interface sios --port 4 --measurements 200 --channels 1,2 --interval 5 --out /tmp/sios
    echo "real-drivers: figures: Sios recording of 200 x 2 values at 5 ms (1.0 s) with readout through ftdi_sio: $((($(date +%s%N) - t0) / 1000000)) ms"
    check "record the Zelle through ftdi_sio" has "Wrote /tmp/" \
      tavio32 record --interface zelle --port 5 --measurements 50 --channels 1 --interval 20 --out /tmp/zelle
    check "the Python package reads the Sios on COM4" has "ok" python3 -c '
import tavio32
with tavio32.open("sios", 4) as s:
    assert 0 <= s.ain(1) <= 255
print("ok")'
    # Moved to another socket: the same number, wherever its line is now.
    monitor "device_del sios"
    check "pulled out: its link goes" wait_for /dev/tavio32/COM4 absent
    check "COM4 says its adapter is not plugged in" fails_with 1 "the USB adapter of COM4" \
      tavio32 read --interface sios --port 4 --count 1
    adapter sios TAVIOSIOS 4
    check "plugged into another socket: COM4 again" bash -c "$(declare -f wait_for number_is); wait_for /dev/tavio32/COM4 && number_is COM4 TAVIOSIOS"
    check "and it reads" has "time_ms" tavio32 read --interface sios --port 4 --count 3 --every 20
    # Pulled out in the middle of a measurement.
    unplug_during() { # NAME SECONDS COMMAND...: pulls the Sios after SECONDS; the command must say so
      local name=$1 after=$2 pid rc=0 t0
      shift 2
      "$@" >/tmp/out.txt 2>&1 &
      pid=$!
      sleep "$after"
      t0=$(date +%s%N)
      monitor "device_del sios"
      for _ in $(seq 300); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      if kill -0 "$pid" 2>/dev/null; then
        kill "$pid"
        echo "still running 30 s after the adapter was pulled" >>/tmp/out.txt
      fi
      wait "$pid" || rc=$?
      echo "(exit $rc, $((($(date +%s%N) - t0) / 1000000)) ms after the unplug)" >>/tmp/out.txt
      check "$name" bash -c "cat /tmp/out.txt; [ $rc = 1 ] && grep -q 'the USB adapter of COM4 was removed' /tmp/out.txt"
      adapter sios TAVIOSIOS
      check "plugged in again: COM4" wait_for /dev/tavio32/COM4
    }
    unplug_during "read ends with the adapter's removal, status 1" 2 tavio32 read --interface sios --port 4 --every 20
    unplug_during "record ends with the adapter's removal, status 1" 1 \
      tavio32 record --interface sios --port 4 --measurements 400 --channels 1 --interval 10 --out /tmp/pulled
    unplug_during "the Python package raises AdapterRemovedError" 2 python3 -c '
import sys, tavio32
with tavio32.open("sios", 4) as s:
    try:
        while True:
            s.ain(1)
    except tavio32.AdapterRemovedError as e:
        print(e)
        sys.exit(1)'
    check "serve shows the removal, keeps its clients and resumes by itself" \
      python3 /mnt/repo/tests/drivers/serve_unplug.py
  else
    # A restart, with the adapters plugged into other sockets in another order.
    check "after the restart each adapter keeps its number" bash -c "$(declare -f wait_for number_is); wait_for /dev/tavio32/COM6 && wait_for /dev/tavio32/COM5 && wait_for /dev/tavio32/COM4 && number_is COM4 TAVIOSIOS && number_is COM5 TAVIOZELLE && number_is COM6 TAVIOECHO"
    check "and the Zelle reads on COM5" has "time_ms" tavio32 read --interface zelle --port 5 --channels 1 --count 3 --every 50
    check "and the Sios on COM4" has "time_ms" tavio32 read --interface sios --port 4 --count 3 --every 20
  fi
  say "boot $boot: $passed passed, $failed failed; last check $(cut -d' ' -f1 /proc/uptime) s after the boot"
  [ "$failed" = 0 ]
  exit
fi

# --- on this machine --------------------------------------------------------
native="$(cd "${1:-$repo/build}" && pwd)"
for f in tavio32 tavio32-sim tavio32-number libtavio32.so.1 tests/real_device_test; do
  [ -e "$native/$f" ] || { say "no $native/$f (build the tests first)"; exit 1; }
done
. "$repo/scripts/vm-image.sh"
if tool=$(vm_tool_missing); then
  say "SKIPPED: $tool is not installed for the emulated PC (scripts/setup.sh vm installs the tools)"
  exit 77
fi
rc=0
vm_image real-drivers || rc=$?
[ "$rc" = 0 ] || exit "$rc"

work=$(mktemp -d /tmp/tavio32-drivers.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
mkdir "$work/out"
# The numbers' disk, kept from the first boot to the second.
truncate -s 16M "$work/numbers.img"
mke2fs -q -F -t ext4 "$work/numbers.img"
emulator() { # NAME DEVICE
  "$native/tavio32-sim" --device "$2" --link "$work/$1" >/dev/null 2>"$work/$1.log" &
  pids+=($!)
}
emulator uart1 zelle
emulator uart2 echo
emulator sios sios
emulator zelle zelle
emulator echo echo
for l in uart1 uart2 sios zelle echo; do
  for _ in $(seq 100); do [ -e "$work/$l" ] && break; sleep 0.05; done
done
echo "#!/bin/sh
bash /mnt/repo/scripts/test-real-drivers.sh --guest" >"$work/out/run"

# QEMU's monitor, for the guest's requests (plug, pull) through its folder.
monitor_loop() {
  while :; do
    for r in "$work"/out/request-*; do
      [ -e "$r" ] || continue
      local n=${r##*-}
      python3 - "$work/monitor" "$(cat "$r")" <<'EOF' >"$work/out/answer-$n" 2>&1
import socket, sys
s = socket.socket(socket.AF_UNIX)
s.connect(sys.argv[1])
def prompt():
    got = b""
    while not got.endswith(b"(qemu) "):
        b = s.recv(4096)
        if not b:
            break
        got += b
    return got
prompt()
s.sendall(sys.argv[2].encode() + b"\n")
print(prompt().decode(errors="replace"))
EOF
      rm -f "$r"
      mv "$work/out/answer-$n" "$work/out/done-$n"
    done
    sleep 0.1
  done
}

start=$(date +%s%N)
secs() { local d=$((($(date +%s%N) - start) / 100000000)); echo "$((d / 10)).$((d % 10))"; }
boot() { # NUMBER ADAPTERS...: adapters plugged in at boot, as ID:SERIAL:PORT
  local b=$1 status
  shift
  echo "$b" >"$work/out/boot"
  rm -f "$work/out/status" "$work/out"/done-* "$work/monitor"
  local usb=()
  for a in "$@"; do
    IFS=: read -r id serial port <<<"$a"
    usb+=(-device "usb-serial,id=$id,chardev=c$id,serial=$serial,bus=xhci.0,port=$port")
  done
  monitor_loop &
  local loop=$!
  set +e
  timeout 1500 qemu-system-x86_64 -machine q35 -accel tcg,thread=multi \
    -cpu qemu64,+ssse3,+sse4.1,+sse4.2,+popcnt -m 2048 -smp 2 \
    -nodefaults -display none -no-reboot -serial stdio \
    -chardev "serial,id=uart1,path=$work/uart1" -serial chardev:uart1 \
    -chardev "serial,id=uart2,path=$work/uart2" -serial chardev:uart2 \
    -device qemu-xhci,id=xhci -monitor "unix:$work/monitor,server,nowait" \
    -chardev "serial,id=csios,path=$work/sios" -chardev "serial,id=czelle,path=$work/zelle" \
    -chardev "serial,id=cecho,path=$work/echo" "${usb[@]}" \
    -kernel "$kernel" -initrd "$initrd" \
    -append "root=/dev/vda rw console=ttyS0 quiet loglevel=3 panic=-1 init=/tavio32-init" \
    -drive "file=$image/root.ext2,format=raw,if=virtio,snapshot=on" \
    -drive "file=$work/numbers.img,format=raw,if=virtio" \
    -virtfs "local,path=$repo,mount_tag=repo,security_model=none,readonly=on" \
    -virtfs "local,path=$native,mount_tag=native,security_model=none,readonly=on" \
    -virtfs "local,path=$work/out,mount_tag=out,security_model=none" \
    </dev/null 2>&1 | while IFS= read -r line; do echo "${line%$'\r'}"; done
  set -e
  kill "$loop" 2>/dev/null || true
  wait "$loop" 2>/dev/null || true
  status=$(cat "$work/out/status" 2>/dev/null || echo none)
  if [ "$status" = none ]; then
    say "boot $b: FAILED, the PC ended after $(secs) s without a result"
    return 1
  fi
  [ "$status" = 0 ]
}
# The same figures on a pseudo-terminal here, for comparison.
emulator pty echo
for _ in $(seq 100); do [ -e "$work/pty" ] && break; sleep 0.05; done
say "figures on a pseudo-terminal (this machine): $(TAVIO32_COM7=$work/pty LD_LIBRARY_PATH=$native python3 "$repo/bench/bench_drivers.py" 2>&1)"
say "the emulated PC (TCG): 8250 and ftdi_sio, emulators from $native"
result=0
boot 1 sios:TAVIOSIOS:1 || result=1
boot 2 echo:TAVIOECHO:1 zelle:TAVIOZELLE:2 sios:TAVIOSIOS:3 || result=1
say "the kernel's drivers in the emulated PC: $([ "$result" = 0 ] && echo passed || echo FAILED); $(secs) s in all"
exit "$result"
