"""tavio32.exe under Wine (scripts/test-wine.sh): what differs from the Linux
command, and that it gives the same bytes: one program at a time with the
holder named, help while the library is held, Ctrl-C, and a recording whose
files equal the Linux command's conversion of the same .dat. Needs
TAVIO32_EXE (tests/win/wine_cli.sh as TAVIO32_CLI) and TAVIO32_LINUX_CLI."""
import json
import os
import signal
import subprocess
import time
import unittest
import urllib.request

from emulators import CLI, WINE, Sim, TempDir, clean_environment
from serving import Server

LINUX_CLI = os.environ.get("TAVIO32_LINUX_CLI")


def run(cli, args, env, **kw):
    t0 = time.monotonic()
    r = subprocess.run([cli] + args, env=env, capture_output=True, timeout=120, **kw)
    return r, time.monotonic() - t0


@unittest.skipUnless(WINE and LINUX_CLI, "needs TAVIO32_EXE and TAVIO32_LINUX_CLI (scripts/test-wine.sh)")
class Command(unittest.TestCase):
    def setUp(self):
        self.dir = TempDir()
        self.addCleanup(self.dir.cleanup)
        self.sim = Sim("sios", self.dir.path, log=True)
        self.addCleanup(lambda: self.sim.stop())
        self.env = clean_environment(COM3=self.sim.path)

    def test_one_program_help_while_held_and_ctrl_c(self):
        server = Server(["--interface", "sios", "--port", "3"], self.env)
        self.addCleanup(server.kill)
        server.wait_state("live")
        helps = [run(CLI, a, self.env)[0] for a in (["--help"], ["serve", "--help"], ["--help-all"])]
        bad, _ = run(CLI, ["read", "--every", "0"], self.env)
        second, took = run(CLI, ["version"], self.env)
        for r in helps:
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertIn(b"Usage", r.stdout)
        self.assertEqual(bad.returncode, 2, bad.stderr)
        # Refused at once, naming the holder, without the library's own refusal.
        self.assertEqual(second.returncode, 1)
        self.assertRegex(second.stderr, rb"^tavio32: process \d+ \(tavio32\.exe\) is using the tavio32 library")
        self.assertNotIn(b"Nonshared", second.stderr)
        self.assertLess(took, 3.0)
        # SIGINT reaches the program as Ctrl-C: it ends in time, the port and
        # the library free.
        rc, took = server.end(signal.SIGINT)
        self.assertEqual(rc, 130)
        self.assertLess(took, 1.5)
        r, _ = run(CLI, ["read", "--interface", "sios", "--port", "3", "--count", "2"], self.env)
        self.assertEqual(r.returncode, 0, r.stderr)

    def test_same_bytes_to_the_interface_and_in_the_files_as_on_linux(self):
        read = ["read", "--interface", "sios", "--port", "3", "--count", "3", "--every", "20", "--digital"]
        sent = []
        for cli in (CLI, LINUX_CLI):
            before = len(self.sim.received(settle=0))
            r, _ = run(cli, read, self.env)
            self.assertEqual(r.returncode, 0, r.stderr)
            sent.append(self.sim.received()[before:])
            self.assertEqual(r.stdout.count(b"\n"), 4, r.stdout)  # header and three rows, LF only
            self.assertNotIn(b"\r", r.stdout)
        self.assertTrue(sent[0])
        self.assertEqual(sent[0], sent[1])

        out = os.path.join(self.dir.path, "win")
        r, _ = run(CLI, ["record", "--interface", "sios", "--port", "3", "--measurements", "50", "--channels", "1,2",
                         "--interval", "4", "--out", out], self.env)
        self.assertEqual(r.returncode, 0, r.stderr)
        again = os.path.join(self.dir.path, "linux")
        r, _ = run(LINUX_CLI, ["table", out + ".dat", "--interface", "sios", "-o", again + ".txt", "--csv",
                               again + ".csv", "--plot", again + ".svg"], self.env)
        self.assertEqual(r.returncode, 0, r.stderr)
        for ext in ("txt", "csv"):  # (the plot's title names the file)
            with open(out + "." + ext, "rb") as a, open(again + "." + ext, "rb") as b:
                self.assertEqual(a.read(), b.read(), ext)

    def test_double_click_serves_and_opens_the_browser(self):
        # `start` gives the program a console of its own, as Explorer does;
        # the browser it opens (through xdg-open) writes down the address.
        bin_dir = os.path.join(self.dir.path, "bin")
        os.mkdir(bin_dir)
        opened = os.path.join(self.dir.path, "opened")
        with open(os.path.join(bin_dir, "xdg-open"), "w") as f:
            f.write('#!/bin/sh\necho "$1" > %s\n' % opened)
        os.chmod(os.path.join(bin_dir, "xdg-open"), 0o755)
        env = {k: v for k, v in self.env.items() if not k.startswith("TAVIO32_COM")}
        env["PATH"] = bin_dir + ":" + os.environ["PATH"]
        for n in range(1, 10):  # COM3 leads to the Sios, the others nowhere (as wine_cli.sh does)
            link = os.path.join(os.environ["WINEPREFIX"], "dosdevices", "com%d" % n)
            if os.path.lexists(link):
                os.unlink(link)
            os.symlink(self.sim.path if n == 3 else "/nonexistent", link)
        p = subprocess.Popen(["/bin/sh", "-c", 'exec "$TAVIO32_WINE" start /wait /unix "$TAVIO32_EXE"'], env=env,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            end = time.monotonic() + 60
            while not os.path.exists(opened) and time.monotonic() < end:
                time.sleep(0.1)
            with open(opened) as f:
                url = f.read().strip()
            self.assertRegex(url, r"^http://127\.0\.0\.1:8032/\?login=[0-9a-f]+$")
            base, code = url.split("?login=")
            login = urllib.request.Request(base + "api/login", data=json.dumps({"code": code}).encode(),
                                           headers={"Content-Type": "application/json"})
            with urllib.request.urlopen(login, timeout=10) as r:
                token = json.load(r)["token"]
            req = urllib.request.Request(base + "api/status", headers={"Authorization": "Bearer " + token})
            with urllib.request.urlopen(req, timeout=10) as r:
                status = json.load(r)
            self.assertEqual((status["interface"], status["port"]), ("sios", 3))  # detection found it
        finally:
            subprocess.run(["wineserver", "-k"], env=env, timeout=30)  # the started program is not our child
            p.wait(30)

    def test_german_windows_speaks_german(self):
        # Wine takes the user's interface language from LANG (LC_ALL unset).
        env = {k: v for k, v in self.env.items() if k not in ("LC_ALL", "LC_MESSAGES", "LANGUAGE")}
        german = dict(env, LANG="de_DE.UTF-8", TAVIO32_COM4="")
        r, _ = run(CLI, ["--help"], german)
        self.assertIn("Aufruf: ", r.stdout.decode())
        r, _ = run(CLI, ["write", "--interface", "sios", "--port", "4", "dout", "1"], german)
        self.assertEqual(r.returncode, 1)
        self.assertIn("COM4 gibt es auf diesem Rechner nicht", r.stderr.decode())
        r, _ = run(CLI, ["--help"], dict(env, LANG="C"))
        self.assertIn(b"Usage: ", r.stdout)


if __name__ == "__main__":
    unittest.main()
