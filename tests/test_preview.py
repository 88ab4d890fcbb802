"""The preview in a real browser: probes, filters, transport, click schedule and fan, served and exported."""

import json
import math
import os
import shutil
import threading
import time
from fractions import Fraction

import pytest

import kinetra
from kinetra_live import gallery, preview
from kinetra_live.packs import read_pack

webdriver = pytest.importorskip("selenium.webdriver")
from selenium.webdriver.chrome.service import Service  # noqa: E402

CHROMIUM, DRIVER = shutil.which("chromium"), shutil.which("chromedriver")
pytestmark = pytest.mark.skipif(not (CHROMIUM and DRIVER), reason="needs Debian's chromium and chromium-driver")

PACK = {
    "patterns": [{"name": "my_wobble", "description": "A lopsided wobble",
                  "samples": [[math.sin(k / 7) / 2, -k / 100, 0.0] for k in range(100)]}],
    "recordings": [{"name": "my_take", "axes": ["pan", "tilt"], "bpm": 90.0, "start_pip": -64,
                    "samples": [[k / 200 - 0.5, -(k % 7) / 9] for k in range(200)]}],
}
# (name, seconds, bpm): negative times, tempos that are not round, and two where the float
# product floors one pip off the exact one (1.025 s and -0.55 s at 112.5 BPM).
PROBES = [("single_paradiddle", "-0.1", "120"), ("five_stroke_roll", "1.025", "112.5"),
          ("beat_house_classic_orbit", "-0.55", "112.5"), ("helix", "12.345", "133"),
          ("lfo_breathe", "0.1", "120"), ("my_wobble", "-3.3", "97.5"),
          ("my_take", "-0.2", "90"), ("my_take", "0.75", "90")]


@pytest.fixture(scope="module")
def pack_path(tmp_path_factory):
    path = tmp_path_factory.mktemp("pack") / "pack.json"
    path.write_text(json.dumps(PACK), encoding="utf-8")
    return path


@pytest.fixture(scope="module")
def pack(pack_path):
    return read_pack(pack_path)


@pytest.fixture(scope="module")
def served(pack):
    server = preview.make_server(preview.PreviewApp(pack), 0)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    yield f"http://127.0.0.1:{server.server_address[1]}/"
    server.shutdown()
    server.server_close()


@pytest.fixture(scope="module")
def exported(pack, tmp_path_factory):
    path = tmp_path_factory.mktemp("gallery") / "gallery.html"
    path.write_text(gallery.build_page(pack), encoding="utf-8")
    return path.as_uri()


@pytest.fixture(scope="module")
def browser(tmp_path_factory):
    # The browser's profile and the sockets it leaves in TMPDIR go to a folder of the test's.
    folder = tmp_path_factory.mktemp("chromium")
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1600,1000",
                 "--autoplay-policy=no-user-gesture-required", f"--user-data-dir={folder / 'profile'}"):
        options.add_argument(flag)
    service = Service(DRIVER, env={**os.environ, "TMPDIR": str(folder)})
    driver = webdriver.Chrome(service=service, options=options)
    yield driver
    driver.quit()
    shutil.rmtree(folder, ignore_errors=True)


def open_page(browser, url, query=""):
    browser.get(url + query)
    deadline = time.monotonic() + 20
    while not (state := browser.execute_script("return document.body.dataset.ready")):
        assert time.monotonic() < deadline, "page never became ready"
        time.sleep(0.02)
    assert state == "1", browser.execute_script("return document.getElementById('probe').textContent")


def eventually(browser, expression, holds, seconds=20):
    """The value of a script expression once it satisfies `holds`; the page draws at its own pace."""
    deadline = time.monotonic() + seconds
    while not holds(value := browser.execute_script(f"return {expression}")):
        assert time.monotonic() < deadline, f"{expression} stayed {value!r}"
        time.sleep(0.05)
    return value


def expected(pack, name, seconds, bpm):
    pip = math.floor(Fraction(seconds) * Fraction(bpm) / 60 * 64)
    recording = pack.recording(name)
    if recording is None:
        return pip, pack.library.sample(name, pip).as_tuple()
    if not 0 <= pip - recording.start_pip < recording.sample_count:
        return pip, None
    return pip, tuple(recording.sample(pip))


def probe(browser, url, name, seconds, bpm):
    open_page(browser, url, f"?probe={name}&seconds={seconds}&bpm={bpm}")
    element = browser.find_element("id", "probe")
    return int(element.get_attribute("data-pip")), element.get_attribute("textContent")


@pytest.mark.parametrize("name, seconds, bpm", PROBES)
def test_served_probe_is_exact(browser, served, pack, name, seconds, bpm):
    pip, values = expected(pack, name, seconds, bpm)
    text = " ".join(map(repr, values)) if values else "Pip outside non-looping recording"
    assert probe(browser, served, name, seconds, bpm) == (pip, text)


@pytest.mark.parametrize("name, seconds, bpm", PROBES)
def test_exported_probe_is_within_a_thousandth(browser, exported, pack, name, seconds, bpm):
    pip, values = expected(pack, name, seconds, bpm)
    got_pip, text = probe(browser, exported, name, seconds, bpm)
    assert got_pip == pip
    if values is None:
        assert text == "Pip outside non-looping recording"
    else:
        got = [float(v) for v in text.split()]
        assert len(got) == len(values) and max(abs(a - b) for a, b in zip(got, values)) <= 1e-3


def test_probe_text_is_python_repr(browser, served):
    open_page(browser, served, "?filter=nothing_matches_this")
    values = [0.0, -0.0, 1.0, -1.0, 0.1, 1e-4, 1e-5, -2.5e-7, 5e-324, 0.30000000000000004,
              1e16, 1e15, 123456789.125, 0.9238795325112867, -0.3826834323650898, 2.0 ** -30]
    texts = browser.execute_script("return arguments[0].map(kinetraPreview.reprFloat)", values)
    # JSON cannot carry -0.0, so the page gets it from a division.
    assert browser.execute_script("return kinetraPreview.reprFloat(-1 / Infinity)") == "-0.0"
    assert texts[:1] + texts[2:] == [repr(v) for v in values[:1] + values[2:]]


def visible_names(browser):
    return set(browser.execute_script(
        "return kinetraPreview.cards.filter(c => !c.element.hidden).map(c => c.entry.name)"))


def test_search_and_filters(browser, served):
    catalogue = kinetra.catalogue()
    open_page(browser, served, "?filter=stroke roll")
    words = ("stroke", "roll")
    names = {e["name"] for e in catalogue if all(w in f"{e['name']} {e['description']}".lower() for w in words)}
    assert visible_names(browser) == names and len(names) > 2
    total = len(catalogue) + 2
    assert browser.find_element("id", "count").text == f"{len(names)} of {total} patterns"
    open_page(browser, served, "?family=beat studies&dims=2")
    beats = {e["name"] for e in catalogue if e["name"].startswith("beat_") and e["dimensions"] == 2}
    assert visible_names(browser) == beats and beats
    style = next(e for e in catalogue if e["name"] == "beat_house_shuffle_orbit")["description"].split(" — ")[0]
    open_page(browser, served, f"?style={style}")
    assert visible_names(browser) == {e["name"] for e in catalogue if e["name"].startswith("beat_house_shuffle_")}
    open_page(browser, served, "?family=your recordings")
    assert visible_names(browser) == {"my_take"}
    sections = browser.execute_script(
        "return [...document.querySelectorAll('section h2')].map(h => h.textContent)")
    assert sum(title.startswith("rudiments") for title in sections) == 1


def test_cards_state_loop_length_in_words(browser, served):
    open_page(browser, served, "?filter=bounce")
    meta = {c["name"]: c["meta"] for c in browser.execute_script(
        "return kinetraPreview.cards.map(c => ({name: c.entry.name, meta: c.element.querySelector('.meta').textContent}))")}
    assert meta["bounce"] == "loop: 1 beat, 0.25 bars · 1 axis"
    assert meta["box_step"] == "loop: 4 beats, 1 bar · 2 axes"
    assert meta["my_wobble"] == "loop: 1.563 beats, 0.391 bars (100 pips) · 2 axes"
    assert meta["my_take"] == "recording from pip -64: 3.125 beats, 0.781 bars (200 pips) · pan, tilt"


def test_only_visible_cards_draw_and_play_pause_holds_time(browser, served):
    open_page(browser, served)
    stats = eventually(browser, "kinetraPreview.stats", lambda s: s["frames"] > 5)
    assert 0 < stats["drawn"] < 60
    browser.find_element("id", "play").click()
    # The pause takes hold at the next frame drawn; from then on the time stands still.
    start = browser.execute_script("return kinetraPreview.stats.frames")
    eventually(browser, "kinetraPreview.stats.frames", lambda n: n > start + 2)
    held = browser.execute_script("return kinetraPreview.stats.pip")
    time.sleep(0.3)
    assert browser.execute_script("return kinetraPreview.stats.pip") == held
    seek = browser.find_element("id", "seek")
    seek.clear()
    seek.send_keys("-6\n")
    eventually(browser, "kinetraPreview.stats.pip", lambda pip: pip == -6 * 64)
    browser.find_element("id", "play").click()
    eventually(browser, "kinetraPreview.stats.pip", lambda pip: pip > -6 * 64)


def test_click_is_scheduled_on_beats_and_accented_on_bars(browser, served):
    open_page(browser, served, "?bpm=150&filter=circle")
    browser.find_element("id", "click").click()
    log = eventually(browser, "kinetraPreview.metronome.log", lambda log: len(log) >= 3)
    # A tick that comes too late for a beat skips it rather than click late, so a loaded
    # machine may leave gaps; every click that is planned must still land on its beat.
    beats = [c["beat"] for c in log]
    assert beats == sorted(set(beats))
    assert [c["accent"] for c in log] == [b % 4 == 0 for b in beats]
    clock = browser.execute_script(
        "const c = kinetraPreview.clock, m = kinetraPreview.metronome;"
        "return [c.anchorBeat, c.anchorMs / 1000 + m.offset]")
    for c in log:
        assert c["at"] == pytest.approx(clock[1] + (c["beat"] - clock[0]) * 60 / 150, abs=1e-6)


def test_fan_copies_are_phase_offsets_of_one_pattern(browser, served, pack):
    open_page(browser, served, "?filter=figure_eight")
    for field, value in (("fan-n", "4"), ("fan-spread", "-24")):
        element = browser.find_element("id", field)
        element.clear()
        element.send_keys(value + "\n")
    time.sleep(0.3)
    copies = browser.execute_script("return kinetraPreview.positions('figure_eight')")
    first = copies[0][0]
    assert [pip for pip, _ in copies] == [first - 24 * i for i in range(4)]
    assert [tuple(row) for _, row in copies] == [kinetra.figure_eight(pip).as_tuple() for pip, _ in copies]
