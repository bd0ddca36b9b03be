"""The tavio32 Python package against the built library and interfaces
emulated by tavio32-sim on pseudo-terminals."""
import ctypes
import os
import pathlib
import signal
import subprocess
import sys
import unittest

from emulators import Sim, TempDir, clean_environment, end, hold_device_in_child

PACKAGE_DIR = os.environ.get("TAVIO32_PYTHON_DIR",
                             os.path.join(os.path.dirname(__file__), "..", "..", "python"))
sys.path.insert(0, PACKAGE_DIR)
import tavio32  # noqa: E402


class Devices(unittest.TestCase):
    """Each test gets COM0..COM9 mapped to nothing but its own devices."""

    def setUp(self):
        self.dir = TempDir()
        self.sims = []
        self.saved = dict(os.environ)
        os.environ.update(clean_environment())

    def tearDown(self):
        for s in self.sims:
            s.stop()
        os.environ.clear()
        os.environ.update(self.saved)
        self.dir.cleanup()
        tavio32.raw.CLOSECOM()

    def sim(self, device, com=3, **kw):
        s = Sim(device, self.dir.path, name="com%d" % com, **kw)
        self.sims.append(s)
        os.environ["TAVIO32_COM%d" % com] = s.path
        return s


class Raw(unittest.TestCase):
    def test_all_83_functions_with_their_c_types(self):
        raw = tavio32.raw
        self.assertEqual(len(raw.SIGNATURES), 83)
        for name in raw.SIGNATURES:
            self.assertTrue(callable(getattr(raw, name)), name)
        # Unsigned timers, a double, and the four functions without a result.
        self.assertIs(raw.DELAY.restype, ctypes.c_uint32)
        self.assertIs(raw.TIMEREAD.restype, ctypes.c_uint32)
        self.assertIsInstance(raw.TIME(), float)
        for name in ("CLOSECOM", "STRREAD", "IX_STRREAD", "BLOCKTRIGGER"):
            self.assertIsNone(raw.SIGNATURES[name][0], name)
        self.assertGreaterEqual(raw.DELAY(1), 0)
        self.assertEqual(raw.VERSION(0), 122)
        self.assertEqual(raw.IX_OPENCOM(9, b"COM3:9600,N,8,1"), 0)
        self.assertEqual(raw.DATENLADEN(None, None), -1)  # null pointers are turned away

    def test_message_handler_receives_messages(self):
        got = []
        tavio32.raw.set_message_handler(lambda caption, text: got.append((caption, text)))
        try:
            tavio32.raw.VERSION(1)
        finally:
            tavio32.raw.set_message_handler(None)
        self.assertEqual(len(got), 1)
        self.assertIn("1.22", got[0][0] + got[0][1])


class Interfaces(Devices):
    def test_open_read_write_and_close_with_the_context(self):
        s = self.sim("sios", log=True, extra=["--din", "0x5a"])
        with tavio32.open("sios", port=3) as box:
            self.assertEqual((box.name, box.port), ("sios", 3))
            self.assertTrue(0 <= box.ain(1) <= 255)
            self.assertEqual(box.din(), 0x5A)
            box.dout(7)
            box.aout(1, 99)
            with self.assertRaises(ValueError):
                box.ain(5)
        self.assertEqual(tavio32.raw.GETCOM(), 0)  # closed by the context
        got = s.received()
        self.assertIn([16, 7], [got[i:i + 2] for i in range(len(got))])
        self.assertIn([64, 99], [got[i:i + 2] for i in range(len(got))])
        with self.assertRaises(tavio32.Tavio32Error):
            box.ain(1)

    def test_open_failures_say_what_to_do(self):
        with self.assertRaisesRegex(tavio32.PortError, "TAVIO32_COM5"):
            tavio32.open("sios", port=5)
        s = self.sim("sios")
        holder = hold_device_in_child(s.path)
        try:
            with self.assertRaisesRegex(tavio32.PortError, "process %d" % holder.pid):
                tavio32.open("sios", port=3)
        finally:
            end(holder)
        with self.assertRaises(ValueError):
            tavio32.open("toaster", port=3)

    def test_numbered_adapter_that_is_out(self):
        numbers = os.path.join(self.dir.path, "com-ports")
        with open(numbers, "w") as f:
            f.write("COM5 0403:6001 serial=GONE2 if=00 # Maker Adapter\n")
        os.environ["TAVIO32_COM_NUMBERS"] = numbers
        del os.environ["TAVIO32_COM5"]
        with self.assertRaisesRegex(tavio32.PortError, r"the USB adapter of COM5 \(Maker Adapter\) is not plugged in"):
            tavio32.open("sios", port=5)

    def test_silent_interface_raises(self):
        self.sim("silent")
        with tavio32.open("sios", port=3) as box:
            with self.assertRaisesRegex(tavio32.NotAnsweringError, "does not answer"):
                box.ain(1)

    def test_detect(self):
        box = tavio32.detect()
        self.assertEqual(box.name, "simulation")
        self.assertTrue(0 <= box.ain(1) <= 255)
        self.sim("zelle", com=2)
        with tavio32.detect() as box:
            self.assertEqual((box.name, box.port), ("zelle", 2))


class Recordings(Devices):
    def test_sios_recording_files_round_trip(self):
        self.sim("sios")
        with tavio32.open("sios", 3) as box:
            rec = box.record(measurements=30, channels=[1, 3], interval_ms=5)
        self.assertEqual(rec.channels, [1, 3])
        self.assertEqual(rec.times_ms[:3], [0, 5, 10])
        self.assertEqual(len(rec.values[1]), 30)
        self.assertEqual(len(rec.values[3]), 30)
        d = self.dir.path
        rec.save_raw(os.path.join(d, "r.dat"))
        rec.save_table(os.path.join(d, "r.txt"))
        rec.to_csv(os.path.join(d, "r.csv"))
        self.assertEqual(os.path.getsize(os.path.join(d, "r.dat")), 30720)
        back = tavio32.Recording.load_raw(os.path.join(d, "r.dat"), interface="sios")
        self.assertEqual(back.rows, rec.rows)
        with open(os.path.join(d, "r.csv")) as f:
            lines = f.read().splitlines()
        self.assertEqual(lines[0], "time_ms,channel 1,channel 3")
        self.assertEqual(lines[1], "0,%d,%d" % (rec.values[1][0], rec.values[3][0]))
        # The table is the library's own, written with the Sios layout
        # whatever is selected at the time.
        with open(os.path.join(d, "r.txt"), "rb") as f:
            table = f.read().split(b"\r\n")
        self.assertEqual(table[2], b"0\t%d\t%d\t" % (rec.values[1][0], rec.values[3][0]))
        self.assertEqual(tavio32.raw.GETHARD(), 0)
        # Saving again through a symbolic link replaces its target and
        # keeps the target's permission bits.
        os.chmod(os.path.join(d, "r.csv"), 0o600)
        os.symlink("r.csv", os.path.join(d, "link.csv"))
        rec.to_csv(os.path.join(d, "link.csv"))
        self.assertTrue(os.path.islink(os.path.join(d, "link.csv")))
        self.assertEqual(os.stat(os.path.join(d, "r.csv")).st_mode & 0o777, 0o600)

    def test_ctrl_c_during_the_readout_keeps_what_was_read(self):
        self.sim("sios")
        seen = []

        def progress(done, expected):
            seen.append((done, expected))
            if done == 100:
                os.kill(os.getpid(), signal.SIGINT)  # a real Ctrl-C, raised between two bytes

        with tavio32.open("sios", 3) as box:
            with self.assertRaises(tavio32.RecordingInterrupted) as caught:
                box.record(measurements=2000, channels=[1, 2], interval_ms=1, wait=False, progress=progress)
            self.assertEqual(seen[0], (1, 4001))
            partial = caught.exception.recording
            self.assertIn(len(partial), (50, 51))  # 100 or 101 bytes of two channels
            self.assertEqual(partial.channels, [1, 2])
            # The exchange was closed: the interface records again at once.
            again = box.record(measurements=5, channels=[1], interval_ms=1, wait=False)
            self.assertEqual(len(again), 5)

    def test_zelle_blocks_and_limits(self):
        self.sim("zelle")
        with tavio32.open("zelle", 3) as box:
            rec = box.record(measurements=8, channels=[2], interval_ms=3, blocks=2)
            with self.assertRaises(ValueError):
                box.record(measurements=7000, channels=[1], interval_ms=1)
        self.assertEqual(rec.blocks, 2)
        self.assertEqual(len(rec), 16)
        self.assertEqual(rec.block_of[8], 1)
        self.assertEqual(rec.times_ms[8], 0)

    def test_write_protected_files_stay_and_are_named(self):
        os.chmod(self.dir.path, 0o777)  # in a child as an ordinary user (as root: nobody), in a folder open to all
        names = [os.path.join(self.dir.path, n) for n in ("r.txt", "r.dat", "r.csv")]
        for name in names:
            pathlib.Path(name).write_text("old")
            os.chmod(name, 0o444)
        rec, pid = tavio32.Recording(bytes(30720), 4), tavio32.raw.VERSION(0) and os.fork()  # loaded before
        if pid == 0:
            os.geteuid() == 0 and (os.setgid(65534), os.setuid(65534))
            refused = 0
            for i, save in enumerate((rec.save_table, rec.save_raw, rec.to_csv)):
                try:
                    save(names[i])
                except tavio32.WriteProtectedError as e:
                    refused |= (isinstance(e, PermissionError) and "cannot write " + names[i] in str(e)) << i
            os._exit(refused)
        self.assertEqual(os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1]), 7)
        self.assertEqual([pathlib.Path(n).read_text() for n in names], ["old"] * 3)


class Ports(Devices):
    def test_bytes_in_and_out_including_zero_bytes(self):
        self.sim("echo")
        with tavio32.Port("COM3", "19200,N,8,2") as p:
            self.assertEqual(p.write(b"ab\x00c"), 4)
            self.assertEqual(p.read(4), b"ab\x00c")
            p.timeout = 0.05
            self.assertEqual(p.timeout, 0.05)
            self.assertEqual(p.read(3), b"")  # nothing more: the time-out ends it
        self.assertFalse(p.is_open)
        with self.assertRaises(tavio32.PortError):
            p.read(1)

    def test_failed_open_leaves_the_device_free(self):
        self.sim("echo")
        with self.assertRaises(tavio32.PortError):
            tavio32.Port("COM3", "12,N,8")
        with tavio32.Port("COM3", "9600,N,8,1") as p:  # not held by the failed try
            p.write(b"x")
            self.assertEqual(p.read(1), b"x")


class OneProcess(unittest.TestCase):
    def test_a_second_process_gets_an_exception_naming_the_holder(self):
        tavio32.raw.VERSION(0)  # this process holds the library
        code = ("import sys; sys.path.insert(0, sys.argv[1]); import tavio32\n"
                "try:\n    tavio32.open('sios', 3)\n"
                "except tavio32.LibraryBusyError as e:\n    print(e.pid, e); sys.exit(0)\n"
                "sys.exit(5)")
        r = subprocess.run([sys.executable, "-c", code, PACKAGE_DIR], capture_output=True, text=True, timeout=30)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(r.stdout.startswith("%d " % os.getpid()), r.stdout)
        self.assertIn("only one process at a time", r.stdout)


class Install(unittest.TestCase):
    def test_pip_installs_the_package_offline(self):
        import importlib.util
        for needed in ("pip", "setuptools", "wheel"):
            if importlib.util.find_spec(needed) is None:
                self.skipTest("this Python has no %s" % needed)
        d = TempDir()
        try:
            source = os.path.join(d.path, "src")
            import shutil
            shutil.copytree(PACKAGE_DIR, source, ignore=shutil.ignore_patterns("build", "*.egg-info", "__pycache__"))
            target = os.path.join(d.path, "target")
            r = subprocess.run([sys.executable, "-m", "pip", "install", "--no-build-isolation", "--no-index",
                                "--no-deps", "--target", target, source], capture_output=True, text=True, timeout=300)
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
            r = subprocess.run([sys.executable, "-c", "import tavio32, sys; print(tavio32.__file__)"],
                               env=dict(os.environ, PYTHONPATH=target), capture_output=True, text=True)
            self.assertTrue(r.stdout.startswith(target), r.stdout + r.stderr)
        finally:
            d.cleanup()


if __name__ == "__main__":
    unittest.main()
