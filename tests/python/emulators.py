"""Emulated interfaces for the tests: tavio32-sim as a child process serving
a device on a pseudo-terminal behind a symbolic link."""
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

SIM = os.environ.get("TAVIO32_SIM", "tavio32-sim")
CLI = os.environ.get("TAVIO32_CLI", "tavio32")
# tavio32.exe under Wine (tests/win/wine_cli.sh): COMn keeps its Windows name.
WINE = bool(os.environ.get("TAVIO32_EXE"))


def device_of(path, port):
    """What the command names as the device of COM`port` mapped to `path`."""
    return "COM%d" % port if WINE else path


class Sim:
    """tavio32-sim serving `device`; .path is the link, .log the lines it
    printed (with log=True, one per byte received)."""

    def __init__(self, device, directory, name="com3", log=False, extra=()):
        self.path = os.path.join(directory, name)
        args = [SIM, "--device", device, "--link", self.path] + (["--log"] if log else []) + list(extra)
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, text=True)
        self.log = []
        first = self.proc.stdout.readline()  # TAVIO32_COM3=... once the link is there
        if not first.startswith("TAVIO32_"):
            raise RuntimeError("tavio32-sim did not start: %r" % first)
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for line in self.proc.stdout:
            self.log.append(line)

    def received(self, settle=0.2):
        """The byte values received so far, after a short settling time."""
        time.sleep(settle)
        out = []
        for line in list(self.log):
            f = line.split()
            if len(f) >= 4 and f[1] == "ms" and "ignored" not in line:
                out.append(int(f[2]))
        return out

    def stop(self):
        self.proc.terminate()
        self.proc.wait(10)
        self.proc.stdout.close()


def clean_environment(**ports):
    """An environment with COM0..COM9 mapped to nothing except `ports`
    (e.g. COM3=path), so that no test touches the machine's real ports."""
    env = dict(os.environ)
    env["LC_ALL"] = "C.UTF-8"  # the command's English texts, whatever the machine's language
    for n in range(10):
        env["TAVIO32_COM%d" % n] = ""
    for name, path in ports.items():
        env["TAVIO32_" + name] = path
    return env


class TempDir:
    def __init__(self):
        self.path = tempfile.mkdtemp(prefix="tavio32-test-")

    def cleanup(self):
        shutil.rmtree(self.path, ignore_errors=True)


def hold_library_in_child():
    """A child process that has loaded the library and sleeps; returns it
    once it holds the lock."""
    lib = os.environ["TAVIO32_LIBRARY"]
    p = subprocess.Popen([sys.executable, "-c",
                          "import ctypes, sys, time; ctypes.CDLL(sys.argv[1]); print('held', flush=True); "
                          "time.sleep(60)", lib], stdout=subprocess.PIPE, text=True)
    assert p.stdout.readline().strip() == "held"
    return p


def hold_device_in_child(path):
    """A child process that holds `path` open with a whole-file lock, as a
    serial program such as a terminal would."""
    p = subprocess.Popen([sys.executable, "-c",
                          "import fcntl, os, sys, time; fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY); "
                          "fcntl.flock(fd, fcntl.LOCK_EX); print('held', flush=True); time.sleep(60)", path],
                         stdout=subprocess.PIPE, text=True)
    assert p.stdout.readline().strip() == "held"
    return p


def end(p):
    p.kill()
    p.wait()
    if p.stdout:
        p.stdout.close()
