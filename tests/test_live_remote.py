"""The web remote in real chromium: its buttons drive the show; requests without the token,
from a foreign Origin or to a foreign Host are refused."""

import http.client
import json
import os
import shutil
import signal
import subprocess
import sys
import time
from urllib.parse import urlsplit

import pytest

webdriver = pytest.importorskip("selenium.webdriver")
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.chrome.service import Service  # noqa: E402

CHROMIUM, DRIVER = shutil.which("chromium"), shutil.which("chromedriver")
pytestmark = pytest.mark.skipif(not (CHROMIUM and DRIVER),
                                reason="needs Debian's chromium and chromium-driver")

SHOW = """
[clock]
bpm = 120
[[fixture]]
name = "a"
pattern = "circle"
[[cue]]
name = "drop"
quantise = "now"
fixtures = { a = { pattern = "sway" } }
"""


def eventually(read, holds, seconds=30):
    deadline = time.monotonic() + seconds
    while not holds(value := read()):
        assert time.monotonic() < deadline, f"stayed {value!r}"
        time.sleep(0.05)
    return value


def test_remote_buttons_drive_the_show_and_strangers_are_refused(tmp_path, tmp_path_factory):
    show, record = tmp_path / "show.toml", tmp_path / "set.txt"
    show.write_text(SHOW)
    process = subprocess.Popen([sys.executable, "-m", "kinetra_live", "run", str(show),
                                "--remote", "--record-control", str(record)],
                               stderr=subprocess.PIPE, text=True)
    # a short folder: the browser's sockets there must fit a socket path's length
    folder = tmp_path_factory.mktemp("chromium")
    driver = None
    try:
        line = process.stderr.readline()
        assert line.startswith("run: remote control at http://127.0.0.1:"), line
        url = line.split(" at ", 1)[1].strip()
        parts = urlsplit(url)
        token = parts.query.removeprefix("token=")

        def request(method, path, headers=(), body=None):
            connection = http.client.HTTPConnection(parts.hostname, parts.port, timeout=30)
            try:
                connection.request(method, path, body=body, headers=dict(headers))
                answer = connection.getresponse()
                return answer.status, answer.read()
            finally:
                connection.close()

        event = json.dumps({"event": "blackout"})
        sending = {"Content-Type": "application/json", "X-Kinetra-Token": token}
        assert request("POST", "/event", {"Content-Type": "application/json"}, event)[0] == 403
        assert request("GET", "/status")[0] == 403
        assert request("POST", "/event", {**sending, "Origin": "http://evil.example"},
                       event)[0] == 403
        assert request("POST", "/event", {**sending, "Host": f"rebound.example:{parts.port}"},
                       event)[0] == 403
        assert request("POST", "/event", sending, json.dumps({"event": "cue nope"}))[0] == 400

        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for flag in ("--headless=new", "--no-sandbox", "--disable-gpu",
                     "--window-size=400,800", f"--user-data-dir={folder / 'profile'}"):
            options.add_argument(flag)
        driver = webdriver.Chrome(service=Service(DRIVER, env={**os.environ,
                                                               "TMPDIR": str(folder)}),
                                  options=options)
        driver.get(url)
        data = lambda key: driver.execute_script(f"return document.body.dataset.{key} || ''")
        eventually(lambda: data("ready"), lambda v: v == "1")
        for label, cue, last in [("drop", "drop", "cue drop"), ("blackout", "blackout",
                                                               "blackout"),
                                 ("resume", "drop", "resume"), ("x2", "drop", "double"),
                                 ("tap", "drop", "tap")]:
            driver.find_element(By.XPATH, f"//button[text()='{label}']").click()
            eventually(lambda: (data("cue"), data("last")), lambda v: v == (cue, last))
        assert "120.00 BPM" not in driver.find_element(By.ID, "status").text   # doubled
    finally:
        if driver is not None:
            driver.quit()
        shutil.rmtree(folder, ignore_errors=True)
        process.send_signal(signal.SIGTERM)
        _, err = process.communicate(timeout=60)
    assert process.returncode == 0, err
    assert [line.split(" ", 1)[1] for line in record.read_text().splitlines()] == [
        "cue drop", "blackout", "resume", "double", "tap"]
