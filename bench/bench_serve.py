#!/usr/bin/env python3
"""Figures for `tavio32 serve`.

    bench/bench_serve.py [BUILD_DIR]      (default: build)

1. Samples per second delivered against the rate asked, with none missing:
   20 ms on an emulated Sios (four channels and the digital input) and 5 ms
   in the simulation, to 1 and to 20 clients at once (10 s each).
2. The delay from a sample's time (the server's clock, aligned through
   /api/status) to its arrival at a client: median and p99.
3. The server's processor use (user + system, % of one core) over the same
   runs, with 1 and with 20 watchers.
4. In headless Chromium (when present): the page's weight on first load
   (bytes over the wire, from the Resource Timing API), the time from
   navigation to the first chart, and the delay to the browser.
5. Hostile clients, from one address of 127.0.0.0/8 (every one is the
   machine's own; run it in a network namespace of its own:
   `unshare -n sh -c 'ip link set lo up; bench/bench_serve.py'`): 200 slow
   connections (a request line, then a header line every 3 s), 200 idle
   ones, and 100 MB of headers; each reconnects when dropped. Meanwhile,
   from another address: the status, the page, an output and a new
   watcher's first event, their latency (median, p99; 2 s for no answer)
   and the server's peak memory (VmHWM). Then the delivery to 30 watchers
   (30 addresses), with and without 200 slow connections beside them.
   `--hostile` runs only this part.
6. Idle cost: the server's processor time over 60 s (from /proc) with no
   client, with two idle watch streams and with 30 watchers, sampling
   every 1000 ms (what the server costs by itself) and at the default
   20 ms. `--idle` runs only this part (TAVIO32_IDLE_SECONDS shortens it).

Every client comes from an address of its own of 127.0.0.0/8 (Linux
answers all of them on the loopback interface), the benchmark in a network
namespace of its own when `unshare` allows it (the library admits one
process per namespace). Runs one server at a time."""
import concurrent.futures
import os
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
args = [a for a in sys.argv[1:] if not a.startswith("--")]
build = os.path.abspath(args[0] if args else os.path.join(root, "build"))
os.environ.setdefault("TAVIO32_CLI", os.path.join(build, "tavio32"))
os.environ.setdefault("TAVIO32_SIM", os.path.join(build, "tavio32-sim"))
sys.path.insert(0, os.path.join(root, "tests", "python"))
from emulators import Sim, clean_environment  # noqa: E402
from serving import Server, connect_from  # noqa: E402

SECONDS = 10
IDLE_SECONDS = float(os.environ.get("TAVIO32_IDLE_SECONDS", "60"))
TICK = os.sysconf("SC_CLK_TCK")


def own_namespace():
    """Runs this benchmark again in a network namespace of its own (root's,
    or a user namespace's), with the loopback interface up."""
    if os.environ.get("TAVIO32_BENCH_NETNS") or not shutil.which("unshare"):
        return
    env = dict(os.environ, TAVIO32_BENCH_NETNS="1")
    script = 'ip link set lo up && exec "$0" "$@"'
    for flags in (["-n"], ["-rn"]):
        probe = subprocess.run(["unshare"] + flags + ["sh", "-c", "ip link set lo up"], capture_output=True)
        if probe.returncode == 0:
            sys.stdout.flush()
            os.execvpe("unshare", ["unshare"] + flags + ["sh", "-c", script, sys.executable] + sys.argv, env)


def cpu_s(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


def offset(server):
    """local monotonic - server clock, from the quickest of 20 status requests."""
    best = None
    for _ in range(20):
        t0 = time.monotonic()
        t_ms = server.status()["t_ms"]
        t1 = time.monotonic()
        if best is None or t1 - t0 < best[0]:
            best = (t1 - t0, (t0 + t1) / 2 - t_ms / 1000)
    return best[1]


def pct(values, p):
    v = sorted(values)
    return v[min(len(v) - 1, int(p / 100 * len(v)))]


def run(args, env, every_ms, clients, beside=None):
    s = Server(args, env)
    stop = threading.Event()
    try:
        s.wait_state("live")
        off = offset(s)
        if beside:
            threading.Thread(target=beside, args=(s, stop), daemon=True).start()
            time.sleep(1)
        streams = [s.events(token=s.watch, source="127.0.3.%d" % (i + 1)) for i in range(clients)]
        for e in streams:
            try:
                e.next("state")
            except AssertionError:  # a server held up: counted as what arrives
                pass
        time.sleep(0.5)
        c0, t0 = cpu_s(s.proc.pid), time.monotonic()
        got = [[] for _ in streams]
        # Read everything the clients received during SECONDS.
        for e in streams:
            while not e.events.empty():
                e.events.get()
            e.arrivals.clear()
        time.sleep(SECONDS)
        c1, t1 = cpu_s(s.proc.pid), time.monotonic()
        delays, rates, missing = [], [], 0
        for e, out in zip(streams, got):
            arrivals = list(e.arrivals)
            while not e.events.empty():
                ident, name, data = e.events.get()
                if name == "sample":
                    out.append((ident, data))
            ids = [i for i, _ in out]
            missing += (ids[-1] - ids[0] + 1 - len(ids)) if ids else 0
            rates.append(len(out) / (t1 - t0))
            for (_, d), a in zip(out, arrivals[-len(out):]):
                delays.append((a - off - d["t_ms"] / 1000) * 1000)
        for e in streams:
            e.close()
        return {"asked": 1000 / every_ms, "rate": min(rates), "missing": missing,
                "median": pct(delays, 50) if delays else float("nan"),
                "p99": pct(delays, 99) if delays else float("nan"), "cpu": 100 * (c1 - c0) / (t1 - t0)}
    finally:
        stop.set()
        s.kill()


# --- hostile clients ---------------------------------------------------------
EVIL = "127.0.0.9"


def opened(port, first=b""):
    try:
        c = connect_from(EVIL, port, timeout=3)
        if first:
            c.sendall(first)
        return c
    except OSError:
        return None


def gone(c):
    """The server closed it, refused it or answered."""
    if c is None:
        return True
    try:
        r, _, _ = select.select([c], [], [], 0)
        return bool(r)
    except (OSError, ValueError):
        return True


def keep(server, stop, first, every, tick):
    """200 connections from EVIL, each sent `first`, then tick(c) every
    `every` s; one that the server drops is opened again."""
    with concurrent.futures.ThreadPoolExecutor(50) as pool:  # all at once
        socks = list(pool.map(lambda _: opened(server.port, first), range(200)))
    try:
        while not stop.wait(min(every, 0.5)):
            for i, c in enumerate(socks):
                if gone(c):
                    if c:
                        c.close()
                    socks[i] = opened(server.port, first)
                elif tick:
                    try:
                        tick(c)
                    except OSError:
                        pass
    finally:
        for c in socks:
            if c:
                c.close()


def slow(server, stop):
    first = ("GET /api/status HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n" % server.port).encode()
    last = {}

    def tick(c):  # one header line per connection every 3 s
        if time.monotonic() - last.setdefault(c, time.monotonic()) >= 3:
            last[c] = time.monotonic()
            c.sendall(b"X-a: b\r\n")
    keep(server, stop, first, 0.5, tick)


def idle(server, stop):
    keep(server, stop, b"", 0.5, None)


def headers(server, stop, total=100 << 20):
    """100 MB of header lines, on as many connections as it takes."""
    head = ("GET /api/status HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n" % server.port).encode()
    line = b"X-b: " + b"b" * 8000 + b"\r\n"
    sent = 0
    while sent < total and not stop.is_set():
        c = opened(server.port, head)
        if not c:
            time.sleep(0.01)
            continue
        try:
            while sent < total and not stop.is_set():
                c.sendall(line)
                sent += len(line)
        except OSError:
            pass
        c.close()
    server.headers_sent = sent


def legitimate(s, seconds):
    """Requests of the page's kinds, one every 100 ms: latency in ms (2000: none)."""
    out, end = [], time.monotonic() + seconds
    kinds = ["status", "page", "output", "watcher"]
    i = 0
    while time.monotonic() < end:
        kind = kinds[i % len(kinds)]
        i += 1
        t0 = time.monotonic()
        try:
            if kind == "watcher":
                e = first_event(s)
            else:
                conn = connect_from("127.0.0.1", s.port, timeout=2)
                body = b'{"dout": 1}' if kind == "output" else b""
                conn.sendall(("%s %s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nAuthorization: Bearer %s\r\n"
                              "Content-Type: application/json\r\nContent-Length: %d\r\nConnection: close\r\n\r\n"
                              % ("POST" if body else "GET", {"status": "/api/status", "page": "/",
                                                              "output": "/api/output"}[kind],
                                 s.port, s.token, len(body))).encode() + body)
                e = conn.recv(12).startswith(b"HTTP/1.1 200")
                conn.close()
            ms = (time.monotonic() - t0) * 1000 if e else 2000
        except OSError:
            ms = 2000
        out.append(min(ms, 2000))
        time.sleep(max(0, 0.1 - (time.monotonic() - t0)))
    return out


def first_event(s):
    e = s.events()
    try:
        e.next("state", timeout=2)
        return True
    except AssertionError:
        return False
    finally:
        e.close()


def peak_mb(pid):
    with open("/proc/%d/status" % pid) as f:
        return int(next(x for x in f if x.startswith("VmHWM:")).split()[1]) / 1024


def hostile(env):
    print("%-34s %10s %8s %9s %9s" % ("hostile case", "median ms", "p99 ms", "no answer", "peak MB"))
    for name, attack in [("none", None), ("200 slow connections", slow), ("200 idle connections", idle),
                         ("100 MB of headers", headers)]:
        s = Server(["--simulate"], env)
        stop = threading.Event()
        try:
            s.wait_state("live")
            if attack:
                threading.Thread(target=attack, args=(s, stop), daemon=True).start()
                time.sleep(4)
            got = legitimate(s, 12)
            stop.set()
            extra = " (%d MB sent)" % (getattr(s, "headers_sent", 0) >> 20) if attack is headers else ""
            print("%-34s %10.1f %8.1f %9s %9.1f%s" % (name, pct(got, 50), pct(got, 99),
                                                      "%d/%d" % (got.count(2000), len(got)), peak_mb(s.proc.pid),
                                                      extra))
        finally:
            stop.set()
            s.kill()
    print("%-34s %7s %9s %7s %10s %8s" % ("30 watchers, simulation at 20 ms", "asked/s", "got/s", "missed",
                                         "median ms", "p99 ms"))
    for name, beside in [("alone", False), ("beside 200 slow connections", slow)]:
        r = run(["--simulate", "--every", "20"], env, 20, 30, beside)
        print("%-34s %7.1f %9.1f %7d %10.1f %8.1f" % (name, r["asked"], r["rate"], r["missing"], r["median"],
                                                    r["p99"]))


def browser(env):
    try:
        sys.path.append("/usr/lib/python3/dist-packages")
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError:
        return None
    s = Server(["--simulate"], env)
    o = webdriver.ChromeOptions()
    for a in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
              "--disable-background-networking", "--disable-component-update", "--disable-sync",
              "--window-size=1280,1000", "--user-data-dir=" + tempfile.mkdtemp()]:
        o.add_argument(a)
    d = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=o)
    try:
        d.get(s.control_url)
        for _ in range(100):
            if d.execute_script("return tavio32.firstChartMs"):
                break
            time.sleep(0.05)
        first = d.execute_script("return tavio32.firstChartMs")
        weight = d.execute_script(
            "const n = performance.getEntriesByType('navigation')[0];"
            "return performance.getEntriesByType('resource').reduce((a, r) => a + r.transferSize, n.transferSize)")
        d.set_script_timeout(30)
        delays = d.execute_async_script("""
            const done = arguments[arguments.length - 1];
            (async () => {
              let best = null;
              for (let i = 0; i < 20; i++) {
                const t0 = performance.now();
                const s = await (await fetch('/api/status', {cache: 'no-store'})).json();
                const t1 = performance.now();
                if (!best || t1 - t0 < best[0]) best = [t1 - t0, (t0 + t1) / 2 - s.t_ms];
              }
              const out = [];
              const es = new EventSource('/api/stream');
              es.addEventListener('sample', (e) => out.push(performance.now() - best[1] - JSON.parse(e.data).t_ms));
              setTimeout(() => { es.close(); done(out); }, 5000);
            })();""")
        return {"first_chart_ms": first, "weight_kb": weight / 1024, "median": pct(delays, 50),
                "p99": pct(delays, 99)}
    finally:
        d.quit()
        s.kill()


def watching(server, source, stop):
    """A watcher that reads its stream and opens it again when the server
    ends it (every 30 s), as the page does, until `stop`."""
    while not stop.is_set():
        try:
            c = connect_from(source, server.port, timeout=1)
            c.sendall(("GET /api/stream HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nAuthorization: Bearer %s\r\n\r\n"
                       % (server.port, server.watch)).encode())
            while not stop.is_set():
                try:
                    if not c.recv(65536):
                        break
                except socket.timeout:
                    pass
            c.close()
        except OSError:
            stop.wait(0.1)


def idle_cost(env):
    print("%-34s %8s %8s %8s" % ("idle, simulation", "no client", "2 idle", "30 watch"))
    print("%-34s %8s %8s %8s" % ("", "cpu %", "cpu %", "cpu %"))
    for every in (1000, 20):
        s = Server(["--simulate", "--every", str(every)], env)
        stop = threading.Event()
        try:
            s.wait_state("live")
            time.sleep(1)
            row = []
            for clients in (0, 2, 30):
                threads = [threading.Thread(target=watching, args=(s, "127.0.4.%d" % (i + 1), stop), daemon=True)
                           for i in range(clients)]
                for t in threads:
                    t.start()
                time.sleep(2 if clients else 0)
                c0, t0 = cpu_s(s.proc.pid), time.monotonic()
                time.sleep(IDLE_SECONDS)
                row.append(100 * (cpu_s(s.proc.pid) - c0) / (time.monotonic() - t0))
                stop.set()
                for t in threads:
                    t.join()
                stop.clear()
            print("%-34s %8.2f %8.2f %8.2f" % ("--every %d (%.0f s each)" % (every, IDLE_SECONDS), *row))
            sys.stdout.flush()
        finally:
            stop.set()
            s.kill()


def main():
    own_namespace()
    print("tavio32 serve, %d s per run, %d processors" % (SECONDS, os.cpu_count()))
    if "--hostile" in sys.argv:
        hostile(clean_environment())
        return
    if "--idle" in sys.argv:
        idle_cost(clean_environment())
        return
    print("%-34s %7s %9s %7s %10s %8s %6s" % ("run", "asked/s", "got/s", "missed", "median ms", "p99 ms", "cpu %"))
    with tempfile.TemporaryDirectory() as d:
        sim = Sim("sios", d)
        try:
            env = clean_environment(COM3=sim.path)
            for clients in (1, 20):
                r = run(["--interface", "sios", "--port", "3", "--every", "20"], env, 20, clients)
                print("%-34s %7.1f %9.1f %7d %10.1f %8.1f %6.1f" % (
                    "Sios, 20 ms, %d client%s" % (clients, "s" if clients > 1 else ""), r["asked"], r["rate"],
                    r["missing"], r["median"], r["p99"], r["cpu"]))
        finally:
            sim.stop()
    env = clean_environment()
    for clients in (1, 20):
        r = run(["--simulate", "--every", "5"], env, 5, clients)
        print("%-34s %7.1f %9.1f %7d %10.1f %8.1f %6.1f" % (
            "simulation, 5 ms, %d client%s" % (clients, "s" if clients > 1 else ""), r["asked"], r["rate"],
            r["missing"], r["median"], r["p99"], r["cpu"]))
    b = browser(env)
    if b:
        print("browser (headless Chromium, simulation at 20 ms): page weight %.1f KB on first load, first chart "
              "%.0f ms after navigation, delay to the browser median %.1f ms, p99 %.1f ms" % (
                  b["weight_kb"], b["first_chart_ms"], b["median"], b["p99"]))
    else:
        print("browser figures: Selenium and Chromium not found")
    hostile(env)
    idle_cost(env)


if __name__ == "__main__":
    main()
