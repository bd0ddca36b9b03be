#!/usr/bin/env python3
"""Takes docs/serve-page.png: the control view of `tavio32 serve` against an
emulated Sios, as headless Chromium shows it, with channel 1 named and
calibrated and digital output 2 switched on.

    scripts/serve-screenshot.py [BUILD_DIR [OUT.png]]

Run it in a network namespace of its own with an address of a class
network, which the page's QR code then shows (and where the library's
one-process lock meets no other program):

    unshare -n sh -c 'ip link set lo up && ip link add eth0 type veth peer name eth0p &&
      ip addr add 192.168.1.20/24 dev eth0 && ip link set eth0 up && ip link set eth0p up &&
      scripts/serve-screenshot.py build'
"""
import os
import shutil
import sys
import tempfile
import time

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build"))
out = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else os.path.join(root, "docs", "serve-page.png"))
os.environ.update(TAVIO32_SIM=os.path.join(build, "tavio32-sim"), TAVIO32_CLI=os.path.join(build, "tavio32"))
sys.path[:0] = [os.path.join(root, "tests", "python"), "/usr/lib/python3/dist-packages"]
from emulators import Sim, clean_environment  # noqa: E402
from serving import Server  # noqa: E402
from selenium import webdriver  # noqa: E402
from selenium.webdriver.chrome.service import Service  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402

work = tempfile.mkdtemp()
sim = Sim("sios", work)
server = Server(["--interface", "sios", "--port", "3"], clean_environment(COM3=sim.path), listen="0.0.0.0:8032")
options = webdriver.ChromeOptions()
options.binary_location = shutil.which("chromium") or shutil.which("chromium-browser")
for a in ["--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars", "--window-size=1280,1000",
          "--user-data-dir=" + os.path.join(work, "profile")]:
    options.add_argument(a)
driver = webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=options)
try:
    driver.get(server.control_url.replace("0.0.0.0", "127.0.0.1"))
    time.sleep(2)
    for key, value in [("name", "light"), ("unit", "V"), ("y", "5")]:
        field = driver.find_element(By.CSS_SELECTOR, "#cal tr:first-child input.%s" % key)
        field.clear()
        field.send_keys(value + "\n")
    driver.find_elements(By.CSS_SELECTOR, "#switches input")[1].click()
    # Afresh, with the calibration kept in the browser and the output at the
    # device: a chart without the moment of the change.
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": 1280, "height": 860, "deviceScaleFactor": 1, "mobile": False})
    time.sleep(1)
    driver.refresh()
    time.sleep(12)  # a chart that has filled a third of its 30 s
    driver.execute_script("window.scrollTo(0, 0)")
    driver.save_screenshot(out)
    print("wrote", out)
finally:
    driver.quit()
    server.kill()
    sim.stop()
    shutil.rmtree(work, ignore_errors=True)
