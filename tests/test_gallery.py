"""The pattern gallery: one figure per pattern, well-formed, and a filter that works in a browser."""

import json
import re
import shutil
import subprocess
import sys
from html.parser import HTMLParser
from pathlib import Path

import pytest

import kinetra

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tools"))
import gallery  # noqa: E402

VOID = {"meta", "input", "br", "rect", "line", "circle", "polyline"}


class Balance(HTMLParser):
    """Checks that every element closes in order; counts figures and their names."""

    def __init__(self):
        super().__init__()
        self.stack, self.figures, self.names, self.errors = [], 0, [], []
        self._in_name = False

    def handle_starttag(self, tag, attrs):
        if tag == "figure":
            self.figures += 1
        self._in_name = tag == "b"
        if tag not in VOID:
            self.stack.append(tag)

    def handle_startendtag(self, tag, attrs):
        if tag == "figure":
            self.errors.append("empty figure")

    def handle_endtag(self, tag):
        if tag in VOID:
            return
        if not self.stack or self.stack.pop() != tag:
            self.errors.append(f"unbalanced </{tag}>")

    def handle_data(self, data):
        if self._in_name:
            self.names.append(data)
            self._in_name = False


def parse(page):
    p = Balance()
    p.feed(page)
    p.close()
    assert not p.errors and not p.stack
    return p


@pytest.fixture(scope="module")
def page():
    return gallery.build_page()


def test_page_shows_every_default_pattern_once(page):
    p = parse(page)
    # Figures are grouped by family, so the page order is not the listing order.
    assert sorted(p.names) == sorted(e["name"] for e in kinetra.catalogue())
    assert p.figures == len(kinetra.catalogue())
    assert "http" not in page.replace("http-equiv", "")  # self-contained


def test_page_for_a_user_library(tmp_path):
    pack = tmp_path / "pack.json"
    pack.write_text(json.dumps([{"name": "my_orbit", "description": "mine <3",
                                 "samples": [[0.5, 0.1 * k, 0.0] for k in range(9)]}]))
    out = tmp_path / "mine.html"
    subprocess.run([sys.executable, str(ROOT / "tools" / "gallery.py"), str(out), "--pack", str(pack)],
                   check=True, capture_output=True)
    p = parse(out.read_text(encoding="utf-8"))
    assert p.names[-1] == "my_orbit" and p.figures == len(kinetra.catalogue()) + 1
    assert "mine &lt;3" in out.read_text(encoding="utf-8")


@pytest.mark.skipif(shutil.which("chromium") is None, reason="Debian's chromium is not installed")
def test_filter_in_a_real_browser(page, tmp_path):
    path = tmp_path / "gallery.html"
    path.write_text(page, encoding="utf-8")
    chrome = ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--window-size=1200,900"]
    dom = subprocess.run(chrome + ["--dump-dom", f"file://{path}?filter=stroke roll"],
                         capture_output=True, text=True, timeout=120, check=True).stdout
    figures = re.findall(r"<figure[^>]*>", dom)
    shown = sum("hidden" not in f for f in figures)
    expected = [e for e in kinetra.catalogue()
                if all(w in f"{e['name']} {e['description']}".lower() for w in ("stroke", "roll"))]
    assert shown == len(expected) > 0
    assert f"{len(expected)} of {len(kinetra.catalogue())} patterns" in dom
    shot = tmp_path / "gallery.png"
    subprocess.run(chrome + [f"--screenshot={shot}", f"file://{path}"], capture_output=True,
                   timeout=120, check=True)
    assert shot.stat().st_size > 10_000
