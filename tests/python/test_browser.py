"""The page of `tavio32 serve` in a real browser: Debian's chromium through
chromium-driver and python3-selenium, headless, against an emulated Sios.
Skips (saying what is missing) without them. Screenshots go to
$TAVIO32_ARTIFACTS (default: the current directory)."""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse

from emulators import Sim, TempDir, clean_environment
from serving import Server

try:
    import selenium  # noqa: F401
except ImportError:  # Debian's python3-selenium, under another Python
    sys.path.append("/usr/lib/python3/dist-packages")
try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    MISSING = None
except ImportError:
    MISSING = "python3-selenium is not installed"
CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
DRIVER = shutil.which("chromedriver")
if not MISSING and not CHROMIUM:
    MISSING = "chromium is not installed"
if not MISSING and not DRIVER:
    MISSING = "chromium-driver is not installed"
ZBARIMG = shutil.which("zbarimg")
CATALOG = os.path.join(os.path.dirname(__file__), "..", "..", "po", "page", "de.po")
ARTIFACTS = os.environ.get("TAVIO32_ARTIFACTS", os.getcwd())


def until(check, timeout=10, what="condition"):
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        v = check()
        if v:
            return v
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


def german_texts():
    """The page's German texts as patterns ({n}: anything), from de.po."""
    with open(CATALOG, encoding="utf-8") as f:
        found = re.findall(r'^msgstr "(.+)"$', f.read(), re.M)
    return [re.compile(re.sub(r"\\\{\w+\\\}", ".+", re.escape(t.replace('\\"', '"'))) + "$") for t in found]


@unittest.skipIf(MISSING, MISSING)
class Page(unittest.TestCase):
    def setUp(self):
        # Cleanups, not tearDown: they run when setUp fails half-way too, so
        # that no server is left holding the library for the next test.
        self.dir = TempDir()
        self.addCleanup(self.dir.cleanup)
        self.sim = Sim("sios", self.dir.path, log=True)
        self.addCleanup(lambda: self.sim.stop())  # the test may put a new one in its place
        self.server = Server(["--interface", "sios", "--port", "3"], clean_environment(COM3=self.sim.path))
        self.addCleanup(lambda: self.server.kill())
        self.downloads = os.path.join(self.dir.path, "downloads")
        os.mkdir(self.downloads)
        o = webdriver.ChromeOptions()
        o.binary_location = CHROMIUM
        self.profile = tempfile.mkdtemp(dir=self.dir.path)
        for a in ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                  "--disable-background-networking", "--disable-component-update", "--disable-sync",
                  "--disable-default-apps", "--window-size=1280,1000",
                  "--user-data-dir=" + self.profile]:
            o.add_argument(a)
        # The browser's languages: English, unless the test says otherwise.
        language = "de-DE" if "german" in self._testMethodName else "en-US"
        o.add_argument("--lang=" + language)
        o.add_experimental_option("prefs", {"intl.accept_languages": language + "," + language.split("-")[0]})
        o.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
        self.driver = webdriver.Chrome(service=Service(DRIVER), options=o)
        self.addCleanup(self.driver.quit)
        self.driver.execute_cdp_cmd("Browser.setDownloadBehavior", {"behavior": "allow",
                                                                    "downloadPath": self.downloads})

    def js(self, script):
        return self.driver.execute_script("return " + script)

    def layout_shift(self, url, width, height):
        """The layout shift while `url` fills a window of that size (the browser's own entries)."""
        self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": width, "height": height, "deviceScaleFactor": 1, "mobile": width < 600})
        self.driver.get(url)
        until(lambda: self.js("tavio32.draws") > 0, what="the chart")
        time.sleep(2.5)  # the sample rate shows after 2 s
        return self.driver.execute_async_script(
            "const done = arguments[0], seen = [];"
            "new PerformanceObserver((l) => seen.push(...l.getEntries())).observe({type: 'layout-shift', buffered: true});"
            "setTimeout(() => done(seen.reduce((sum, e) => sum + e.value, 0)), 200);")

    def first_load(self):  # the bytes of the page's own files that the load fetched, compressed where they were
        return self.js("performance.getEntriesByType('navigation').concat(performance.getEntriesByType('resource'))"
                       ".filter((e) => !e.name.includes('/api/')).reduce((sum, e) => sum + e.encodedBodySize, 0)")

    @unittest.skipIf(not ZBARIMG, "zbar-tools is not installed")
    def test_a_qr_code_takes_phones_to_the_watch_view_and_neither_view_jumps(self):
        d = self.driver
        self.server.kill()
        self.server = s = Server(["--interface", "sios", "--port", "3"], clean_environment(COM3=self.sim.path),
                                 listen="0.0.0.0:0")
        s.base = "http://127.0.0.1:%d" % s.port
        control = s.base + "/?token=" + s.token
        shifts = {("control", 1366): self.layout_shift(control, 1366, 768)}
        weight = {"control": self.first_load()}
        # Without a click, over a third of a projected screen's height: a phone reads it.
        code = d.find_element(By.ID, "join-code")
        until(lambda: code.find_elements(By.TAG_NAME, "svg"), what="the QR code")
        self.assertGreaterEqual(code.size["height"], 0.35 * 768)
        d.save_screenshot(os.path.join(ARTIFACTS, "serve-qr.png"))
        url = subprocess.run([ZBARIMG, "-q", "--raw", os.path.join(ARTIFACTS, "serve-qr.png")],
                             capture_output=True, text=True).stdout.strip()
        own = s.status()["listening"]["addresses"]  # not loopback, when the machine has one
        self.assertEqual(url, "http://%s:%d/?watch=%s" % (own[0]["address"] if own else "127.0.0.1", s.port, s.watch))
        self.assertIn(url, d.find_element(By.ID, "join-address").text)
        # It works, and watchers (a phone: no control token in its tab) see
        # no QR code (nor load its library).
        self.js("sessionStorage.clear()")
        shifts["watch", 1366] = self.layout_shift(url, 1366, 768)
        weight["watch"] = self.first_load()
        self.assertTrue(weight["control"] < 50000 and weight["watch"] < 40000, weight)  # 150 kB and 94 kB uncompressed
        self.assertEqual(d.find_element(By.ID, "role").text, "Watching (read only)")
        self.assertFalse(d.find_element(By.ID, "join").is_displayed())
        self.assertIsNone(self.js("window.qrcode"))
        shifts["watch", 360] = self.layout_shift(url, 360, 740)
        shifts["control", 360] = self.layout_shift(control, 360, 740)
        print("\nlayout shift %s" % shifts, file=sys.stderr)
        self.assertLess(max(shifts.values()), 0.1, shifts)

    def test_chart_switches_recording_and_downloads(self):
        d = self.driver
        d.get(self.server.control_url)
        until(lambda: self.js("tavio32.draws") > 3, what="the chart")
        self.assertNotIn("token", d.current_url)  # out of the address bar
        self.assertEqual(d.find_element(By.ID, "where").text, "Sios on COM3")
        self.assertEqual(d.find_element(By.ID, "state").text, "Live")
        # The chart moves.
        x1 = self.js("tavio32.chart.scales.x.max")
        time.sleep(0.5)
        self.assertGreater(self.js("tavio32.chart.scales.x.max"), x1 + 0.3)
        self.assertEqual(self.js("tavio32.chart.series.length"), 5)
        first_chart = self.js("tavio32.firstChartMs")

        # A switch reaches the emulator.
        d.find_elements(By.CSS_SELECTOR, "#switches input")[1].click()
        until(lambda: "digital outputs 0x02" in "".join(self.sim.log), what="DOUT 2 at the emulator")
        d.find_element(By.ID, "aout-1")  # the Sios has analog outputs

        # A recording completes and its CSV downloads.
        m = d.find_element(By.ID, "r-measurements")
        m.clear()
        m.send_keys("50")
        i = d.find_element(By.ID, "r-interval")
        i.clear()
        i.send_keys("5")
        self.assertIn("0.3 s", d.find_element(By.ID, "r-duration").text)
        d.find_element(By.ID, "r-start").click()
        until(lambda: d.find_element(By.ID, "r-result").is_displayed(), timeout=15, what="the recording")
        self.assertEqual(self.js("document.getElementById('p-reading').value"),
                         self.js("document.getElementById('p-reading').max"))
        name = self.server.request("/api/recording").json()["name"]
        d.find_element(By.ID, "d-csv").click()
        path = os.path.join(self.downloads, name + ".csv")
        until(lambda: os.path.exists(path), what="the CSV download")
        with open(path, "rb") as f:
            self.assertEqual(f.read(), self.server.request("/api/recording.csv").body)
        # Calibration: raw 0..255 is 0..5 V, in the page's own CSV.
        for key, value in [("name", "light"), ("unit", "V"), ("y", "5")]:
            e = d.find_element(By.CSS_SELECTOR, "#cal tr:first-child input.%s" % key)
            e.clear()
            e.send_keys(value + "\n")
        d.find_element(By.ID, "d-calibrated").click()
        cal = os.path.join(self.downloads, name + "-calibrated.csv")
        until(lambda: os.path.exists(cal) and os.path.getsize(cal) > 0, what="the calibrated CSV")
        with open(cal) as f:
            rows = f.read().splitlines()
        self.assertEqual(rows[0], "time_ms,light [V],channel 2")
        raw = self.server.request("/api/recording").json()["values"]["1"][0]
        self.assertAlmostEqual(float(rows[1].split(",")[1]), raw * 5 / 255, places=3)

        d.execute_script("window.scrollTo(0, 0)")
        time.sleep(0.3)
        d.save_screenshot(os.path.join(ARTIFACTS, "serve-page.png"))
        # It fits a 360-pixel phone: nothing wider than the screen.
        d.set_window_size(360, 1400)
        until(lambda: self.js("document.documentElement.clientWidth") <= 360, what="the narrow window")
        d.execute_script("window.scrollTo(0, 0)")
        time.sleep(0.3)
        self.assertLessEqual(self.js("document.documentElement.scrollWidth"),
                             self.js("document.documentElement.clientWidth"))
        d.save_screenshot(os.path.join(ARTIFACTS, "serve-page-360.png"))

        # No errors, and no request to any other host.
        self.assertEqual(self.js("tavio32.errors"), [])
        severe = [e for e in d.get_log("browser") if e["level"] == "SEVERE"]
        self.assertEqual(severe, [])
        own = urllib.parse.urlsplit(self.server.base).netloc
        for entry in d.get_log("performance"):
            msg = json.loads(entry["message"])["message"]
            if msg["method"] == "Network.requestWillBeSent":
                url = msg["params"]["request"]["url"]
                u = urllib.parse.urlsplit(url)
                # (chrome:// is the browser's own blank tab before the page.)
                self.assertTrue(u.scheme in ("data", "blob", "chrome") or u.netloc == own, url)
        print("\nfirst chart %.0f ms after navigation" % first_chart, file=sys.stderr)

    def test_the_control_token_stays_in_its_tab(self):
        d, s = self.driver, self.server
        role = lambda: d.find_element(By.ID, "role").text  # noqa: E731
        d.get(s.control_url)
        until(lambda: role() == "Control", what="control")
        # A watch link opened in the same tab does not take control away; a reload neither.
        d.get(s.watch_url)
        until(lambda: self.js("tavio32.draws") > 0, what="the chart")
        until(lambda: role() == "Control", what="control after the watch link")
        d.refresh()
        until(lambda: role() == "Control", what="control after a reload")
        self.assertNotIn(s.token, json.dumps(d.get_cookies()))
        d.quit()
        # The browser's own files, once it has ended: history and cookies hold no control token.
        import sqlite3
        for name, query in [("History", "SELECT url FROM urls"), ("Cookies", "SELECT value FROM cookies")]:
            path = os.path.join(self.profile, "Default", name)
            if not os.path.exists(path):
                continue
            with sqlite3.connect("file:%s?mode=ro" % path, uri=True) as db:
                rows = [r[0] for r in db.execute(query)]
            if name == "History":  # it keeps the address opened (with its used-up code)
                self.assertTrue([r for r in rows if "login=" in r], rows)
            self.assertFalse([r for r in rows if s.token in str(r)], name)
        with open(os.path.join(self.profile, "Default", "History"), "rb") as f:
            self.assertNotIn(s.token.encode(), f.read())

    def test_watchers_see_the_page_without_controls(self):
        d = self.driver
        d.get(self.server.watch_url)
        until(lambda: self.js("tavio32.draws") > 0, what="the chart")
        self.assertTrue(all(not s.is_enabled() for s in d.find_elements(By.CSS_SELECTOR, "#switches input")))
        self.assertFalse(d.find_element(By.ID, "r-start").is_enabled())
        self.assertFalse(d.find_element(By.ID, "select").is_displayed())
        self.assertIn("read only", d.find_element(By.ID, "role").text)
        # The device vanishes: the header and a banner say so; it comes
        # back: live again, the banner gone, the chart moving.
        self.sim.stop()
        state, banner = d.find_element(By.ID, "state"), d.find_element(By.ID, "banner")
        until(lambda: state.text == "COM3 does not answer", what="the error in the header")
        self.assertTrue(banner.is_displayed())
        self.assertIn("COM3", banner.text)
        self.sim = Sim("sios", self.dir.path)
        until(lambda: state.text == "Live", timeout=5, what="live again")
        self.assertFalse(banner.is_displayed())
        n = self.js("tavio32.samples")
        until(lambda: self.js("tavio32.samples") > n + 5, what="samples again")

    def test_a_recording_stopped_from_the_page_leaves_the_device_live(self):
        d = self.driver
        d.get(self.server.control_url)
        until(lambda: self.js("tavio32.draws") > 0, what="the chart")
        d.execute_script("document.getElementById('r-measurements').value = 2000")  # 20 s at 10 ms
        stop, state = d.find_element(By.ID, "r-stop"), d.find_element(By.ID, "state")
        d.find_element(By.ID, "r-start").click()
        until(lambda: state.text.startswith("Recording"), what="the recording")
        until(stop.is_displayed, what="the Stop button")
        stop.click()
        until(lambda: state.text == "Live", timeout=5, what="live again")
        self.assertFalse(stop.is_displayed())
        self.assertIn("the recording was stopped: nothing was kept", d.find_element(By.ID, "banner").text)
        n = self.js("tavio32.samples")
        until(lambda: self.js("tavio32.samples") > n + 5, what="samples again")
        self.assertEqual(self.js("tavio32.errors"), [])

    def test_a_stream_refused_for_its_address_says_what_to_set(self):
        held = [self.server.events(token=self.server.watch) for _ in range(4)]  # from the browser's address
        self.addCleanup(lambda: [e.close() for e in held])
        self.driver.get(self.server.watch_url)
        banner = self.driver.find_element(By.ID, "banner")
        until(lambda: "start serve with --per-address N" in banner.text, what="the refusal in the banner")

    def shown_texts(self):
        """Every text the page shows or names: the visible elements' own text, title,
        aria-label and placeholder, and the window's title."""
        return self.js(
            "Array.from(document.querySelectorAll('body *')).filter((e) => e.getClientRects().length)"
            ".flatMap((e) => [Array.from(e.childNodes).filter((n) => n.nodeType === 3).map((n) => n.nodeValue).join('')]"
            ".concat(['title', 'aria-label', 'placeholder'].map((a) => e.getAttribute(a) || '')))"
            ".concat(document.title.replace(/^tavio32: /, '').split(' · '))"
            ".map((t) => t.trim()).filter((t) => /[A-Za-z]{2}/.test(t))")

    def unnamed_controls(self):  # what a screen reader would find without a name
        tree = self.driver.execute_cdp_cmd("Accessibility.getFullAXTree", {})["nodes"]
        roles = {"button", "checkbox", "combobox", "textbox", "spinbutton", "slider", "link", "img", "progressbar"}
        return [n for n in tree if not n.get("ignored") and n.get("role", {}).get("value") in roles
                and not n.get("name", {}).get("value", "").strip()]

    def test_german_browsers_get_the_page_in_german_steady_and_with_spreadsheet_ready_files(self):
        d, s = self.driver, self.server
        german = german_texts()
        names = re.compile(r"(tavio32|Sios|Deutsch|English|\.[a-z]{3})$")  # the same in both
        control = s.base + "/?token=" + s.token
        shifts, weight = {}, {}
        for width, height in [(1366, 768), (360, 740)]:
            shifts[width] = self.layout_shift(control, width, height)
            weight[width] = self.first_load()
            self.assertEqual(self.js("document.documentElement.lang"), "de")
            self.assertEqual(d.find_element(By.ID, "role").text, "Steuerung")
            english = [t for t in self.shown_texts() if not names.match(t) and not any(g.match(t) for g in german)]
            self.assertEqual(english, [], "texts not in German at %d px" % width)
            self.assertEqual(self.unnamed_controls(), [])
            self.assertLessEqual(self.js("document.documentElement.scrollWidth"),
                                 self.js("document.documentElement.clientWidth"))
        d.save_screenshot(os.path.join(ARTIFACTS, "serve-page-de-360.png"))
        print("\nGerman: layout shift %s, first load %s bytes" % (shifts, weight), file=sys.stderr)
        self.assertLess(max(shifts.values()), 0.1, shifts)

        # The calibrated CSV files, live and recorded: ';', decimal commas,
        # German headers, a byte order mark (for the °C).
        for key, value in [("name", "Licht"), ("unit", "°C"), ("y", "5")]:
            e = d.find_element(By.CSS_SELECTOR, "#cal tr:first-child input.%s" % key)
            e.clear()
            e.send_keys(value + "\n")
        d.execute_script("document.getElementById('r-measurements').value = 20")
        d.find_element(By.ID, "r-start").click()
        until(lambda: d.find_element(By.ID, "r-result").is_displayed(), timeout=15, what="the recording")
        rec = s.request("/api/recording").json()
        for button, file, header in [
                ("live-csv", "tavio32-live.csv", "Zeit [s];Licht [°C];Kanal 2;Kanal 3;Kanal 4;digital"),
                ("d-calibrated", rec["name"] + "-calibrated.csv", "Zeit [ms];Licht [°C];Kanal 2")]:
            d.find_element(By.ID, button).click()
            path = os.path.join(self.downloads, file)
            until(lambda: os.path.exists(path) and os.path.getsize(path) > 0, what=file)
            with open(path, "rb") as f:
                data = f.read()
            self.assertTrue(data.startswith(b"\xef\xbb\xbf"), file)
            rows = [r.split(";") for r in data[3:].decode().splitlines()]
            self.assertEqual(";".join(rows[0]), header)
            values = [float(v.replace(",", ".")) for r in rows[1:] for v in r[:2]]
            self.assertTrue(any("," in r[1] for r in rows[1:]), rows[:3])
        self.assertAlmostEqual(values[1], rec["values"]["1"][0] * 5 / 255, places=3)
        self.assertEqual(len(rows), 21)

        # English, chosen on the page: at once, no reload; kept after one.
        d.execute_script("window.notReloaded = true")
        d.find_element(By.CSS_SELECTOR, "#lang option[value=en]").click()
        until(lambda: d.find_element(By.ID, "role").text == "Control", what="English")
        self.assertEqual(self.js("[document.documentElement.lang, window.notReloaded]"), ["en", True])
        self.assertIn("measurements of channels 1, 2 every", d.find_element(By.ID, "r-summary").text)
        d.refresh()
        until(lambda: d.find_element(By.ID, "role").text == "Control", what="English after a reload")
        # German again; the server's fixed texts (it speaks English) in German too.
        d.find_element(By.CSS_SELECTOR, "#lang option[value=de]").click()
        self.sim.stop()
        until(lambda: d.find_element(By.ID, "state").text == "COM3 antwortet nicht", what="the error in German")
        self.assertRegex(d.find_element(By.ID, "banner-text").text, r"^(Sios an COM3 \(.+\) antwortet nicht|COM3 gibt es auf diesem Rechner nicht): ")  # tavio32.exe: its port vanished
        self.assertEqual(self.js("tavio32.errors"), [])


if __name__ == "__main__":
    unittest.main()
