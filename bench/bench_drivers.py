"""Timing of one serial line under the library: the 1-byte receive time-out
with T = 100 and the median round trip of a byte through an echo on COM7
(TAVIO32_COM7). Prints one line."""
import ctypes
import statistics
import time

lib = ctypes.CDLL("libtavio32.so.1")
if lib.OPENCOM(b"COM7:9600,N,8,1") != 1:
    raise SystemExit("COM7 does not open")
lib.TIMEOUT(100)
waits = []
for _ in range(5):
    t0 = time.monotonic()
    assert lib.READBYTE() == -1
    waits.append((time.monotonic() - t0) * 1e3)
trips = []
for i in range(40):
    t0 = time.monotonic()
    assert lib.SENDBYTE(i) == 1
    assert lib.READBYTE() == i
    trips.append((time.monotonic() - t0) * 1e3)
lib.CLOSECOM()
print("T=100 time-out %.2f ms, round trip %.2f ms (medians)" % (statistics.median(waits), statistics.median(trips)))
