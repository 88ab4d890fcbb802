"""Live control: events at exact pips, cues on their quantise points, a set replayed exactly."""

import argparse
import csv
import io
import signal
import socket
import struct
import subprocess
import sys
import threading
import time
from fractions import Fraction

import mido
import pytest
from hypothesis import example, given, settings, strategies as st
from pythonosc.dispatcher import Dispatcher
from pythonosc.osc_server import ThreadingOSCUDPServer
from pythonosc.udp_client import SimpleUDPClient

from kinetra_live import control, render
from kinetra_live.live_control import midi_event
from kinetra_live.quantise import loop_point, parse_quantise
from kinetra_live.rig import FixtureRig
from kinetra_live.sampler import Sampler
from kinetra_live.show import ShowError, parse_show
from kinetra_live.timebase import PIPS_PER_BEAT, TempoMap

BASE = {"clock": {"bpm": 120},
        "fixture": [{"name": "a", "pattern": "circle"}, {"name": "b", "pattern": "circle"},
                    {"name": "c", "pattern": "figure_eight", "speed": "3/2"}],
        "group": [{"name": "g", "fixtures": ["a", "b"], "spread_pips": 8}]}


def show_with(**extra):
    return parse_show({**BASE, **extra})


CUES = [{"name": q.replace("/", "_"), "quantise": int(q) if q.isdigit() else q,
         "fixtures": {"g": {"pattern": "sway", "speed": "2"}, "c": {"phase_pips": 5}}}
        for q in ("now", "beat", "bar", "loop", "3")]


def free_udp_port() -> int:
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


LIVE_SHOW = """
fps = 50
[clock]
bpm = 240
[control]
osc = "127.0.0.1:{control}"
quantise = "beat"
[[fixture]]
name = "a"
pattern = "circle"
[[fixture]]
name = "slow"
pattern = "circle"
speed = "1/16"
[[cue]]
name = "drop"
quantise = "now"
fixtures = {{ a = {{ pattern = "sway", speed = "3/2" }} }}
[[output]]
kind = "osc"
address = "127.0.0.1:{output}"
"""


def test_osc_drives_run_and_render_of_its_record_gives_the_same_frames(tmp_path):
    received, lock = [], threading.Lock()
    dispatcher = Dispatcher()

    def keep(address, *args):
        with lock:
            received.append((address, struct.pack(">3f", *args)))
    dispatcher.set_default_handler(keep)
    server = ThreadingOSCUDPServer(("127.0.0.1", 0), dispatcher)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    port = free_udp_port()
    show = tmp_path / "show.toml"
    show.write_text(LIVE_SHOW.format(control=port, output=server.server_address[1]))
    record = tmp_path / "set.txt"
    client = SimpleUDPClient("127.0.0.1", port)

    def wait_for(count):
        deadline = time.monotonic() + 60
        while len(received) < count and time.monotonic() < deadline:
            time.sleep(0.01)

    sent = [("/kinetra/cue", ["drop"], "cue drop"), ("/kinetra/double", [], "double"),
            ("/kinetra/downbeat", [], "downbeat"), ("/kinetra/speed", ["a", "1/2"], "speed a 1/2"),
            ("/kinetra/nudge", [-30.0], "nudge -30"), ("/kinetra/blackout", [1.0], "blackout"),
            ("/kinetra/resume", [], "resume")]
    statuses = []

    def status_after(event):
        # the status goes out after every event and four times a second: wait for this one's
        deadline = time.monotonic() + 60
        for message in client.get_messages(60):
            if message.params[5] == event or time.monotonic() > deadline:
                return message.params

    try:
        process = subprocess.Popen([sys.executable, "-m", "kinetra_live", "run", str(show),
                                    "--record-control", str(record)],
                                   stderr=subprocess.PIPE, text=True)
        wait_for(20)
        for address, args, event in sent:
            client.send_message(address, args)
            statuses.append(status_after(event))
            wait_for(len(received) + 8)
        for _ in range(2):
            client.send_message("/kinetra/nope", [])
            client.send_message("/kinetra/cue", ["missing"])
        wait_for(len(received) + 20)
        process.send_signal(signal.SIGTERM)
        _, err = process.communicate(timeout=60)
    finally:
        server.shutdown()
        server.server_close()
        client.close()
    assert process.returncode == 0, err
    assert err.count("/kinetra/nope: unknown address") == 1
    assert err.count("no cue is named 'missing'") == 1
    assert [s[3] for s in statuses] == ["drop"] * 5 + ["blackout", "drop"]
    assert statuses[1][0] == 480.0 and statuses[0][4] == "free"
    lines = record.read_text().splitlines()
    assert [line.split(" ", 1)[1] for line in lines] == [
        "cue drop", "double", "downbeat", "speed a 1/2", "nudge -30", "blackout", "resume"]

    seconds = Fraction(lines[-1].split()[0]) + 3
    rendered = subprocess.run([sys.executable, "-m", "kinetra_live", "render", str(show),
                               "--seconds", str(float(seconds)), "--control", str(record)],
                              capture_output=True, text=True, check=True).stdout
    table = list(csv.DictReader(io.StringIO(rendered)))
    f32 = lambda row: struct.pack(">3f", *(float(row[f"osc.{axis}"]) for axis in "xyz"))
    frames = [(f32(a), f32(b)) for a, b in zip(table[::2], table[1::2])]
    assert {row["pattern"] for row in table if row["fixture"] == "a"} == {"circle", "sway"}
    sent_frames = [(a[1], b[1]) for a, b in zip(received[:-2:2], received[1:-2:2])]
    assert all(a[0] == "/kinetra/a" for a in received[:-2:2])
    # every frame run sent is the render's frame of its time: frames skipped on a busy
    # machine are missing, never different
    at = -1
    for frame in sent_frames:
        at = frames.index(frame, at + 1)
    assert len(sent_frames) > 30


@settings(max_examples=60, deadline=None)
@given(st.lists(st.tuples(st.integers(1, 400),
                          st.sampled_from(["tap", "nudge 25", "nudge -40", "downbeat", "double",
                                           "half", "bpm 97", "seek", "speed g 1/2"]
                                          + [f"cue {c['name']}" for c in CUES])),
                min_size=1, max_size=30))
# a nudge queued behind another, then a downbeat during the first: both must come out
@example([(1, "nudge 25"), (1, "nudge 25"), (1, "downbeat")])
def test_random_sets_keep_pips_forward_bars_on_downbeats_and_cues_on_their_points(steps):
    show = show_with(cue=CUES, beats_per_bar=3, control={"quantise": "bar"})
    tempo_map = TempoMap(120)
    controller = control.Controller(show, Sampler(show), control.MapTimeline(tempo_map))
    seconds, last_pip = Fraction(0), None
    for gap_ms, text in steps:
        # frames at every 10 ms between events: pips only go forward
        for _ in range(gap_ms // 10):
            seconds += Fraction(1, 100)
            pip = tempo_map.pip_at(seconds)
            assert last_pip is None or pip >= last_pip
            last_pip = pip
            controller.settle(pip)
        seconds += Fraction(gap_ms % 10, 1000)
        if text == "seek":
            tempo_map.seek(seconds, 0)
            last_pip = None
            continue
        event = control.parse_event(text)
        arrival = tempo_map.pip_at(seconds)
        try:
            at = controller.apply(seconds, event)
        except control.NotApplied:
            continue        # a tempo outside 1 to 1000 BPM
        if event.kind == "downbeat":
            beat = 60 / tempo_map.tempo_at(seconds)
            assert tempo_map.beat_at(seconds + beat) % 3 == 1
            assert tempo_map.bpm_at(seconds + beat) == tempo_map.tempo_at(seconds + beat)
        if event.kind == "cue":
            quantise = show.cue(event.args[0]).quantise
            rig = controller._rigs["a"]
            every = {"now": 1, "beat": 64, "bar": 192, "beats": 192}.get(quantise.kind)
            if every is not None:
                assert at % every == 0 and arrival <= at < arrival + every
            # the cue's speed took effect exactly there, and the group plays its pattern
            controller.settle(at)
            assert rig._since == at and rig.pattern == "sway"


def test_loop_points_are_the_first_pips_where_a_fixture_starts_a_loop():
    show = show_with()
    for speed in ("1", "3/2", "1/3", "7"):
        rig = FixtureRig(show, show.fixtures[2])
        rig.set_speed(17, Fraction(speed))
        for pip in range(17, 400, 7):
            at = loop_point(pip, rig, 256)
            brute = next(q for q in range(pip, 10**6) if q == pip and rig.fixture_pip(q) % 256 == 0
                         or q > pip and rig.fixture_pip(q) // 256 > rig.fixture_pip(q - 1) // 256)
            assert at == brute


def test_cues_change_only_what_they_name():
    show = show_with(cue=[{"name": "wide", "quantise": "now",
                           "fixtures": {"g": {"spread": "wings", "spread_pips": 20,
                                              "fade_beats": 2, "pattern": "sway"}}}],
                     start_cue="wide")
    sampler = Sampler(show)
    controller = control.Controller(show, sampler, control.MapTimeline(TempoMap(120)))
    states = {s.name: s for s in controller.frame(128).fixtures}
    assert controller.cue == "wide"
    assert [states[n].fixture_pip for n in "abc"] == [128 + 0, 128 + 0, 192]  # wings of two
    assert states["a"].fade.to == "sway" and states["a"].fade.weight == 1.0
    assert states["a"].pattern == "sway" and states["c"].pattern == "figure_eight"


@pytest.mark.parametrize("extra, message", [
    ({"cue": [{"name": "x", "fixtures": {"nobody": {"speed": 2}}}]},
     "cue[0].fixtures.nobody: no fixture or group is named 'nobody'"),
    ({"cue": [{"name": "x", "fixtures": {"a": {"spread": "fan"}}}]},
     "cue[0].fixtures.a.spread: applies to a group only"),
    ({"cue": [{"name": "x", "fixtures": {"g": {"speed": 2}, "a": {"speed": 1}}}]},
     "cue[0].fixtures.a: fixture 'a' is also changed by 'g' in this cue"),
    ({"cue": [{"name": "x", "fixtures": {"a": {"fade_beats": 2}}}]},
     "cue[0].fixtures.a.fade_beats: needs a pattern to fade to"),
    ({"cue": [{"name": "x", "quantise": "1/128", "fixtures": {"a": {"speed": 2}}}]},
     "cue[0].quantise: expected a number of beats above 0"),
    ({"cue": [{"name": "x", "fixtures": {"a": {"pattern": "nope"}}}]},
     "cue[0].fixtures.a.pattern: unknown pattern 'nope'"),
    ({"start_cue": "x"}, "start_cue: no cue is named 'x'"),
    ({"control": {"midi": [{"note": 36, "event": "tap"}]}}, "control.midi_port: missing"),
    ({"control": {"midi_port": "p", "midi": [{"note": 36, "event": "cue x"}]}},
     "control.midi[0].event: cue: no cue is named 'x'"),
    ({"control": {"midi_port": "p", "midi": [{"cc": 1, "event": "tap"}]}},
     "control.midi[0].event: a controller drives one of 'nudge', 'bpm'"),
    ({"control": {"osc": "localhost"}}, "control.osc: expected HOST:PORT"),
])
def test_cue_and_control_faults_name_their_key(extra, message):
    with pytest.raises(ShowError) as caught:
        show_with(**extra)
    assert str(caught.value).startswith(message)


@pytest.mark.parametrize("line, reason", [
    ("1.5 jump", "unknown event 'jump'"),
    ("x tap", "expected a time in seconds, got 'x'"),
    ("2 speed a", "speed: expected speed TARGET RATIO"),
    ("2 speed a 0", "speed: expected a number above 0"),
    ("2 crossfade zz sway 2", "crossfade: no fixture or group is named 'zz'"),
    ("0.5 tap", "time '0.5' is before the line above"),
])
def test_a_malformed_control_line_is_refused_with_its_file_and_line(tmp_path, capsys, line,
                                                                     reason):
    path = tmp_path / "show.toml"
    path.write_text('[clock]\nbpm = 120\n[[fixture]]\nname = "a"\npattern = "circle"\n')
    events = tmp_path / "set.txt"
    events.write_text(f"# a set\n1 bpm 3/2\n\n{line}\n")
    parser = argparse.ArgumentParser()
    render.add_arguments(parser)
    status = render.main(parser.parse_args([str(path), "--seconds", "1", "--control",
                                            str(events)]))
    out, err = capsys.readouterr()
    assert status == 2 and out == ""
    assert err == f"render: --control: {events}:4: {reason}" + err.split(reason, 1)[1]
    assert err.count("\n") == 1


def test_events_read_back_exactly_and_midi_maps_to_them():
    show = show_with(cue=CUES, control={"midi_port": "p", "midi": [
        {"note": 36, "event": "cue now", "channel": 10},
        {"cc": 20, "event": "nudge", "scale": "1/2", "offset": -32}]})
    for text in ("nudge -25/2", "bpm 174.1", "speed g 3/2", "crossfade c sway 1/3", "cue bar"):
        event = control.check(control.parse_event(text), show)
        assert control.parse_event(event.text) == event
    assert control.make_event("bpm", 174.1).args == (Fraction("174.1"),)
    assert control.seconds_text(Fraction(1234567891, 10**9)) == "1.234567891"
    assert control.seconds_text(Fraction(1, 3)) == "1/3"
    note, cc = show.control.midi
    assert midi_event(note, mido.Message("note_on", channel=9, note=36, velocity=90)) == \
        control.parse_event("cue now")
    assert midi_event(note, mido.Message("note_on", channel=0, note=36, velocity=90)) is None
    assert midi_event(note, mido.Message("note_on", channel=9, note=36, velocity=0)) is None
    assert midi_event(cc, mido.Message("control_change", control=20, value=67)) == \
        control.Event("nudge", (Fraction(3, 2),))


def test_the_status_line_shows_the_cue_the_next_point_and_the_last_event():
    from kinetra_live.clocks import InternalClock
    from kinetra_live.live_control import LiveControl

    show = show_with(cue=CUES, start_cue="now", control={"quantise": "bar"})
    ns = [0]
    clock = InternalClock(TempoMap(120), now_ns=lambda: ns[0])
    live = LiveControl(show, clock)
    clock.start()
    assert live.status_text(Fraction(0)) == "cue now  next bar 2.1  last -"
    ns[0] = 600_000_000                 # beat 1.2 of bar 1
    live.submit(control.parse_event("cue bar"))
    live.frame(ns[0])
    assert live.status_text(Fraction(6, 10)) == "cue now  next 2.1 cue bar  last cue bar"
    assert live.latest.cue == "now" and live.latest.last_event == "cue bar"
    live.frame(2_000_000_000)
    assert live.status_text(Fraction(2)) == "cue bar  next bar 3.1  last cue bar"


@pytest.mark.skipif(not __import__("os").path.exists("/dev/snd/seq"),
                    reason="no ALSA sequencer (/dev/snd/seq) for virtual MIDI ports")
def test_the_midi_map_drives_the_show_through_a_port():
    pytest.importorskip("rtmidi")
    from kinetra_live.clocks import InternalClock
    from kinetra_live.live_control import LiveControl, open_midi

    with mido.open_output("kinetra control test", virtual=True) as out:
        name = next(n for n in mido.get_input_names() if "kinetra control test" in n)
        show = show_with(cue=CUES, control={"midi_port": name, "midi": [
            {"note": 36, "event": "cue now"}, {"cc": 7, "event": "bpm"}]})
        live = LiveControl(show, InternalClock(TempoMap(120)))
        open_midi(live, name)
        try:
            out.send(mido.Message("note_on", note=36, velocity=100))
            out.send(mido.Message("control_change", control=7, value=90))
            deadline = time.monotonic() + 10
            while live.received < 2 and time.monotonic() < deadline:
                time.sleep(0.01)
            live.frame(time.monotonic_ns())
            assert live.controller.cue == "now" and live.latest.bpm == 90.0
        finally:
            live.close()


def test_render_applies_control_on_a_midi_clock_trace(tmp_path, capsys):
    path, trace, events = tmp_path / "show.toml", tmp_path / "trace.txt", tmp_path / "set.txt"
    path.write_text('[clock]\nbpm = 120\n[control]\nquantise = "beat"\n'
                    '[[fixture]]\nname = "a"\npattern = "circle"\n')
    # 120 BPM of MIDI clock: 48 clocks a second, and a pause from 1.5 s to 2 s
    trace.write_text("0 start\n" + "".join(f"{k}/48 clock\n" for k in range(72)) +
                     "".join(f"{k}/48 clock\n" for k in range(96, 144)))
    events.write_text("1.01 speed a 1/2\n")
    parser = argparse.ArgumentParser()
    render.add_arguments(parser)
    status = render.main(parser.parse_args([str(path), "--seconds", "3", "--fps", "4",
                                            "--midi-clock", str(trace), "--control",
                                            str(events)]))
    table = list(csv.DictReader(io.StringIO(capsys.readouterr().out)))
    assert status == 0
    pips = [(int(row["pip"]), int(row["fixture_pip"])) for row in table]
    # the change waits for the beat after 1.01 s (pip 192), then runs at half speed
    assert [f for p, f in pips if p <= 192] == [p for p, f in pips if p <= 192]
    assert all(f == 192 + (p - 192) // 2 for p, f in pips if p > 192) and pips[-1][0] > 192
