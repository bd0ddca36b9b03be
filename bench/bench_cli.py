#!/usr/bin/env python3
"""Figures for the tavio32 command and the Python package.

    bench/bench_cli.py [BUILD_DIR]      (default: build)

1. Python call overhead: GETHARD through tavio32.raw per call, against the
   same call from C (gethard_calls), and the ratio.
2. `tavio32 read --every 10 --count 1000` (the simulation, four channels):
   lateness of each sample against its schedule (i x 10 ms), the drift at
   the end and the worst lateness.
3. `tavio32 record` of 1000 x 2 values every 10 ms on the emulated Sios, from
   start to files written, against its floor: the recording's own duration
   plus 2 ms for every byte sent to the interface (counted by tavio32-sim)
   plus the 100 ms wait after the start command.

Runs one program at a time (the library allows one process)."""
import csv
import io
import os
import subprocess
import sys
import tempfile
import threading
import time
import timeit

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build"))
cli = os.path.join(build, "tavio32")
sim = os.path.join(build, "tavio32-sim")
env = dict(os.environ, **{"TAVIO32_COM%d" % n: "" for n in range(10)})


def run(args, **kw):
    """subprocess.run, waiting while another process (another program on this
    machine) holds the library."""
    for _ in range(60):
        r = subprocess.run(args, capture_output=True, text=True, **kw)
        if r.returncode == 0 or "tavio32 library" not in r.stderr:
            break
        time.sleep(2)
    if r.returncode != 0:
        sys.exit("bench_cli: %s failed: %s" % (args[0], r.stderr.strip()))
    return r


def c_overhead():
    runs = [float(run([os.path.join(build, "bench", "gethard_calls"), "2000000"], env=env).stdout)
            for _ in range(5)]
    return sorted(runs)[2]


def python_overhead():
    code = ("import sys, timeit; sys.path.insert(0, sys.argv[1]); import tavio32; f = tavio32.raw.GETHARD; "
            "print(min(timeit.repeat(f, number=200000, repeat=5)) / 200000 * 1e9)")
    out = run([sys.executable, "-c", code, os.path.join(root, "python")],
              env=dict(env, TAVIO32_LIBRARY=os.path.join(build, "libtavio32.so"))).stdout
    return float(out)


def read_period():
    r = run([cli, "read", "--every", "10", "--count", "1000"], env=env)
    rows = list(csv.reader(io.StringIO(r.stdout)))[1:]
    late = [float(row[0]) - 10.0 * i for i, row in enumerate(rows)]
    return len(rows), late[-1], max(late), sorted(late)[len(late) // 2]


def record_time():
    with tempfile.TemporaryDirectory() as d:
        link = os.path.join(d, "com3")
        s = subprocess.Popen([sim, "--device", "sios", "--link", link, "--log"], stdout=subprocess.PIPE, text=True)
        s.stdout.readline()
        log = []
        reader = threading.Thread(target=lambda: log.extend(s.stdout), daemon=True)
        reader.start()
        e = dict(env, TAVIO32_COM3=link)
        args = [cli, "record", "--interface", "sios", "--port", "3", "--measurements", "1000", "--channels",
                "1,2", "--interval", "10", "--out", os.path.join(d, "run")]
        while True:
            t0 = time.monotonic()
            r = subprocess.run(args, env=e, capture_output=True, text=True)
            took = (time.monotonic() - t0) * 1e3
            if "tavio32 library" not in r.stderr:
                break
            time.sleep(2)
        if r.returncode != 0:
            sys.exit("bench_cli: tavio32 record failed: " + r.stdout + r.stderr)
        time.sleep(0.3)
        s.terminate()
        s.wait(10)
        reader.join(10)
        sent = sum(1 for line in log if " ms " in line and "ignored" not in line)
        for ext in ("dat", "txt", "csv", "svg"):
            assert os.path.getsize(os.path.join(d, "run." + ext)) > 0
    recording = 1000 * 10.0
    floor = recording + 2.0 * sent + 100.0
    return took, recording, sent, floor


c_ns = c_overhead()
py_ns = python_overhead()
print("Python call overhead: GETHARD through tavio32.raw %.0f ns per call, from C %.1f ns; %.0f x"
      % (py_ns, c_ns, py_ns / c_ns))
n, drift, worst, median = read_period()
print("tavio32 read --every 10 --count 1000: %d samples, drift at the end %.1f ms, worst lateness %.1f ms, "
      "median lateness %.1f ms" % (n, drift, worst, median))
took, recording, sent, floor = record_time()
print("tavio32 record 1000 x 2 values every 10 ms (emulated Sios): %.0f ms start to files; floor %.0f ms "
      "(recording %.0f ms + %d bytes sent x 2 ms + 100 ms after the start); ratio %.3f x"
      % (took, floor, recording, sent, took / floor))
