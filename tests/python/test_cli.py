"""The tavio32 command as users run it: a child process against emulated
interfaces on pseudo-terminals served by tavio32-sim."""
import csv
import io
import os
import pathlib
import select
import shutil
import signal
import subprocess
import time
import unittest
import xml.etree.ElementTree as ET

from emulators import CLI, Sim, TempDir, clean_environment, device_of, end, hold_device_in_child, hold_library_in_child

SVG = "{http://www.w3.org/2000/svg}"


def run(args, env=None, input=None, timeout=60):
    return subprocess.run([CLI] + args, env=env or clean_environment(), input=input, capture_output=True,
                          timeout=timeout)


class Usage(unittest.TestCase):
    def test_every_subcommand_has_help_and_bad_usage_fails_with_status_2(self):
        for sub in ["ports", "detect", "read", "write", "record", "table", "monitor", "version"]:
            r = run([sub, "--help"])
            self.assertEqual(r.returncode, 0, sub)
            self.assertIn(b"Usage", r.stdout, sub)
        self.assertEqual(run(["frobnicate"]).returncode, 2)
        self.assertEqual(run([]).returncode, 2)
        r = run(["record", "--interface", "compulab", "--port", "3", "--measurements", "5", "--channels", "1",
                 "--interval", "10", "--out", "x"])
        self.assertEqual(r.returncode, 2)
        r = run(["read", "--channels", "7", "--count", "1"])
        self.assertEqual(r.returncode, 2)
        self.assertIn(b"channels are 1 to 4", r.stderr)

    def test_version(self):
        r = run(["version"])
        self.assertEqual(r.returncode, 0)
        self.assertIn(b"tavio32 1.22 (library version 122)", r.stdout)


class WithDevices(unittest.TestCase):
    def setUp(self):
        self.dir = TempDir()
        self.sims = []

    def tearDown(self):
        for s in self.sims:
            s.stop()
        self.dir.cleanup()

    def sim(self, device, name="com3", **kw):
        s = Sim(device, self.dir.path, name=name, **kw)
        self.sims.append(s)
        return s

    def file(self, name):
        return os.path.join(self.dir.path, name)


class Ports(WithDevices):
    def test_lists_mappings_and_states(self):
        s = self.sim("sios")
        env = clean_environment(COM3=s.path)
        env["TAVIO32_COM5"] = self.file("absent")
        del env["TAVIO32_COM9"]
        r = run(["ports"], env=env)
        self.assertEqual(r.returncode, 0)
        lines = {l.split()[0]: l for l in r.stdout.decode().splitlines() if l.strip().startswith("COM")}
        self.assertIn(device_of(s.path, 3), lines["COM3"])
        self.assertIn("can be opened", lines["COM3"])
        self.assertIn("no device", lines["COM4"])
        self.assertIn("missing", lines["COM5"])
        self.assertIn("/dev/ttyS8", lines["COM9"])
        self.assertIn("(default)", lines["COM9"])


class Detect(WithDevices):
    def test_finds_the_sios_and_its_port(self):
        s = self.sim("sios")
        r = run(["detect"], env=clean_environment(COM3=s.path))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.decode().strip(), "Sios on COM3 (%s)" % device_of(s.path, 3))

    def test_nothing_found_says_simulation_and_fails(self):
        r = run(["detect"])
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"simulation is in use", r.stdout)


class Read(WithDevices):
    def rows(self, data):
        return list(csv.reader(io.StringIO(data.decode())))

    def test_piped_output_is_csv_with_increasing_times(self):
        s = self.sim("sios")
        r = run(["read", "--interface", "sios", "--port", "3", "--channels", "1,3", "--digital", "--every", "20",
                 "--count", "5"], env=clean_environment(COM3=s.path))
        self.assertEqual(r.returncode, 0, r.stderr)
        rows = self.rows(r.stdout)
        self.assertEqual(rows[0], ["time_ms", "channel 1", "channel 3", "digital"])
        self.assertEqual(len(rows), 6)
        times = [float(row[0]) for row in rows[1:]]
        self.assertEqual(times, sorted(times))
        self.assertGreaterEqual(times[-1], 80)
        for row in rows[1:]:
            self.assertTrue(all(0 <= int(v) <= 255 for v in row[1:]), row)
        self.assertNotIn(b"\x1b[", r.stdout)  # no live view when piped

    def test_simulation_without_interface_and_csv_file(self):
        out = self.file("sim.csv")
        r = run(["read", "--count", "3", "--every", "10", "--csv", out])
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(out) as f:
            rows = list(csv.reader(f))
        self.assertEqual(rows[0], ["time_ms", "channel 1", "channel 2", "channel 3", "channel 4"])
        self.assertEqual(len(rows), 4)

    def test_silent_interface_is_reported(self):
        s = self.sim("silent")
        r = run(["read", "--interface", "sios", "--port", "3", "--count", "1"], env=clean_environment(COM3=s.path))
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"does not answer", r.stderr)

    def test_numbered_adapter_that_is_out_and_numbering_by_hand(self):
        numbers = self.file("com-ports")
        with open(numbers, "w") as f:
            f.write("COM4 0403:6001 serial=GONE1 if=00 # Maker Adapter\nnonsense\ncom4 1:2 at=1-1 if=00\n")
        env = clean_environment()
        env["TAVIO32_COM_NUMBERS"] = numbers
        del env["TAVIO32_COM4"]
        r = run(["read", "--interface", "sios", "--port", "4", "--count", "1"], env=env)
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"the USB adapter of COM4 (Maker Adapter) is not plugged in", r.stderr)
        self.assertRegex(run(["ports"], env=env).stdout.decode(), r"COM4 +- +\(USB adapter\) +not plugged in: Maker Adapter")
        r = run(["ports", "--assign", "COM5=/dev/null"], env=env)
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"/dev/null is no USB serial adapter", r.stderr)
        r = run(["ports", "--forget", "COM4"], env=env)
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(numbers) as f:
            self.assertNotIn("COM4", f.read())
        self.assertEqual(run(["ports", "--assign", "COM12=/dev/null"], env=env).returncode, 2)

    def test_unmapped_and_busy_ports_say_what_to_do(self):
        r = run(["read", "--interface", "sios", "--port", "4", "--count", "1"])
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"set TAVIO32_COM4=", r.stderr)
        s = self.sim("sios")
        holder = hold_device_in_child(s.path)
        try:
            r = run(["read", "--interface", "sios", "--port", "3", "--count", "1"], env=clean_environment(COM3=s.path))
        finally:
            end(holder)
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"in use by process %d" % holder.pid, r.stderr)


class Write(WithDevices):
    def test_dout_aout_status_send_the_interface_bytes(self):
        s = self.sim("sios", log=True)
        env = clean_environment(COM3=s.path)
        self.assertEqual(run(["write", "--interface", "sios", "--port", "3", "dout", "90"], env=env).returncode, 0)
        self.assertEqual(run(["write", "--interface", "sios", "--port", "3", "aout", "2", "200"], env=env).returncode, 0)
        got = s.received()
        self.assertIn([16, 90], [got[i:i + 2] for i in range(len(got))])
        self.assertIn([65, 200], [got[i:i + 2] for i in range(len(got))])
        r = run(["write", "--interface", "compulab", "--port", "3", "aout", "1", "5"], env=env)
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"no analog outputs", r.stderr)


class Record(WithDevices):
    def check_svg(self, path, channels, points):
        root = ET.parse(path).getroot()
        lines = root.findall(".//%spolyline" % SVG)
        self.assertEqual([l.get("data-channel") for l in lines], [str(c) for c in channels])
        for l in lines:
            pts = [p.split(",") for p in l.get("points").split()]
            self.assertEqual(len(pts), points)
            ys = [float(y) for _, y in pts]
            xs = [float(x) for x, _ in pts]
            self.assertEqual(xs, sorted(xs))
            self.assertTrue(all(40 <= y <= 370 for y in ys))  # inside the 0..255 scale
        texts = [t.text for t in root.iter("%stext" % SVG)]
        self.assertIn("time [ms]", texts)
        self.assertIn("value (0..255)", texts)
        for c in channels:
            self.assertIn("channel %d" % c, texts)

    def test_write_protected_outputs_stay_and_are_named(self):
        os.chmod(self.dir.path, 0o777)  # as an ordinary user (as root: nobody) in a folder open to all
        dat, txt, csv_ = self.file("r.dat"), self.file("r.txt"), self.file("r.csv")
        for name, content in ((dat, bytes(30720)), (txt, b"old"), (csv_, b"old")):
            pathlib.Path(name).write_bytes(content)
            os.chmod(name, 0o444)
        cli = CLI
        if os.geteuid() == 0 and os.environ.get("TAVIO32_LIBRARY"):
            # nobody may not reach the build folder (a checkout under /root): a copy of the
            # command, with the library beside it, where it finds it
            cli = os.path.join(self.dir.path, "tavio32")
            shutil.copy(CLI, cli)
            shutil.copy(os.environ["TAVIO32_LIBRARY"], os.path.join(self.dir.path, "libtavio32.so.1"))
        for option, name in (("-o", txt), ("--csv", csv_)):
            r = subprocess.run([cli, "table", dat, "--interface", "sios", option, name], env=clean_environment(),
                               capture_output=True, timeout=60, user="nobody" if os.geteuid() == 0 else None)
            self.assertEqual(r.returncode, 1, r.stderr)
            self.assertIn(b"cannot write %s: the file is write-protected" % name.encode(), r.stderr)
            self.assertEqual(pathlib.Path(name).read_bytes(), b"old")

    def test_record_writes_raw_table_csv_and_plot(self):
        s = self.sim("sios")
        env = clean_environment(COM3=s.path)
        name = self.file("run")
        r = run(["record", "--interface", "sios", "--port", "3", "--measurements", "40", "--channels", "1,3",
                 "--interval", "5", "--out", name], env=env)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(b"40 measurements of 2 channels", r.stdout)
        self.assertEqual(os.path.getsize(name + ".dat"), 30720)
        with open(name + ".csv") as f:
            rows = list(csv.reader(f))
        self.assertEqual(rows[0], ["time_ms", "channel 1", "channel 3"])
        self.assertEqual(len(rows), 41)
        self.assertEqual([r[0] for r in rows[1:4]], ["0", "5", "10"])
        with open(name + ".txt", "rb") as f:
            table = f.read().split(b"\r\n")
        self.assertEqual(table[0], b"Zeit [ms];\tKanal 1\tKanal 3\t")
        # The CSV holds the same values as the library's table.
        self.assertEqual(table[2].split(b"\t")[1:3], [v.encode() for v in rows[1][1:3]])
        self.check_svg(name + ".svg", [1, 3], 40)

        # table converts the raw file back to the same table, CSV and plot.
        r = run(["table", name + ".dat", "--interface", "sios", "-o", self.file("again.txt"), "--csv",
                 self.file("again.csv"), "--plot", self.file("again.svg")])
        self.assertEqual(r.returncode, 0, r.stderr)
        for a, b in [("run.txt", "again.txt"), ("run.csv", "again.csv")]:
            with open(self.file(a), "rb") as f1, open(self.file(b), "rb") as f2:
                self.assertEqual(f1.read(), f2.read())
        self.check_svg(self.file("again.svg"), [1, 3], 40)

    def test_sios_trigger_is_sent_and_checked(self):
        s = self.sim("sios", log=True)
        env = clean_environment(COM3=s.path)
        r = run(["record", "--interface", "sios", "--port", "3", "--measurements", "5", "--channels", "1",
                 "--interval", "2", "--trigger", "5:0", "--out", self.file("t")], env=env)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertIn(119, s.received())  # trigger mode 5
        r = run(["record", "--interface", "sios", "--port", "3", "--measurements", "5", "--channels", "1",
                 "--interval", "2", "--trigger", "9:0", "--out", self.file("t")], env=env)
        self.assertEqual(r.returncode, 2)
        self.assertIn(b"MODE:VALUE", r.stderr)

    def test_zelle_blocks(self):
        s = self.sim("zelle")
        name = self.file("z")
        r = run(["record", "--interface", "zelle", "--port", "3", "--measurements", "10", "--channels", "2",
                 "--interval", "5", "--blocks", "2", "--out", name], env=clean_environment(COM3=s.path))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(os.path.getsize(name + ".dat"), 6146)
        with open(name + ".csv") as f:
            rows = list(csv.reader(f))
        self.assertEqual(rows[0], ["block", "time_ms", "channel 2"])
        self.assertEqual(len(rows), 21)
        self.assertEqual(rows[11][:2], ["2", "0"])

    def test_interrupted_readout_keeps_what_was_read(self):
        s = self.sim("sios")
        name = self.file("long")
        # 1 s of recording, then about 4 s of readout (2 ms a byte).
        p = subprocess.Popen([CLI, "record", "--interface", "sios", "--port", "3", "--measurements", "2000",
                              "--channels", "1", "--interval", "1", "--out", name],
                             env=clean_environment(COM3=s.path), stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        time.sleep(2.5)
        p.send_signal(signal.SIGINT)
        out, err = p.communicate(timeout=30)
        self.assertEqual(p.returncode, 130, err)
        self.assertIn(b"what was read is in", out)
        size = os.path.getsize(name + ".partial.dat")
        self.assertGreater(size, 16)
        self.assertLess(size, 16 + 2001)
        self.assertFalse(os.path.exists(name + ".dat"))
        r = run(["table", name + ".partial.dat", "--interface", "sios", "--csv", self.file("part.csv")])
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(self.file("part.csv")) as f:
            self.assertEqual(len(f.readlines()), 1 + size - 16)
        # The interface was left ready: a new recording works at once.
        r = run(["record", "--interface", "sios", "--port", "3", "--measurements", "5", "--channels", "1",
                 "--interval", "1", "--out", self.file("after")], env=clean_environment(COM3=s.path))
        self.assertEqual(r.returncode, 0, r.stderr)


def run_on_terminal(args, env, interrupt_after=None):
    """Runs the command with standard output on a pseudo-terminal; returns
    the exit status and everything it showed there."""
    master, slave = os.openpty()
    p = subprocess.Popen([CLI] + args, env=env, stdout=slave, stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
    os.close(slave)
    shown = b""
    start = time.monotonic()
    signalled = False
    while True:
        if interrupt_after is not None and not signalled and time.monotonic() - start > interrupt_after:
            p.send_signal(signal.SIGINT)
            signalled = True
        r, _, _ = select.select([master], [], [], 0.1)
        if r:
            try:
                data = os.read(master, 4096)
            except OSError:
                break
            if not data:
                break
            shown += data
        elif p.poll() is not None:
            break
    p.wait(30)
    os.close(master)
    p.stderr.close()
    return p.returncode, shown


class Terminal(WithDevices):
    def test_live_view_on_a_terminal_until_interrupted(self):
        status, shown = run_on_terminal(["read", "--channels", "1,2", "--every", "20"], clean_environment(),
                                        interrupt_after=1.0)
        self.assertEqual(status, 0)
        self.assertIn(b"channel 1", shown)
        self.assertIn(b"\x1b[2A", shown)  # the two lines are redrawn in place
        self.assertNotIn(b"time_ms", shown)

    def test_progress_bars_while_recording_and_reading(self):
        s = self.sim("sios")
        name = self.file("tty")
        status, shown = run_on_terminal(["record", "--interface", "sios", "--port", "3", "--measurements", "100",
                                         "--channels", "1", "--interval", "5", "--out", name],
                                        clean_environment(COM3=s.path))
        self.assertEqual(status, 0)
        self.assertIn(b"recording  [", shown)
        self.assertIn(b"reading    [##############################] 100%  101 of 101 bytes", shown)
        self.assertTrue(os.path.exists(name + ".svg"))


class Monitor(WithDevices):
    def test_piped_bytes_go_out_and_answers_come_back(self):
        s = self.sim("echo")
        env = clean_environment(COM3=s.path)
        r = run(["monitor", "COM3", "--settings", "19200,N,8,2"], env=env, input=b"hello")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout, b"hello")
        r = run(["monitor", "COM3", "--hex"], env=env, input=b"\x00\xffA")
        self.assertEqual(r.stdout.split(), [b"00", b"ff", b"41"])
        r = run(["monitor", "COM3", "--settings", "19200,N,8"], env=env, input=b"")
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"settings", r.stderr)


@unittest.skipIf(os.environ.get("TAVIO32_SANITIZED"), "Python cannot load the sanitized library")
class OneProcess(unittest.TestCase):
    def test_a_second_program_is_told_who_holds_the_library(self):
        holder = hold_library_in_child()
        try:
            r = run(["version"])
        finally:
            end(holder)
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"process %d" % holder.pid, r.stderr)
        self.assertEqual(run(["version"]).returncode, 0)

    def test_help_and_usage_errors_work_while_the_library_is_held(self):
        holder = hold_library_in_child()
        try:
            helps = [run(a) for a in (["--help"], ["--help-all"], ["serve", "--help"], ["record", "--help"])]
            bad = [run(a) for a in (["read", "--bogus"], ["frobnicate"], ["read", "--channels", "7", "--count", "1"])]
        finally:
            end(holder)
        for r in helps:
            self.assertEqual((r.returncode, r.stderr), (0, b""))
            self.assertIn(b"Usage", r.stdout)
        for r in bad:
            self.assertEqual(r.returncode, 2, r.stderr)
            self.assertNotIn(b"using the tavio32 library", r.stderr)


if __name__ == "__main__":
    unittest.main()
