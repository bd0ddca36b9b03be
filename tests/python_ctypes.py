"""Calls the library from Python through ctypes, as the manual's getting-started chapter shows."""
import ctypes
import os
import sys

lib = ctypes.CDLL(sys.argv[1])
lib.TIME.restype = ctypes.c_double
lib.DELAY.restype = ctypes.c_uint32
lib.DELAY.argtypes = [ctypes.c_uint32]

assert lib.VERSION(0) == 122
assert lib.GETCOM() == 0
os.environ["TAVIO32_COM3"] = ""  # no such device
assert lib.OPENCOM(b"COM3:19200,N,8,2") == 0
assert lib.GETCOM() == -1
lib.CLOSECOM()
assert lib.GETCOM() == 0
lib.TIMEINIT()
lib.DELAY(20)
assert 0.019 <= lib.TIME() < 1.0
assert lib.SETHARD(0) == 0
assert lib.AIN(5) == -1 and 0 <= lib.AIN(1) <= 254  # simulated inputs
print("ctypes: ok")
