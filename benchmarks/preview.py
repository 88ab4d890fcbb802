"""Measure the preview in headless Chromium: export size, load time over a blank page, the served
page's time to interactive, and frames per second with 24 animated cards.

    python benchmarks/preview.py [--rounds N]

Needs the installed kinetra_live, Debian's chromium and chromium-driver. Every figure is the
best of the rounds (the machine is shared); the blank page is measured in the same run.
"""

from __future__ import annotations

import argparse
import os
import tempfile
import threading
import time
from pathlib import Path

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

from kinetra_live import gallery, preview

RAW_BLOCK = 1_022_912 * 3 * 8  # every sample of the catalogue as three doubles


def browser(width: int, height: int, folder: str):
    """Headless Chromium whose profile and leftover sockets stay inside `folder`."""
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", f"--window-size={width},{height}",
                 f"--user-data-dir={folder}/profile-{width}"):
        options.add_argument(flag)
    service = Service("/usr/bin/chromedriver", env={**os.environ, "TMPDIR": folder})
    return webdriver.Chrome(service=service, options=options)


def load_seconds(driver, url: str, rounds: int) -> float:
    """Best wall time from navigation to the page's ready mark (the blank page sets it inline)."""
    best = float("inf")
    for _ in range(rounds):
        driver.get("about:blank")
        start = time.perf_counter()
        driver.get(url)
        while not driver.execute_script("return document.body && document.body.dataset.ready"):
            time.sleep(0.005)
        best = min(best, time.perf_counter() - start)
    return best


STATS = "return [kinetraPreview.stats.frames, kinetraPreview.stats.workMs, performance.now()]"
BLANK_LOOP = "window.kinetraPreview = {stats: {frames: 0, workMs: 0, drawn: 0}};" \
    "(function f() { kinetraPreview.stats.frames++; requestAnimationFrame(f); })()"


def frames_per_second(driver, url: str | None, seconds: float) -> tuple[float, float, int]:
    """Frames a second, script milliseconds a frame, cards drawn; url None: an empty frame loop."""
    if url is None:
        driver.get("about:blank")
        driver.execute_script(BLANK_LOOP)
    else:
        driver.get(url)
        while not driver.execute_script("return document.body.dataset.ready"):
            time.sleep(0.01)
        time.sleep(1.0)  # every visible card has loaded its samples and drawn once
    before = driver.execute_script(STATS)
    time.sleep(seconds)
    after = driver.execute_script(STATS)
    frames = after[0] - before[0]
    drawn = driver.execute_script("return kinetraPreview.stats.drawn")
    return frames * 1000 / (after[2] - before[2]), (after[1] - before[1]) / max(1, frames), drawn


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as folder:
        export = Path(folder) / "gallery.html"
        started = time.perf_counter()
        export.write_text(gallery.build_page(), encoding="utf-8")
        written = time.perf_counter() - started
        blank = Path(folder) / "blank.html"
        blank.write_text('<!DOCTYPE html><body data-ready="1"></body>', encoding="utf-8")
        server = preview.make_server(preview.PreviewApp(), 0)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        served = f"http://127.0.0.1:{server.server_address[1]}/"
        size = export.stat().st_size
        print(f"export: {size / 2**20:.2f} MiB ({size:,} bytes; goal 4 MiB), "
              f"{size / RAW_BLOCK:.3f} of the raw sample block, written in {written:.1f} s")
        driver = browser(1600, 1000, folder)
        try:
            blank_s = load_seconds(driver, blank.as_uri(), args.rounds)
            export_s = load_seconds(driver, export.as_uri(), args.rounds)
            served_s = load_seconds(driver, served, args.rounds)
        finally:
            driver.quit()
        print(f"blank page: {blank_s * 1000:.0f} ms; export ready: {export_s * 1000:.0f} ms, "
              f"{(export_s - blank_s) * 1000:+.0f} ms over blank (goal +1500 ms)")
        print(f"served page interactive: {served_s * 1000:.0f} ms (goal 1000 ms)")
        # Five cards a row at this width and six rows or so: at least 24 cards on screen.
        driver = browser(1940, 1500, folder)
        try:
            rounds = range(max(1, args.rounds // 2))
            empty = max(frames_per_second(driver, None, 3.0) for _ in rounds)
            cards = max(frames_per_second(driver, served + "?family=beat studies", 3.0) for _ in rounds)
        finally:
            driver.quit()
            server.shutdown()
            server.server_close()
        print(f"animation: {cards[0]:.1f} frames a second with {cards[2]} visible cards, "
              f"{cards[1]:.1f} ms of script a frame; an empty frame loop: {empty[0]:.1f} "
              f"(ratio {cards[0] / empty[0]:.2f}; goal 60 with 24)")
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
