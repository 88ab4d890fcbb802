"""The preview's stage view in a real browser: the probe against `render`, and labels that
never overlap however close the heads hang."""

import csv
import io
import os
import shutil
import subprocess
import sys
import threading
from pathlib import Path

import pytest

from kinetra_live import preview
from kinetra_live.show import load_show, make_clock, parse_show

webdriver = pytest.importorskip("selenium.webdriver")
from selenium.webdriver.chrome.service import Service  # noqa: E402
from selenium.webdriver.support.ui import WebDriverWait  # noqa: E402

CHROMIUM, DRIVER = shutil.which("chromium"), shutil.which("chromedriver")
pytestmark = pytest.mark.skipif(not (CHROMIUM and DRIVER),
                                reason="needs Debian's chromium and chromium-driver")
ROOT = Path(__file__).resolve().parent.parent
EXAMPLE = ROOT / "examples" / "shows" / "heads.toml"
PROFILE = ROOT / "examples" / "fixtures" / "mac-700-wash.json"


@pytest.fixture(scope="module")
def browser(tmp_path_factory):
    folder = tmp_path_factory.mktemp("chromium")
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1600,1000",
                 f"--user-data-dir={folder / 'profile'}"):
        options.add_argument(flag)
    driver = webdriver.Chrome(service=Service(DRIVER, env={**os.environ, "TMPDIR": str(folder)}),
                              options=options)
    yield driver
    driver.quit()
    shutil.rmtree(folder, ignore_errors=True)


def serve(show):
    server = preview.make_server(preview.PreviewApp(show.pack, show, make_clock(show)), 0)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, f"http://127.0.0.1:{server.server_address[1]}/stage.html"


def ready(browser, url, state):
    browser.get(url)
    WebDriverWait(browser, 30).until(
        lambda b: b.execute_script("return document.body.dataset.ready") in (state, "error"))
    assert browser.execute_script("return document.body.dataset.ready") == state


def test_probe_gives_the_angles_render_says_were_sent(browser):
    show = load_show(EXAMPLE)
    table = list(csv.DictReader(io.StringIO(subprocess.run(
        [sys.executable, "-m", "kinetra_live", "render", str(EXAMPLE), "--seconds", "3",
         "--fps", str(show.fps)], capture_output=True, text=True, check=True).stdout)))
    server, url = serve(show)
    try:
        for fixture, seconds in (("truss_left", "0"), ("truss_right", "1.5"),
                                 ("floor_spot", "2.75")):
            ready(browser, f"{url}?show_probe={fixture}&seconds={seconds}", "probe")
            frame = int(float(seconds) * show.fps)
            row = next(r for r in table if int(r["frame"]) == frame and r["fixture"] == fixture)
            assert browser.find_element("id", "show_probe").text == \
                f"{row['sacn.pan_deg']} {row['sacn.tilt_deg']}"
    finally:
        server.shutdown()
        server.server_close()


def test_labels_never_overlap_and_beams_are_drawn(browser):
    # nine heads a few centimetres apart: every label wants the same spot
    fixtures = [{"name": f"head_{i}", "pattern": "circle", "profile": str(PROFILE),
                 "mode": "Basic 16-channel", "universe": 1, "address": 1 + 16 * i,
                 "hang": "truss", "position": [i * 0.05, 4, 6],
                 "aim": {"at": [0, 2, 0], "size": [1, 1, 0]}} for i in range(9)]
    show = parse_show({"clock": {"bpm": 120}, "fixture": fixtures})
    server, url = serve(show)
    try:
        ready(browser, url, "stage")
        WebDriverWait(browser, 30).until(
            lambda b: int(b.execute_script("return document.body.dataset.frames || 0")) >= 3)
        boxes = browser.execute_script("""
            return [...document.querySelectorAll('.label')].map(e => {
                const r = e.getBoundingClientRect();
                return [e.dataset.view, r.left, r.top, r.right, r.bottom]; });""")
        assert len(boxes) == 27
        for i, a in enumerate(boxes):
            for b in boxes[i + 1:]:
                assert not (a[1] < b[3] and b[1] < a[3] and a[2] < b[4] and b[2] < a[4]), (a, b)
    finally:
        server.shutdown()
        server.server_close()
