"""The tavio32 command in German: help, errors and the language order of
gettext, and the spreadsheet-ready CSV of --csv-style de."""
import csv
import io
import os
import subprocess
import unittest

from emulators import CLI, Sim, TempDir, clean_environment

GERMAN = b"de_DE.utf8" in subprocess.run(["locale", "-a"], capture_output=True).stdout


def run(args, lang, **extra):
    env = clean_environment(**extra.pop("ports", {}))
    for k in ("LC_ALL", "LC_MESSAGES", "LANGUAGE"):
        env.pop(k, None)
    env.update(LANG=lang, **extra)
    return subprocess.run([CLI] + args, env=env, capture_output=True, timeout=60)


@unittest.skipUnless(GERMAN, "the de_DE.UTF-8 locale is not generated (scripts/setup.sh test does it)")
class German(unittest.TestCase):
    def test_help_and_errors_follow_the_language(self):
        r = run(["read", "--help"], "de_DE.UTF-8")
        self.assertIn("Aufruf: ", r.stdout.decode())
        self.assertIn("Analoge Kanäle, z. B. 1,2", r.stdout.decode())
        bad_port = ["write", "--interface", "sios", "--port", "3", "dout", "1"]
        r = run(bad_port, "de_DE.UTF-8")
        self.assertEqual(r.returncode, 1)
        self.assertIn("tavio32: COM3 hat kein Gerät (TAVIO32_COM3 ist leer)", r.stderr.decode())
        r = run(["write", "--interface", "sios", "--port", "12", "dout", "1"], "de_DE.UTF-8")
        self.assertEqual(r.returncode, 2)
        self.assertIn("--port: der Wert 12 liegt nicht im Bereich 0 bis 9", r.stderr.decode())
        # English: LANG=C, LANGUAGE before LANG, LC_ALL before both.
        for lang, extra in (("C", {}), ("de_DE.UTF-8", {"LANGUAGE": "en"}), ("de_DE.UTF-8", {"LC_ALL": "C"})):
            r = run(bad_port, lang, **extra)
            self.assertIn(b"COM3 has no device (TAVIO32_COM3 is empty)", r.stderr, (lang, extra))
        self.assertIn(b"Usage: ", run(["--help"], "C").stdout)
        self.assertIn("Unterbefehle:", run(["--help"], "C.UTF-8", LANGUAGE="de").stdout.decode())


class GermanCsv(unittest.TestCase):
    def rows(self, data, header):
        self.assertTrue(data.startswith(b"\xef\xbb\xbf"))
        rows = list(csv.reader(io.StringIO(data.decode("utf-8-sig")), delimiter=";"))
        self.assertEqual(rows[0], header)
        for row in rows[1:]:
            self.assertEqual(len(row), len(header), row)
            float(row[0].replace(",", "."))
            self.assertNotIn(".", row[0])
        return rows

    def test_read_and_record_write_semicolons_and_decimal_commas(self):
        r = run(["read", "--count", "3", "--every", "7", "--channels", "1,2", "--csv-style", "de"], "C")
        self.assertEqual(r.returncode, 0, r.stderr)
        rows = self.rows(r.stdout, ["Zeit [ms]", "Kanal 1", "Kanal 2"])
        self.assertTrue(any("," in row[0] for row in rows[1:]), rows)
        tmp = TempDir()
        s = Sim("sios", tmp.path, name="com3")
        try:
            name = os.path.join(tmp.path, "run")
            r = run(["record", "--interface", "sios", "--port", "3", "--measurements", "20", "--channels", "1,3",
                     "--interval", "5", "--blocks", "2", "--out", name, "--csv-style", "de"], "C",
                    ports={"COM3": s.path})
            self.assertEqual(r.returncode, 0, r.stderr)
            with open(name + ".csv", "rb") as f:
                rows = self.rows(f.read(), ["Block", "Zeit [ms]", "Kanal 1", "Kanal 3"])
            self.assertEqual(len(rows), 41)
        finally:
            s.stop()
            tmp.cleanup()


if __name__ == "__main__":
    unittest.main()
