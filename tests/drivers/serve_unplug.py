"""In the emulated PC: tavio32 serve on the Sios of the USB adapter numbered
COM4, with an event stream open; the adapter is pulled out and plugged in
again through QEMU's monitor (requests to the host in /mnt/out). The page's
state must show the removal within a second, the stream must stay open, and
samples must come again by themselves once the adapter is back."""
import os
import sys
import time

from serving import Server

requests = [0]


def monitor(command):
    requests[0] += 1
    n = 1000 + requests[0]
    with open("/mnt/out/request.tmp", "w") as f:
        f.write(command + "\n")
    os.rename("/mnt/out/request.tmp", "/mnt/out/request-%d" % n)
    end = time.monotonic() + 60
    while not os.path.exists("/mnt/out/done-%d" % n):
        if time.monotonic() > end:
            raise AssertionError("the host did not carry out " + command)
        time.sleep(0.05)


server = Server(["--interface", "sios", "--port", "4", "--every", "50"], dict(os.environ))
try:
    server.wait_state("live", timeout=30)
    ev = server.events()
    ev.next("sample", timeout=10)
    t0 = time.monotonic()
    monitor("device_del sios")
    _, st = ev.next("state", where=lambda d: d["state"] == "error", timeout=10)
    shown = time.monotonic() - t0
    print("state after the unplug: %r" % st["error"])
    assert st["removed"], st
    assert "the USB adapter of COM4 was removed" in st["error"], st
    t1 = time.monotonic()
    monitor("device_add usb-serial,id=sios,chardev=csios,serial=TAVIOSIOS,bus=xhci.0")
    ev.next("state", where=lambda d: d["state"] == "live", timeout=30)
    ev.next("sample", timeout=10)
    back = time.monotonic() - t1
    status = server.status()
    assert status["port"] == 4 and status["device"].startswith("/dev/ttyUSB"), status
    assert any(a["port"] == 4 for a in status["adapters"]), status
    print("figures: unplug to the page's state %.2f s, replug to samples again %.2f s (same stream)" % (shown, back))
    # The emulated PC counts time slowly: a generous bound for "within a second".
    slack = float(os.environ.get("TAVIO32_TIME_SLACK", "4"))
    assert shown < 1.0 * slack, shown
    ev.close()
finally:
    rc, _ = server.end()
sys.exit(0)
