"""tavio32 from Python: measurement interfaces and serial ports.

    import tavio32
    with tavio32.open("sios", port=3) as box:
        print(box.ain(1), box.din())
        rec = box.record(measurements=100, channels=[1, 2], interval_ms=10)
        rec.to_csv("run.csv")

    with tavio32.Port("COM3", "19200,N,8,2") as p:
        p.write(b"ID?\\r")
        print(p.read(8))

The library is loaded on first use (or by importing tavio32.raw, which
holds the 83 functions as they stand). Only one process at a time may load
it; a second one gets LibraryBusyError naming the holder.
"""
import ctypes
import importlib
import os
import stat
import tempfile
import time

from . import _system
from .errors import (AdapterRemovedError, LibraryBusyError, LibraryNotFoundError, NotAnsweringError,
                     PortError, RecordingInterrupted, Tavio32Error, WriteProtectedError)

__version__ = "1.22"
__all__ = ["open", "detect", "Interface", "Recording", "Port", "raw", "Tavio32Error",
           "LibraryBusyError", "LibraryNotFoundError", "PortError", "NotAnsweringError",
           "RecordingInterrupted", "AdapterRemovedError", "WriteProtectedError"]

_builtin_open = open


def _raw():
    return importlib.import_module(__name__ + ".raw")


def __getattr__(name):
    # tavio32.raw loads the library on first mention.
    if name == "raw":
        return _raw()
    raise AttributeError("module 'tavio32' has no attribute %r" % name)


# name: (title, code, opening function, lowest port)
INTERFACES = {
    "compulab": ("CompuLab", 1, "INITCOMPULAB", 1),
    "sios": ("Sios", 4, "INITSIOS", 1),
    "zelle": ("Zelle", 8, "INITZELLE", 0),
    "rsbox": ("RS-Box", 16, "INIT", 1),
    "camface": ("Camface", 32, "INITCAMFACE", 1),
    "ccontrol": ("C-Control", 64, "INITCCONTROL", 1),
}
_BY_CODE = {v[1]: k for k, v in INTERFACES.items()}
SIOS, ZELLE = 4, 8
_BUFFER = {SIOS: (30720, 16), ZELLE: (6146, 10)}  # size, header


def _primary_port():
    """COM number of the open primary port, None when it cannot be told."""
    fd = _raw().GETCOM()
    if fd <= 0:
        return None
    try:
        rdev = os.fstat(fd).st_rdev
    except OSError:
        return None
    for n in range(1, 10):
        try:
            if rdev and os.stat(_system.port_path(n)).st_rdev == rdev:
                return n
        except OSError:
            continue
    return None


class Interface:
    """An interface on the primary port (or the simulation, name
    "simulation"). Closing it closes the port."""

    def __init__(self, name, port):
        self.name = name
        self.port = port
        self.code = INTERFACES[name][1] if name in INTERFACES else 0
        self.title = INTERFACES[name][0] if name in INTERFACES else "simulation"
        self._open = True

    def __repr__(self):
        where = " on COM%s" % self.port if self.port is not None else ""
        return "<tavio32.Interface %s%s>" % (self.name, where)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        if self._open:
            self._open = False
            if self.code:
                _raw().CLOSECOM()

    def _check(self):
        if not self._open:
            raise Tavio32Error("the %s interface is closed" % self.name)
        if _raw().GETHARD() != self.code:
            raise Tavio32Error("another interface has been selected since this one was opened")

    def _silent(self):
        removed = _system.removed_problem(self.port, _raw().GETCOM()) if self.port else ""
        if removed:
            return AdapterRemovedError(removed)
        return NotAnsweringError(
            "the %s on COM%s does not answer: check that it is switched on and connected, "
            "or let tavio32.detect() look for it" % (self.title, self.port))

    def ain(self, channel):
        """Analog input `channel` (1 to 4): 0..255."""
        self._check()
        if not 1 <= channel <= 4:
            raise ValueError("channels are 1 to 4, not %r" % (channel,))
        v = _raw().AIN(channel)
        if v < 0:
            raise self._silent()
        return v

    def din(self):
        """Digital inputs: 0..255."""
        self._check()
        v = _raw().DIN()
        if v < 0:
            raise self._silent()
        return v

    def dout(self, value):
        """Sets the digital outputs."""
        self._check()
        if not 0 <= value <= 255:
            raise ValueError("digital outputs take 0..255, not %r" % (value,))
        if not _raw().DOUT(value):
            raise self._silent()

    def aout(self, channel, value):
        """Sets an analog output (Sios, Camface, C-Control)."""
        self._check()
        if self.code not in (4, 32, 64):
            raise Tavio32Error("the %s has no analog outputs" % self.title)
        if not 0 <= value <= 255:
            raise ValueError("analog outputs take 0..255, not %r" % (value,))
        if not _raw().AOUT(channel, value):
            raise self._silent()

    def record(self, measurements, channels, interval_ms, blocks=1, trigger=None, wait=True, progress=None):
        """Records `blocks` blocks of `measurements` measurements of the
        channels every `interval_ms` ms (Sios, Zelle), waits for the
        recording unless wait=False, reads it back and returns a Recording.
        trigger=(mode, value) sets a Sios trigger (mode 1 to 6);
        progress(done, expected) is called during the readout. Ctrl-C during
        the readout raises RecordingInterrupted holding what was read."""
        self._check()
        if self.code not in _BUFFER:
            raise Tavio32Error("block recordings work on the Sios and the Zelle, not on the %s" % self.title)
        channels = list(channels)
        if not channels or any(c not in (1, 2, 3, 4) for c in channels):
            raise ValueError("channels are one or more of 1 to 4, not %r" % (channels,))
        size, header = _BUFFER[self.code]
        if measurements < 1 or interval_ms < 1 or not 1 <= blocks <= 255:
            raise ValueError("measurements and interval_ms must be at least 1, blocks 1 to 255")
        if measurements * len(set(channels)) * blocks > size - header:
            raise ValueError("the %s holds %d values" % (self.title, size - header))
        raw = _raw()
        mask = sum(1 << (c - 1) for c in set(channels))
        raw.BLOCKDEF(measurements, mask, interval_ms)
        if trigger is not None:
            if self.code != SIOS:
                raise Tavio32Error("triggers exist on the Sios only")
            mode, value = trigger
            raw.BLOCKTRIGGER(value, mode)
        for _ in range(blocks):
            raw.BLOCKSTART()
            if wait:
                time.sleep(measurements * interval_ms / 1000.0)
        buffer = ctypes.create_string_buffer(size)
        state = {"done": 0, "expected": 0, "interrupted": False}

        def hook(done, expected, _context):
            # Ctrl-C is raised here, between the bytes of the readout.
            try:
                state["done"], state["expected"] = done, expected
                if progress is not None:
                    progress(done, expected)
                return 1
            except KeyboardInterrupt:
                state["done"], state["expected"] = done, expected
                state["interrupted"] = True
                return 0

        callback = raw.READOUT_PROGRESS(hook)
        raw.lib.tavio32_set_readout_progress(callback, None)
        try:
            got = raw.BLOCKEIN(buffer, blocks)
        finally:
            raw.lib.tavio32_set_readout_progress(raw.READOUT_PROGRESS(), None)
        if got < 0:
            if state["interrupted"] or state["done"] > 0:
                partial = Recording(buffer.raw[:header + state["done"]], self.code)
                if state["interrupted"]:
                    raise RecordingInterrupted(partial, state["done"], state["expected"])
                error = self._silent()
                error.recording = partial
                raise error
            raise self._silent()
        return Recording(buffer.raw[:size], self.code)


def open(interface, port):
    """Opens `interface` ("sios", "zelle", "compulab", "rsbox", "camface",
    "ccontrol") on COM`port`."""
    if interface not in INTERFACES:
        raise ValueError("unknown interface %r: one of %s" % (interface, ", ".join(sorted(INTERFACES))))
    title, _code, init, first = INTERFACES[interface]
    if not first <= port <= 9:
        raise ValueError("the %s hangs on COM%d to COM9, not COM%r" % (title, first, port))
    raw = _raw()
    if getattr(raw, init)(port) != port:
        name = "COM%d" % port
        problem = _system.open_problem(name, _system.port_path(port))
        raise PortError(problem or "cannot open %s (%s) for the %s" % (name, _system.port_path(port), title))
    return Interface(interface, port)


def detect():
    """Looks for an interface on COM1 to COM8; returns it, or the simulation
    (name "simulation") when none answered."""
    raw = _raw()
    code = raw.FINDHARD(0)
    if code == 0:
        return Interface("simulation", None)
    return Interface(_BY_CODE.get(code, "unknown"), _primary_port())


class Recording:
    """A block recording: the raw buffer image and what it holds."""

    def __init__(self, data, interface_code):
        if interface_code not in _BUFFER:
            raise ValueError("recordings come from the Sios or the Zelle")
        size, header = _BUFFER[interface_code]
        if len(data) < header:
            raise ValueError("%d bytes are too few for a block header" % len(data))
        self.interface_code = interface_code
        self.data = bytes(data)
        self._valid = len(self.data)
        self.data = self.data[:size] + bytes(max(0, size - len(self.data)))
        b = self.data
        self.channels = [c for c in b[2:6] if c]
        self.measurements = b[0] * 256 + b[1]
        k = len(self.channels)
        hi, lo, blocks_at = (10, 11, 15) if interface_code == SIOS else (6, 7, 9)
        self.interval_ms = (b[hi] * 256 + b[lo] + k) % 65536
        self.blocks = b[blocks_at]
        lines = self.measurements * self.blocks
        if k:
            lines = min(lines, (self._valid - header) // k)
        else:
            lines = 0
        self.rows = [list(b[header + i * k: header + (i + 1) * k]) for i in range(max(0, lines))]
        m = self.measurements or 1
        # Time within the block; blocks are started one after the other.
        self.times_ms = [(i % m) * self.interval_ms for i in range(len(self.rows))]
        self.block_of = [i // m for i in range(len(self.rows))]
        self.values = {c: [row[j] for row in self.rows] for j, c in enumerate(self.channels)}

    def __len__(self):
        return len(self.rows)

    def __repr__(self):
        return "<tavio32.Recording %d x %s every %d ms>" % (len(self.rows), self.channels, self.interval_ms)

    @classmethod
    def load_raw(cls, path, interface):
        """Reads a raw block file written by save_raw or DATENSPEICHERN."""
        code = INTERFACES[interface][1] if isinstance(interface, str) else interface
        with _builtin_open(path, "rb") as f:
            return cls(f.read(_BUFFER.get(code, (0, 0))[0] or -1), code)

    def to_csv(self, path):
        """time_ms and one column per channel (and the block, when several)."""
        several = self.blocks > 1
        lines = [",".join((["block"] if several else []) + ["time_ms"] +
                          ["channel %d" % c for c in self.channels])]
        for i, row in enumerate(self.rows):
            lines.append(",".join(([str(self.block_of[i] + 1)] if several else []) +
                                  [str(self.times_ms[i])] + [str(v) for v in row]))
        _write_whole(path, ("\n".join(lines) + "\n").encode())

    def save_raw(self, path):
        """The buffer image, as the library's DATENSPEICHERN writes it."""
        _write_whole(path, self.data)

    def save_table(self, path):
        """The library's tab-separated text table (TABELLESPEICHERN)."""
        raw = _raw()
        buffer = ctypes.create_string_buffer(self.data, len(self.data))
        before = raw.SETHARD(self.interface_code)
        try:
            # A buffer of its own: on Windows the library converts the name in place.
            if raw.TABELLESPEICHERN(ctypes.create_string_buffer(os.fsencode(path)), buffer) < 0:
                why = _write_protection(path)
                if why:
                    raise WriteProtectedError(path, why)
                raise Tavio32Error("cannot write the table %s: check the directory and free space" % path)
        finally:
            raw.SETHARD(before)


def _write_protection(path):
    """Why the existing file path may not be written by this user, as the
    library judges it; None when it may, or when there is no such file."""
    try:
        st = os.stat(path)
    except OSError:
        return None
    if not stat.S_ISREG(st.st_mode):
        return None
    if getattr(st, "st_file_attributes", 0) & (stat.FILE_ATTRIBUTE_READONLY | stat.FILE_ATTRIBUTE_HIDDEN
                                               | stat.FILE_ATTRIBUTE_SYSTEM):
        return "the file is read-only, hidden or a system file"
    if not os.access(path, os.W_OK, effective_ids=os.access in os.supports_effective_ids):
        return "the file is write-protected (this user may not write it)"
    return None


def _write_whole(path, data):
    """Writes the file completely or leaves the old one as it was, as the
    library does: a symbolic link stays a link, an existing file keeps its
    permission bits, a write-protected one stays as it is
    (WriteProtectedError), a name that is no regular file is written in place."""
    path = os.fspath(path)
    mode = None
    if os.path.exists(path):
        st = os.stat(path)
        if not stat.S_ISREG(st.st_mode):
            with _builtin_open(path, "wb") as f:
                f.write(data)
            return
        why = _write_protection(path)
        if why:
            raise WriteProtectedError(path, why)
        mode = stat.S_IMODE(st.st_mode)
        path = os.path.realpath(path)
    if mode is None:
        umask = os.umask(0)
        os.umask(umask)
        mode = 0o666 & ~umask
    fd, temp = tempfile.mkstemp(dir=os.path.dirname(os.path.abspath(path)), prefix=".tavio32-")
    try:
        with os.fdopen(fd, "wb") as f:
            f.write(data)
        os.chmod(temp, mode)
        os.replace(temp, path)
    except BaseException:
        try:
            os.unlink(temp)
        except OSError:
            pass
        raise


class Port:
    """A raw serial port in one of the library's eight port-table slots.

    Port("COM3", "19200,N,8,2"); write(bytes), read(n) -> bytes, timeout in
    seconds (the read limit for one byte; n bytes wait n ms longer)."""

    _used = set()

    def __init__(self, name, settings="9600,N,8,1", timeout=0.1):
        if len(name) != 4:
            raise ValueError("port names have four characters (COM1), not %r" % (name,))
        raw = _raw()
        free = [s for s in range(8) if s not in Port._used]
        if not free:
            raise PortError("all eight port slots are in use: close a Port first")
        self.name = name.upper()
        self.settings = settings
        self._slot = free[0]
        mode = ("%s:%s" % (name, settings)).encode()
        if raw.IX_OPENCOM(self._slot, mode) <= 0:
            raw.IX_CLOSECOM(self._slot)  # a slot keeps a device whose settings failed open
            path = os.environ.get("TAVIO32_" + self.name)
            if path is None:
                path = _system.port_path(int(name[3])) if self.name[:3] == "COM" and name[3].isdigit() else ""
            problem = _system.open_problem(self.name, path)
            raise PortError(problem or "cannot open %s with the settings %r (baud,parity,data,stop such as "
                                       "19200,N,8,2)" % (self.name, settings))
        Port._used.add(self._slot)
        self.timeout = timeout

    def __repr__(self):
        return "<tavio32.Port %s %s slot %d>" % (self.name, self.settings, self._slot)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    @property
    def is_open(self):
        return self._slot is not None

    def _slot_or_fail(self):
        if self._slot is None:
            raise PortError("%s is closed" % self.name)
        return self._slot

    @property
    def timeout(self):
        return self._timeout

    @timeout.setter
    def timeout(self, seconds):
        ms = int(round(seconds * 1000))
        if ms < 0:
            raise ValueError("time-outs are not negative")
        if _raw().IX_TIMEOUT(self._slot_or_fail(), ms) < 0:
            raise PortError("cannot set the time-out of %s" % self.name)
        self._timeout = ms / 1000.0

    def write(self, data):
        """Sends the bytes; returns how many went out."""
        slot = self._slot_or_fail()
        raw = _raw()
        sent = 0
        # Texts end at a zero byte, so zero bytes go out one by one.
        for i, part in enumerate(bytes(data).split(b"\0")):
            if i > 0:
                if raw.IX_SENDBYTE(slot, 0) != 1:
                    return sent
                sent += 1
            if part:
                n = raw.IX_SENDSTRING(slot, part)
                sent += max(0, n)
                if n != len(part):
                    return sent
        return sent

    def read(self, n=1):
        """Up to n bytes; fewer when the time-out ends the read."""
        slot = self._slot_or_fail()
        if n <= 0:
            return b""
        buffer = ctypes.create_string_buffer(b" " * n, n + 1)
        got = _raw().IX_READSTRING(slot, buffer)
        return buffer.raw[:max(0, got)]

    def close(self):
        if self._slot is not None:
            _raw().IX_CLOSECOM(self._slot)
            Port._used.discard(self._slot)
            self._slot = None
