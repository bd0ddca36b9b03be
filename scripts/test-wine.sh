#!/usr/bin/env bash
# Runs the Windows test programs of a cross build under Wine, against native
# device emulators on pseudo-terminals:
#
#   scripts/test-wine.sh WINBUILD [NATIVEBUILD] [--figures]
#
# WINBUILD holds TAVIO32.DLL, tavio32_wine_test.exe and tavio32_wine_load.exe
# (cmake/mingw-*.cmake); NATIVEBUILD (default build/) holds tavio32-sim.
# A fresh Wine prefix in a temporary directory gets COM3..COM6 pointed at the
# emulators (Sios, Zelle, CompuLab, echo); COM1 (the machine's /dev/ttyS0 in
# Wine) and COM2 lead nowhere. TAVIO32_COM7 and TAVIO32_COM8 lead through
# ser2net on loopback to an echo and a Sios of their own (network ports).
# No display: message boxes return at once, except in the message box
# check, which runs on a virtual display (xvfb).
# --figures[=M]: after the tests, timing figures of the DLL under Wine and of
# the Linux build, against the same emulators; the Sios readout records M x 4
# values (default 8000, the full buffer: a minute or more in each).
# Exit status 77: skipped (no Wine for this DLL's word size on this machine).
#
# The 32-bit DLL where this machine cannot run it (32-bit Wine missing, or a
# 32-bit program fails): the same run in an emulated PC
# (scripts/test-wine32-vm.sh). TAVIO32_WINE32=native never goes there
# (skips instead), TAVIO32_WINE32=vm always does.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
all_args=("$@")
figures=0
args=()
for a in "$@"; do
  case "$a" in
    --figures) figures=8000 ;;
    --figures=*) figures="${a#--figures=}" ;;
    *) args+=("$a") ;;
  esac
done
win="$(cd "${args[0]}" && pwd)"
native="$(cd "${args[1]:-$repo/build}" && pwd)"
sim="$native/tavio32-sim"
[ -x "$sim" ] || { echo "test-wine: no $sim (build the native tools first)"; exit 1; }
[ -f "$win/TAVIO32.DLL" ] || { echo "test-wine: no $win/TAVIO32.DLL"; exit 1; }

if objdump -f "$win/TAVIO32.DLL" 2>/dev/null | grep -q 'pei-i386'; then
  bits=32 loader=/usr/lib/wine/wine arch=win32
else
  bits=64 loader=/usr/lib/wine/wine64 arch=win64
fi
route=${TAVIO32_WINE32:-auto}
# cannot REASON: the 32-bit DLL goes to the emulated PC, or is skipped.
cannot() {
  if [ "$bits" = 32 ] && [ "$route" != native ]; then
    echo "test-wine: the 32-bit DLL cannot run on this machine ($1): it runs in an emulated PC"
    declare -F cleanup >/dev/null && { cleanup; trap - EXIT; }
    exec "$repo/scripts/test-wine32-vm.sh" "${all_args[@]}"
  fi
  echo "test-wine: SKIPPED the ${bits}-bit DLL: $1"
  exit 77
}
[ "$bits" = 32 ] && [ "$route" = vm ] && exec "$repo/scripts/test-wine32-vm.sh" "${all_args[@]}"
if [ ! -x "$loader" ]; then
  pkg=wine64; [ "$bits" = 32 ] && pkg=wine32:i386
  cannot "$loader is not installed (package $pkg; scripts/setup.sh --optional test tries it again)"
fi
# A 32-bit Linux program, tried: the loader itself.
"$loader" --version >/dev/null 2>&1 || cannot "this machine cannot run ${bits}-bit Linux programs ($loader fails)"

tmp="$(mktemp -d /tmp/tavio32-wine.XXXXXX)"
pids=()
export WINEPREFIX="$tmp/prefix" WINEARCH="$arch" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=C.UTF-8 LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
  # The wineserver first, while the pseudo-terminals still exist.
  WINEPREFIX="$tmp/prefix" timeout 20 wineserver -k >/dev/null 2>&1 || true
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap cleanup EXIT

ms() { echo $(($(date +%s%N) / 1000000)); }
secs() { local d=$(($(ms) - start)); printf '%d.%d' $((d / 1000)) $((d % 1000 / 100)); }
start=$(ms)
if ! timeout 120 "$loader" wineboot -i >"$tmp/wineboot.log" 2>&1; then
  cat "$tmp/wineboot.log"
  # The first Windows program: where 32-bit code cannot run, it fails here.
  [ "$bits" = 32 ] && cannot "wineboot fails"
  echo "test-wine: wineboot failed"
  exit 1
fi
timeout 60 wineserver -w || true
mkdir -p "$tmp/scratch"
serve() { # COM LOGNAME device [options...]
  local com=$1 log=$2 device=$3
  shift 3
  "$sim" --device "$device" --link "$tmp/$com" --com "${com^^}" --log "$@" >"$tmp/$log.log" 2>&1 &
  pids+=($!)
}
serve com3 sios sios --din 0x96 --ain 1=77
serve com4 zelle zelle --din 0x96
serve com5 compulab compulab --din 0x96
serve com6 echo echo
serve com7 echo-net echo
serve com8 sios-net sios --din 0x5A --ain 2=123
for com in com3 com4 com5 com6 com7 com8; do
  for _ in $(seq 100); do [ -L "$tmp/$com" ] && break; sleep 0.05; done
done
for com in com3 com4 com5 com6; do ln -sfn "$tmp/$com" "$WINEPREFIX/dosdevices/$com"; done
ln -sfn "$tmp/nowhere" "$WINEPREFIX/dosdevices/com1"
ln -sfn "$tmp/nowhere" "$WINEPREFIX/dosdevices/com2"

# ser2net in front of com7 and com8 on free loopback ports, (re)started by
# start_ser2net; the test program ends it through the file net-stop (a
# server that goes away).
free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
listening() { grep -q "0100007F:$(printf '%04X' "$1") 00000000:0000 0A" /proc/net/tcp; }
start_ser2net() {
  local p7 p8 c
  p7=$(free_port) p8=$(free_port)
  : >"$tmp/ser2net.yaml"
  for c in "echo com7 $p7" "sios com8 $p8"; do
    set -- $c
    printf 'connection: &%s\n  accepter: telnet(rfc2217),tcp,127.0.0.1,%s\n  connector: serialdev,%s,19200n82,local\n  options:\n    chardelay: false\n' \
      "$1" "$3" "$(readlink -f "$tmp/$2")" >>"$tmp/ser2net.yaml"
  done
  ser2net -n -d -u -P "$tmp/ser2net.pid" -c "$tmp/ser2net.yaml" >"$tmp/ser2net.log" 2>&1 &
  ser2net_pid=$!
  disown "$ser2net_pid" # its end is the test's doing, not news
  pids+=($ser2net_pid)
  for _ in $(seq 200); do listening "$p7" && listening "$p8" && break; sleep 0.025; done
  if ! listening "$p7" || ! listening "$p8"; then
    cat "$tmp/ser2net.log"
    echo "test-wine: ser2net did not start (it needs an address besides loopback's to bind 127.0.0.1)"
    return 1
  fi
  export TAVIO32_COM7="rfc2217://127.0.0.1:$p7" TAVIO32_COM8="rfc2217://127.0.0.1:$p8"
}
command -v ser2net >/dev/null || { echo "test-wine: ser2net is not installed (apt install ser2net)"; exit 1; }
start_ser2net || exit 1
(while [ ! -e "$tmp/scratch/net-stop" ]; do sleep 0.02; done; kill -9 "$ser2net_pid") &
pids+=($!)
echo "test-wine: ${bits}-bit DLL, prefix ready in $(secs) s"

status=0
winpath() { echo "Z:${1//\//\\}"; }
cp "$win/TAVIO32.DLL" "$win/tavio32_wine_test.exe" "$win/tavio32_wine_load.exe" "$tmp/"
timeout 300 "$loader" "$tmp/tavio32_wine_test.exe" "$(winpath "$tmp")" "$(winpath "$tmp/tavio32_wine_load.exe")" \
  "$(winpath "$tmp/scratch")" || status=1
# After the first process has gone the library loads again, and an unload
# closes the port it left open.
timeout 60 "$loader" "$tmp/tavio32_wine_load.exe" cycle COM6 || status=1
timeout 60 "$loader" "$tmp/tavio32_wine_load.exe" program "$(winpath "$tmp/scratch")" || status=1
# The same with a network port: each unload ends the connection.
start_ser2net || status=1
timeout 120 "$loader" "$tmp/tavio32_wine_load.exe" cycle COM7 || status=1
# The version message box, on a virtual display: its caption and text, and
# that VERSION waits until it is closed.
if command -v xvfb-run >/dev/null; then
  timeout 20 wineserver -k >/dev/null 2>&1 || true
  timeout 120 xvfb-run -a sh -c '"$1" "$2" message; s=$?; wineserver -k; exit $s' sh "$loader" \
    "$tmp/tavio32_wine_load.exe" 2>/dev/null || status=1
else
  echo "test-wine: SKIPPED the message box check: xvfb-run is not installed"
fi
if [ "$figures" != 0 ]; then
  cp "$win/tavio32_figures.exe" "$tmp/"
  echo "figures: ${bits}-bit DLL under Wine"
  timeout 600 "$loader" "$tmp/tavio32_figures.exe" COM6 COM3 "$(winpath "$tmp/sios.log")" "$figures" || status=1
  echo "figures: ${bits}-bit DLL under Wine, through ser2net (network ports)"
  start_ser2net || status=1
  timeout 600 "$loader" "$tmp/tavio32_figures.exe" COM7 COM8 "$(winpath "$tmp/sios-net.log")" "$figures" || status=1
  echo "figures: Linux build ($native)"
  if ! command -v g++ >/dev/null; then
    echo "  not measured: no g++ here"
  else
    g++ -O2 -std=c++20 "$repo/tests/win/figures.cpp" -I"$repo/include" -L"$native" -ltavio32 \
      -Wl,-rpath,"$native" -o "$tmp/figures-linux"
    # The Linux library's one-process lock is machine-wide: wait while another
    # program (a test run elsewhere) holds it.
    for attempt in $(seq 30); do
      if TAVIO32_COM6="$tmp/com6" TAVIO32_COM3="$tmp/com3" timeout 600 "$tmp/figures-linux" COM6 COM3 "$tmp/sios.log" \
        "$figures" </dev/null 2>"$tmp/figures.err"; then
        break
      fi
      grep -q "Nonshared DATA segment required" "$tmp/figures.err" && [ "$attempt" -lt 30 ] && { sleep 2; continue; }
      cat "$tmp/figures.err"
      status=1
      break
    done
  fi
fi
# tavio32.exe, where the build has it: its own tests and the Linux
# command's tests of the same behaviour (tests/python), with the program
# under Wine as `tavio32` (tests/win/wine_cli.sh points the prefix's COM
# ports at each test's emulators).
if [ -f "$win/tavio32.exe" ] && [ -n "${TAVIO32_WINE_WHERE:-}" ]; then
  # The emulated PC has no browser nor the tests' Python modules.
  echo "test-wine: SKIPPED tavio32.exe: its tests run where Wine runs on the machine itself"
elif [ -f "$win/tavio32.exe" ]; then
  cp "$win/tavio32.exe" "$tmp/"
  echo "test-wine: ${bits}-bit tavio32.exe"
  command_tests() {
    (cd "$repo/tests/python" &&
    TAVIO32_CLI="$repo/tests/win/wine_cli.sh" TAVIO32_WINE="$loader" TAVIO32_EXE="$tmp/tavio32.exe" \
    TAVIO32_SIM="$sim" TAVIO32_LINUX_CLI="$native/tavio32" TAVIO32_ARTIFACTS="$tmp/scratch" \
    timeout 900 /usr/bin/python3 -m unittest test_wine_command \
      test_cli.Usage test_cli.Detect test_cli.Write test_cli.Monitor test_cli.Record.test_record_writes_raw_table_csv_and_plot \
      test_cli.Record.test_zelle_blocks test_cli.Read.test_piped_output_is_csv_with_increasing_times \
      test_cli.Read.test_simulation_without_interface_and_csv_file test_cli.Read.test_silent_interface_is_reported \
      test_serve.Access test_serve.Outputs test_serve.Faults.test_signals_end_it_within_a_second_and_free_the_port \
      test_serve.Faults.test_vanished_device_is_an_error_then_live_again \
      test_browser)
  }
  # Run once more after a failure, as scripts/test.sh does: the timing
  # bounds can be missed on a loaded machine.
  command_tests || { echo "test-wine: tavio32.exe's tests once more"; command_tests; } || status=1
else
  echo "test-wine: SKIPPED tavio32.exe: not in $win"
fi
echo "test-wine: ${bits}-bit DLL under Wine ${TAVIO32_WINE_WHERE:-on this machine}: $([ $status -eq 0 ] && echo passed || echo FAILED) in $(secs) s"
exit $status
