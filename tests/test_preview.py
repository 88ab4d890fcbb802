"""The preview: its server as any HTTP client sees it, and the page in a real browser (probes,
filters, transport, click schedule and fan, served and exported)."""

import http.client
import json
import math
import os
import re
import shutil
import socket
import struct
import subprocess
import sys
import threading
import time
from fractions import Fraction

import pytest

import kinetra
from kinetra_live import gallery, preview
from kinetra_live.packs import read_pack

CHROMIUM, DRIVER = shutil.which("chromium"), shutil.which("chromedriver")

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
def server(pack):
    server = preview.make_server(preview.PreviewApp(pack), 0, idle_seconds=0.5)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    yield server
    server.shutdown()
    server.server_close()


@pytest.fixture(scope="module")
def served(server):
    return f"http://127.0.0.1:{server.server_address[1]}/"


@pytest.fixture(scope="module")
def exported(pack, tmp_path_factory):
    path = tmp_path_factory.mktemp("gallery") / "gallery.html"
    path.write_text(gallery.build_page(pack), encoding="utf-8")
    return path.as_uri()


@pytest.fixture(scope="module")
def browser(tmp_path_factory):
    if not (CHROMIUM and DRIVER):
        pytest.skip("needs Debian's chromium and chromium-driver")
    webdriver = pytest.importorskip("selenium.webdriver")
    from selenium.webdriver.chrome.service import Service
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
    held, start = browser.execute_script("return [kinetraPreview.stats.pip, kinetraPreview.stats.frames]")
    # Time stands still over the next frames drawn, however long they take to come.
    eventually(browser, "kinetraPreview.stats.frames", lambda n: n > start + 10)
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
    anchor = browser.execute_script("const c = kinetraPreview.clock; return [c.anchorBeat, c.anchorMs / 1000]")
    for c in log:
        assert c["at"] == pytest.approx(anchor[1] + c["offset"] + (c["beat"] - anchor[0]) * 60 / 150, abs=1e-6)
    # The audio clock drifts from the page's: the clicks follow it.
    before = log[-1]["offset"]
    browser.execute_script(
        "const a = kinetraPreview.metronome.audio, p = Object.getPrototypeOf(a);"
        "const time = Object.getOwnPropertyDescriptor(BaseAudioContext.prototype, 'currentTime').get;"
        "Object.defineProperty(a, 'currentTime', {get() { return time.call(a) + 0.5; }});"
        "a.getOutputTimestamp = () => { const s = p.getOutputTimestamp.call(a);"
        " return {contextTime: s.contextTime + 0.5, performanceTime: s.performanceTime}; };")
    drifted = eventually(browser, "kinetraPreview.metronome.log.at(-1)", lambda c: c["offset"] > before + 0.45)
    assert drifted["at"] == pytest.approx(anchor[1] + drifted["offset"] + (drifted["beat"] - anchor[0]) * 60 / 150, abs=1e-6)


# A beat planned 50 ms before the audio context reaches it (it runs ahead of the speaker by the
# output latency), then a change of tempo, or a pause, before that beat comes.
CHANGE_BEFORE_A_BEAT = """
const c = kinetraPreview.clock, m = kinetraPreview.metronome;
const latency = m.audio.currentTime - (performance.now() / 1000 + m.offset);
c.seek(arguments[0] - (Math.max(0, latency) + 0.05) * c.bpm / 60); m.tick();
if (arguments[1]) c.setBpm(151); else c.setPlaying(false);
m.tick();
return [m.log.filter(e => e.beat === arguments[0]), m.audio.currentTime];
"""


def test_a_change_calls_off_the_clicks_planned_on_the_old_clock(browser, served):
    open_page(browser, served, "?bpm=150&filter=circle")
    browser.find_element("id", "click").click()
    eventually(browser, "kinetraPreview.metronome.log.length", lambda n: n > 0)
    planned, _ = browser.execute_script(CHANGE_BEFORE_A_BEAT, 1000, True)
    assert [e["cancelled"] for e in planned] == [True, False] and planned[1]["bpm"] == 151
    planned, now = browser.execute_script(CHANGE_BEFORE_A_BEAT, 2000, False)
    assert [e.get("cancelled") for e in planned] == [True] and planned[0]["at"] > now


def test_fan_copies_are_phase_offsets_of_one_pattern(browser, served, pack):
    open_page(browser, served, "?filter=figure_eight")
    for field, value in (("fan-n", "4"), ("fan-spread", "-24")):
        element = browser.find_element("id", field)
        element.clear()
        element.send_keys(value + "\n")
    eventually(browser, "[kinetraPreview.fan.n, kinetraPreview.fan.spread]", lambda v: v == [4, -24])
    copies = browser.execute_script("return kinetraPreview.positions('figure_eight')")
    first = copies[0][0]
    assert [pip for pip, _ in copies] == [first - 24 * i for i in range(4)]
    assert [tuple(row) for _, row in copies] == [kinetra.figure_eight(pip).as_tuple() for pip, _ in copies]


def get(server, target="/api/entries", host=None, method="GET"):
    port = server.server_address[1]
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=20)
    connection.putrequest(method, target, skip_host=True)
    if host is not None:
        connection.putheader("Host", host.format(port=port))
    connection.endheaders()
    response = connection.getresponse()
    body = response.read()
    connection.close()
    return response.status, response.getheader("X-Content-Type-Options"), body


def test_server_answers_only_its_loopback_names(server):
    for host in ("127.0.0.1:{port}", "localhost:{port}", "[::1]:{port}", "LocalHost:{port}"):
        assert get(server, host=host)[:2] == (200, "nosniff"), host
    for host in (None, "", "evil.example:{port}", "127.0.0.1", "localhost:1{port}", "127.0.0.1.nip.example:{port}"):
        assert get(server, host=host)[:2] == (421, "nosniff"), host
    # Answers of the standard library's own, too.
    assert get(server, "/no/such", "127.0.0.1:{port}")[:2] == (404, "nosniff")
    assert get(server, "/", "127.0.0.1:{port}", method="POST")[:2] == (501, "nosniff")


def wait_for_threads(count):
    deadline = time.monotonic() + 20
    while threading.active_count() > count:
        assert time.monotonic() < deadline, "a connection's thread never ended"
        time.sleep(0.02)


def test_odd_clients_get_answers_or_are_let_go_quietly(server, capfd):
    port, threads = server.server_address[1], threading.active_count()
    with socket.create_connection(("127.0.0.1", port), timeout=20) as client:
        client.sendall(f"GET http://[::1/ HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n".encode())
        assert client.makefile("rb").readline().startswith(b"HTTP/1.0 400 ")
    # A client that resets its connection while the answer is on its way.
    with socket.create_connection(("127.0.0.1", port), timeout=20) as client:
        client.sendall(f"GET /api/entries HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n".encode())
        client.recv(1)
        client.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    # One that connects and says nothing is closed once idle, instead of holding a thread.
    with socket.create_connection(("127.0.0.1", port), timeout=20) as client:
        assert client.recv(1) == b""
    wait_for_threads(threads)
    assert capfd.readouterr().err == ""


def test_a_fault_of_the_server_still_answers_and_says_one_line(capfd):
    class Faulty(preview.PreviewApp):
        def answer(self, target):
            raise RuntimeError("sampler broke\nsecond line")

    server = preview.make_server(Faulty(), 0)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        assert get(server, "/", "127.0.0.1:{port}")[0] == 500
    finally:
        server.shutdown()
        server.server_close()
    err = capfd.readouterr().err
    assert err.count("\n") == 1 and "sampler broke" in err and "Traceback" not in err


def run_verb(*args):
    result = subprocess.run([sys.executable, "-m", "kinetra_live", *args], capture_output=True,
                            text=True, timeout=120)
    return result.returncode, result.stderr


def test_command_line_errors_are_one_line(tmp_path):
    with socket.socket() as taken:
        taken.bind(("127.0.0.1", 0))
        taken.listen()
        busy = str(taken.getsockname()[1])
        for args, words in ((("preview", "--port", "70000"), "--port"), (("preview", "--port", "٩٠٠٠"), "--port"),
                            (("preview", "--port", busy), "--port: cannot listen"),
                            (("gallery", str(tmp_path / "no" / "such" / "g.html")), "g.html")):
            code, err = run_verb(*args, *(("--no-browser",) if args[0] == "preview" else ()))
            assert code == 2 and err.count("\n") == 1 and words in err, (args, err)
    assert list(tmp_path.iterdir()) == []


def module_refusal(call, *args):
    try:
        call(*args)
    except (TypeError, ValueError, IndexError) as exc:
        return type(exc).__name__, re.sub(r" at 0x[0-9a-f]+>", ">", str(exc))
    raise AssertionError("the module took it")


def refusal(browser, url, query):
    open_page(browser, url, query)
    element = browser.find_element("id", "probe")
    return element.get_attribute("data-error"), element.get_attribute("textContent")


def probe_again(browser, query):
    """A probe on the page already open, as a fresh load with that query would make it."""
    return tuple(browser.execute_script(
        "await kinetraPreview.probe(arguments[0]); const p = document.getElementById('probe');"
        "return [p.dataset.error || null, p.textContent]", query))


def test_probe_values_the_module_refuses_get_its_message(browser, served, exported, pack):
    take = pack.recording("my_take")
    tempo = ("ValueError", "A finite positive BPM and beat origin are required")
    cases = [("circle", "10000000", "300", module_refusal(pack.library.sample, "circle", 3_200_000_000)),
             ("my_wobble", "-10000000", "300", module_refusal(pack.library.sample, "my_wobble", -3_200_000_000)),
             ("my_take", "1e7", "300", module_refusal(take.sample, 3_200_000_000)),
             ("no_such", "1e7", "300", module_refusal(pack.library.sample, "no_such", 3_200_000_000)),
             ("no_such", "0", "120", module_refusal(pack.library.sample, "no_such", 0)),
             ("my_take", "10", "90", module_refusal(take.sample, 960))]
    cases += [("circle", "1", bpm, tempo) for bpm in ("fast", "0", "-120", "nan", "inf", "1e999", "")]
    for url in (served, exported):
        name, seconds, bpm, want = cases[0]
        assert refusal(browser, url, f"?probe={name}&seconds={seconds}&bpm={bpm}") == want
        for name, seconds, bpm, want in cases[1:]:
            assert probe_again(browser, f"probe={name}&seconds={seconds}&bpm={bpm}") == want, (name, seconds, bpm)
        # Times that no pip fits, or no number: never a value, and never a wait on 10 ** N.
        error, text = probe_again(browser, "probe=circle&seconds=1e400&bpm=120")
        assert error == "TypeError" and text.startswith(module_refusal(pack.library.sample, "circle", 2**31)[1].removesuffix("2147483648"))
        for seconds in ("1e999999999", "abc", "inf"):
            assert probe_again(browser, f"probe=circle&seconds={seconds}&bpm=120")[0] == "ValueError"


def test_the_clock_never_runs_on_a_tempo_or_time_it_cannot_mean(browser, served):
    for query in ("?bpm=fast", "?bpm=0", "?bpm=-60", "?bpm=1e999"):
        assert refusal(browser, served, query)[0] == "ValueError"
        assert browser.execute_script("return kinetraPreview.clock.bpm") == 120
        start = eventually(browser, "kinetraPreview.stats.pip", lambda pip: isinstance(pip, int))
        eventually(browser, "kinetraPreview.stats.pip", lambda pip: isinstance(pip, int) and pip > start)
    open_page(browser, served, "?filter=figure_eight")
    for field, value in (("bpm", "1e400"), ("seek", "1e400"), ("fan-spread", "1e400"), ("fan-n", "4")):
        element = browser.find_element("id", field)
        element.clear()
        element.send_keys(value + "\n")
    eventually(browser, "kinetraPreview.fan.n", lambda n: n == 4)
    copies = eventually(browser, "kinetraPreview.positions('figure_eight')", bool)
    assert browser.execute_script("return kinetraPreview.clock.bpm") == 120
    assert all(abs(pip) < 2**31 and row is not None for pip, row in copies)


TIME_VIEW = """
const card = kinetraPreview.cards.find(c => c.entry.name === arguments[0]);
const c = card.timeImage, d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
const ground = getComputedStyle(c.parentElement).backgroundColor.match(/\\d+/g).map(Number);
return [c.width, c.height, window.devicePixelRatio, Array.from(d), ground];
"""


def time_view(browser, name):
    """A card's time view as rows of (r, g, b), once its card has drawn."""
    eventually(browser, f"kinetraPreview.cards.find(c => c.entry.name === '{name}').timeImage", bool)
    width, height, dpr, data, ground = browser.execute_script(TIME_VIEW, name)
    # The canvas is transparent over its view's ground: composite, as the screen does.
    pixels = [tuple(round(data[i + k] * data[i + 3] / 255 + ground[k] * (1 - data[i + 3] / 255)) for k in range(3))
              for i in range(0, len(data), 4)]
    return [pixels[row * width:(row + 1) * width] for row in range(height)], dpr


def luminance(rgb):
    c = [v / 255 for v in rgb]
    c = [v / 12.92 if v <= 0.04045 else ((v + 0.055) / 1.055) ** 2.4 for v in c]
    return 0.2126 * c[0] + 0.7152 * c[1] + 0.0722 * c[2]


def contrast(a, b):
    a, b = sorted((luminance(a), luminance(b)))
    return (b + 0.05) / (a + 0.05)


def test_time_lanes_draw_y_down_with_readable_numbered_beats(browser, served):
    open_page(browser, served, "?filter=my_wobble")
    # my_wobble lifts from y = 0 to y = -0.99 over its loop: drawn upward, as the path view
    # and the module's convention (y points down) have it.
    rows, _ = time_view(browser, "my_wobble")
    green = [(x, y) for y, row in enumerate(rows) for x, rgb in enumerate(row)
             if rgb[1] - rgb[0] > 40 and rgb[1] - rgb[2] > 30]  # the y trace's green
    def height_at(share):  # clear of the lane's name at the left
        column = round(len(rows[0]) * share)
        return sum(y for x, y in green if x == column) / sum(x == column for x, _ in green)
    assert height_at(0.95) < height_at(0.3) - 8
    # box_step: four beats, a bar line at each end. Every line stands out from the ground by
    # 3:1 or more, and has its number above it.
    open_page(browser, served, "?filter=box_step")
    rows, dpr = time_view(browser, "box_step")
    columns = [sorted(row[x] for row in rows)[len(rows) // 2] for x in range(len(rows[0]))]
    ground = max(set(columns), key=columns.count)
    lines, run = [], []
    for x, rgb in enumerate(columns + [ground]):
        if contrast(rgb, ground) > 1.1:
            run.append(x)
        elif run:
            lines.append(run)
            run = []
    assert len(lines) == 5
    for run in lines:
        assert max(contrast(columns[x], ground) for x in run) >= 3
        label = [rgb for row in rows[:round(9 * dpr)] for rgb in row[max(0, run[0] - 4 * round(dpr)):run[-1] + 4 * round(dpr)]]
        assert max(contrast(rgb, ground) for rgb in label) >= 3


@pytest.fixture(scope="module")
def served_show():
    from kinetra_live.show import load_show, make_clock
    show = load_show(os.path.join(os.path.dirname(__file__), "..", "examples", "shows", "club.toml"))
    clock = make_clock(show)
    server = preview.make_server(preview.PreviewApp(show.pack, show, clock), 0)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    yield f"http://127.0.0.1:{server.server_address[1]}/"
    server.shutdown()
    server.server_close()
    clock.close()


# How far down the window what stays at the top reaches, once the page has scrolled well on.
STUCK_AT_TOP = """
window.scrollTo(0, 3000);
const boxes = [...document.querySelectorAll('header, header *')].map(e => e.getBoundingClientRect());
return [Math.max(0, ...boxes.filter(r => r.height > 0 && r.bottom > 0).map(r => r.bottom)), innerHeight];
"""
OVERLAPS = """
const a = kinetraPreview.showLabels, out = [];
for (const p of a) for (const q of a)
  if (p !== q && p.left < q.right && q.left < p.right && p.top < q.bottom && q.top < p.bottom) out.push([p.text, q.text]);
return [out, a.length, Math.max(...a.map(p => p.right)), document.getElementById('stage').clientWidth];
"""


@pytest.mark.parametrize("size", [(1600, 1000), (390, 844)], ids=["desktop", "phone"])
def test_the_layout_fits_the_screen(browser, served, served_show, size):
    browser.set_window_size(*size)
    try:
        open_page(browser, served, "?family=beat studies")
        eventually(browser, "kinetraPreview.stats.drawn", lambda n: n > 0)
        stuck, height = browser.execute_script(STUCK_AT_TOP)
        assert stuck <= 0.15 * height
        # Long names, descriptions and loop texts are cut with an ellipsis, not mid-letter.
        styles = browser.execute_script(
            "const card = kinetraPreview.cards[0].element, s = q => getComputedStyle(card.querySelector(q));"
            "return [s('b').textOverflow, s('.meta').textOverflow, s('.desc').webkitLineClamp]")
        assert styles == ["ellipsis", "ellipsis", "2"]
        open_page(browser, served_show)
        overlaps, labels, right, width = eventually(browser, f"(() => {{{OVERLAPS}}})()", lambda v: v[1] > 0)
        assert overlaps == [] and right <= width
    finally:
        browser.set_window_size(1600, 1000)
