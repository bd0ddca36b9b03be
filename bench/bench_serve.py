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

Runs one server at a time (the library allows one process)."""
import os
import sys
import tempfile
import time

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build"))
os.environ.setdefault("TAVIO32_CLI", os.path.join(build, "tavio32"))
os.environ.setdefault("TAVIO32_SIM", os.path.join(build, "tavio32-sim"))
sys.path.insert(0, os.path.join(root, "tests", "python"))
from emulators import Sim, clean_environment  # noqa: E402
from serving import Server  # noqa: E402

SECONDS = 10
TICK = os.sysconf("SC_CLK_TCK")


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


def run(args, env, every_ms, clients):
    s = Server(args, env)
    try:
        s.wait_state("live")
        off = offset(s)
        streams = [s.events() for _ in range(clients)]
        for e in streams:
            e.next("state")
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
                "median": pct(delays, 50), "p99": pct(delays, 99), "cpu": 100 * (c1 - c0) / (t1 - t0)}
    finally:
        s.kill()


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


def main():
    print("tavio32 serve, %d s per run, %d processors" % (SECONDS, os.cpu_count()))
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


if __name__ == "__main__":
    main()
