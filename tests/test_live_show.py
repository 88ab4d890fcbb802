"""Show files: the minimal form, and every fault named by its key path before anything opens."""

import json
import os
from fractions import Fraction

import kinetra
import pytest

from kinetra_live import packs
from kinetra_live.sampler import Sampler
from kinetra_live.show import MAX_SHOW_BYTES, ShowError, load_show, parse_show

MINIMAL = """
[clock]
bpm = 128
tempo_changes = [[16, 140], [32.5, "174"]]

[[fixture]]
name = "left"
pattern = "circle"
phase_pips = 16
"""


def test_minimal_show_reads_exact_tempos(tmp_path):
    path = tmp_path / "minimal.toml"
    path.write_text(MINIMAL)
    show = load_show(path)
    assert show.clock.bpm == 128 and show.clock.source == "internal"
    assert show.clock.tempo_changes == ((16, 140), (Fraction(65, 2), 174))
    (fixture,) = show.fixtures
    assert (fixture.name, fixture.pattern, fixture.phase_pips, fixture.speed) == \
        ("left", "circle", 16, 1)
    assert show.fps == 44 and show.outputs == () and show.on_stop == "park"
    assert show.quantum == 1       # circle loops in one beat


def base(**changes):
    document = {"clock": {"bpm": 120},
                "fixture": [{"name": "a", "pattern": "circle", "phase_pips": 0}]}
    for path, value in changes.items():
        table, _, key = path.rpartition("__")
        target = document
        for part in table.split("__") if table else ():
            target = target[part][0] if isinstance(target[part], list) else target[part]
        target[key] = value
    return document


@pytest.mark.parametrize("document, message", [
    ({"fixture": []}, "clock: missing"),
    (base(clock={"bpm": "fast"}), "clock.bpm: expected a tempo in beats per minute, got 'fast'"),
    (base(clock={"bpm": 0}), "clock.bpm: expected a positive number, got 0"),
    (base(clock={"bpm": 120, "source": "radio"}),
     "clock.source: expected one of 'internal', 'midi', 'link', 'audio', 'mtc', "
     "'artnet-timecode', got 'radio'"),
    (base(clock={"bpm": 120, "tempo_changes": [[8, 130], [4, 140]]}),
     "clock.tempo_changes[1]: beats must be 0 or more and strictly increasing"),
    (base(clock={"bpm": 120, "tempo_changes": [[8]]}),
     "clock.tempo_changes[0]: expected a pair [beat, bpm]"),
    (base(clock={"bpm": 120, "tick": 1}), "clock.tick: unknown key"),
    (base(fixture__phase_pips=1.5), "fixture[0].phase_pips: expected an integer"),
    (base(fixture__phase_pips=2**31),
     "fixture[0].phase_pips: expected an integer from -2147483648 to 2147483647, got 2147483648"),
    (base(fixture__pattern="no_such"), "fixture[0].pattern: unknown pattern 'no_such'"),
    (base(fixture__speed="0"), "fixture[0].speed: expected a positive number, got '0'"),
    (base(fixture__speed="x/2"), "fixture[0].speed: expected a ratio such as \"3/2\", got 'x/2'"),
    (base(fixture__swap="xx"),
     "fixture[0].swap: expected two different axes such as \"xy\", got 'xx'"),
    (base(fixture__scale=[1, 1]), "fixture[0].scale: expected three numbers for x, y, z"),
    (base(fixture__crossfade={"to": "sway", "at_beat": 4}), "fixture[0].crossfade.beats: missing"),
    (base(fixture__dmx={"pan": 1, "tilt": 2, "bits": 16}),
     "fixture[0].dmx.tilt: overlaps the pan channels"),
    (base(fixture__dmx={"pan": 512, "tilt": 1, "bits": 16}),
     "fixture[0].dmx.pan: expected an integer from 1 to 511, got 512"),
    (base(fixture__midi={"cc": [40], "bits": 14}),
     "fixture[0].midi.cc: expected one to three controller numbers from 0 to 31"),
    ({"clock": {"bpm": 120}, "fixture": [{"name": "a", "pattern": "circle"}] * 2},
     "fixture[1].name: duplicate fixture name 'a'"),
    ({"clock": {"bpm": 120}, "fixture": [
        {"name": "a", "pattern": "circle", "dmx": {"pan": 1, "tilt": 2}},
        {"name": "b", "pattern": "circle", "dmx": {"pan": 2, "tilt": 3}}]},
     "fixture[1].dmx.pan: channel 2 of universe 1 is already used by 'a'"),
    (base(group=[{"name": "g", "fixtures": ["zz"]}]), "group[0].fixtures: no fixture is named 'zz'"),
    (base(group=[{"name": "g", "fixtures": ["a"], "spread": "ring"}]),
     "group[0].spread: expected one of 'fan', 'wings', got 'ring'"),
    (base(output=[{"kind": "dmx", "address": "x"}]),
     "output[0].kind: expected one of 'osc', 'sacn', 'artnet', 'midi', got 'dmx'"),
    (base(output=[{"kind": "osc", "address": "127.0.0.1"}]),
     "output[0].address: expected HOST:PORT, got '127.0.0.1'"),
    (base(output=[{"kind": "sacn", "address": "127.0.0.1", "universe": 0}]),
     "output[0].universe: expected an integer from 1 to 63999, got 0"),
    (base(output=[{"kind": "osc", "address": "h:1"}, {"kind": "osc", "address": "h:2"}]),
     "output[1].name: duplicate output name 'osc'"),
    (base(fps=0), "fps: expected an integer from 1 to 1000, got 0"),
    (base(on_stop="explode"), "on_stop: expected one of 'park', 'blackout', got 'explode'"),
    # the show's own numbers, bounded to what a show can mean
    (base(clock={"bpm": 1e9}),
     "clock.bpm: expected a tempo in beats per minute from 1 to 1000, got 1000000000.0"),
    (base(clock={"bpm": "1e999999999"}),
     "clock.bpm: expected a tempo in beats per minute, got '1e999999999'"),
    (base(clock={"bpm": "١٢٠"}), "clock.bpm: expected a tempo in beats per minute, got '١٢٠'"),
    (base(clock={"bpm": 120, "latency_ms": 1e12}),
     "clock.latency_ms: expected a latency in milliseconds from -10000 to 10000, "
     "got 1000000000000.0"),
    (base(clock={"bpm": 120, "tempo_changes": [[4, 1e6]]}),
     "clock.tempo_changes[0]: expected a tempo in beats per minute from 1 to 1000, "
     "got 1000000.0"),
    (base(clock={"bpm": 120, "tempo_changes": [[2**25, 120]]}),
     "clock.tempo_changes[0]: expected a beat of at most 33554431, got 33554432"),
    (base(fixture__crossfade={"to": "sway", "at_beat": 1e30, "beats": 1}),
     "fixture[0].crossfade.at_beat: expected a number from -33554431 to 33554431, got 1e+30"),
    (base(fixture__phase_pips=10**5000),
     "fixture[0].phase_pips: expected an integer from -2147483648 to 2147483647, "
     "got an integer of about 5001 digits"),
    (base(fixture__rotate_degrees=10**400), "fixture[0].rotate_degrees: expected a finite number"),
    (base(fixture__park=[0, 10**400, 0]), "fixture[0].park: expected three numbers for x, y, z"),
    (base(clock={"bpm": 120, "source": "link"}, fixture=[
        {"name": f"f{p}", "pattern": "circle", "speed": f"1/{p}"}
        for p in (3, 5, 7, 11, 13, 17, 19, 23)]),
     "clock.quantum: the fixtures' loops at their speeds meet only every 111546435 beats; "
     "give a quantum"),
    (base(pack="a\0b"), "pack: a\\x00b: not a file name"),
    # keys that do not apply to an output's or a clock's kind
    (base(output=[{"kind": "osc", "address": "h:1", "universe": 1}]),
     "output[0].universe: does not apply to an output of kind 'osc'"),
    (base(output=[{"kind": "sacn", "address": "h", "prefix": "/x"}]),
     "output[0].prefix: does not apply to an output of kind 'sacn'"),
    (base(output=[{"kind": "sacn", "address": "h", "bundle": True}]),
     "output[0].bundle: does not apply to an output of kind 'sacn'"),
    (base(output=[{"kind": "osc", "address": "h:1", "bundle": 1}]),
     "output[0].bundle: expected true or false"),
    (base(clock={"bpm": 120, "port": "x"}), "clock.port: does not apply to the internal clock"),
    (base(clock={"bpm": 120, "source": "midi", "latency_ms": 5}),
     "clock.latency_ms: does not apply to the midi clock"),
    # every patched fixture is reached, every output sends something
    (base(fixture__dmx={"pan": 1, "tilt": 3}, output=[{"kind": "artnet", "address": "h"}]),
     "fixture[0].dmx.universe: no output sends universe 1 (the DMX outputs send 0)"),
    (base(output=[{"kind": "sacn", "address": "h"}]),
     "output[0].universe: no fixture is patched on universe 1"),
    (base(output=[{"kind": "midi", "address": "port"}]), "output[0]: no fixture has a midi patch"),
    (base(output=[{"kind": "artnet", "address": "h", "universe": 32768}]),
     "output[0].universe: expected an integer from 0 to 32767, got 32768"),
    ({"clock": {"bpm": 120}, "fixture": [
        {"name": "a", "pattern": "circle", "midi": {"cc": [1, 20], "bits": 14}},
        {"name": "b", "pattern": "circle", "midi": {"cc": [52]}}]},
     "fixture[1].midi.cc: controller 52 on channel 1 is already used by 'a'"),
    (base(fixture__midi={"cc": [7, 7]}),
     "fixture[0].midi.cc: controller 7 on channel 1 is already used by 'a'"),
    ({"clock": {"bpm": 120}, "output": [{"kind": "osc", "address": "h:1"}], "fixture": [
        {"name": "a", "pattern": "circle"},
        {"name": "b", "pattern": "circle", "osc_address": "/kinetra/a"}]},
     "fixture[1].osc_address: '/kinetra/a' is also where 'a' is sent on output 'osc'"),
    # names: one rule, safe in an OSC address and a CSV column, and one meaning each
    (base(fixture__name="*"), "fixture[0].name: expected a name of 1 to 64 of A-Z, a-z, 0-9, "
                              "'_' and '-', got '*'"),
    (base(output=[{"kind": "osc", "address": "h:1", "name": "a.b"}]),
     "output[0].name: expected a name of 1 to 64 of A-Z, a-z, 0-9, '_' and '-', got 'a.b'"),
    (base(fixture__osc_address="/a/{b,c}"),
     "fixture[0].osc_address: expected an OSC address such as \"/kinetra\": parts after '/' of "
     "printable ASCII without blanks or # * , ? [ ] { }, got '/a/{b,c}'"),
    (base(group=[{"name": "a", "fixtures": ["a"]}]), "group[0].name: 'a' is also a fixture's name"),
    ({"clock": {"bpm": 120}, "fixture": [{"name": "a", "pattern": "circle"},
                                         {"name": "b", "pattern": "circle"}],
      "group": [{"name": "g", "fixtures": ["a"]}, {"name": "g", "fixtures": ["b"]}]},
     "group[1].name: duplicate group name 'g'"),
    # ports in ASCII digits only; a bracketed IPv6 host
    (base(output=[{"kind": "osc", "address": "127.0.0.1:²"}]),
     "output[0].address: expected HOST:PORT, got '127.0.0.1:²'"),
    (base(output=[{"kind": "osc", "address": "127.0.0.1:٩٠٠٠"}]),
     "output[0].address: expected HOST:PORT, got '127.0.0.1:٩٠٠٠'"),
    (base(output=[{"kind": "osc", "address": "::1:9000"}]),
     "output[0].address: expected HOST:PORT, got '::1:9000'"),
    # what is echoed is one line, escaped and cut
    (base(clock={"bpm": 120, "ti\nck\x1b[2J": 1}), "clock.'ti\\nck\\x1b[2J': unknown key"),
    (base(fixture__pattern="x" * 10**6),
     f"fixture[0].pattern: unknown pattern '{'x' * 40}…'"),
])
def test_invalid_show_names_key_and_reason(document, message):
    with pytest.raises(ShowError) as caught:
        parse_show(document)
    assert str(caught.value) == message


def test_quantum_is_the_lcm_of_loops_at_their_speeds():
    document = base(fixture=[{"name": "a", "pattern": "bounce"},
                             {"name": "b", "pattern": "box_step", "speed": "3/2"},
                             {"name": "c", "pattern": "lfo_glide_stair", "speed": 2}])
    # 1 beat, 4 beats at 3/2 = 8/3 beats, 4 beats at 2 = 2 beats
    assert parse_show(document).quantum == 8
    document["clock"].update(source="link", quantum=16)
    assert parse_show(document).quantum == 16


PATTERN = {"name": "user_nod", "description": "A nod", "samples": [[0, 0.5, 0]] * 64}
TAKE = {"name": "take", "axes": ["x", "y"], "samples": [[0.25, -0.5]] * 4, "bpm": 120,
        "start_pip": 8}


@pytest.mark.parametrize("content, message", [
    ("{", "Expecting property name"),
    ('"text"', "expected a list of patterns or an object"),
    ('{"patterns": [], "extra": 1}', "unknown key 'extra'"),
    ('{"patterns": {}}', "patterns must be a list of objects"),
    (json.dumps([{"name": "x", "description": "d"}]), "patterns[0]: missing key 'samples'"),
    (json.dumps([dict(PATTERN, colour=1)]), "patterns[0]: unknown key 'colour'"),
    (json.dumps([dict(PATTERN, samples=[[2, 0, 0]])]), "patterns[0]: "),
    (json.dumps([PATTERN, PATTERN]), "Duplicate pattern name: user_nod"),
    (json.dumps([dict(PATTERN, name="circle")]), "Cannot override default pattern: circle"),
    (json.dumps({"recordings": [{"name": "r", "axes": ["x"], "samples": [[0.1]],
                                 "bpm": 120}] * 2}),
     "recordings[1]: 'r' is also the name of recordings[0]"),
    (json.dumps({"recordings": [{"name": "r", "axes": ["x"], "samples": [[0.1]]}]}),
     "recordings[0]: missing key 'bpm'"),
    # a name means one thing, and a default name always the default
    (json.dumps({"recordings": [dict(TAKE, name="circle")]}),
     "recordings[0]: 'circle' is a default pattern's name; a pack may not give it another"),
    (json.dumps({"patterns": [PATTERN], "recordings": [dict(TAKE, name="user_nod")]}),
     "recordings[0]: 'user_nod' is also the name of patterns[0]; a name means one thing"),
    # shapes and types are refused with the index at fault, never the binding's argument dump
    (json.dumps([dict(PATTERN, samples=[[0, 0, 0]] * 40000 + [[0, "x", 0]] + [[0, 0, 0]] * 25534)]),
     "patterns[0].samples[40000]: expected three numbers [x, y, z]"),
    (json.dumps({"recordings": [dict(TAKE, start_pip=2**31)]}),
     "recordings[0].start_pip: expected an integer from -2147483648 to 2147483647, "
     "got 2147483648"),
    ('{"recordings": [{"name": "r", "axes": ["x"], "bpm": 1%s, "samples": [[0]]}]}' % ("0" * 400),
     "recordings[0].bpm: expected a number, got an integer of about 401 digits"),
    ("[" * 100_000 + "]" * 100_000, "not valid JSON: nested too deeply"),
    ("[" + "1" * 5000 + "]", "not valid JSON: an integer of over 4,300 digits"),
    (json.dumps({"patterns\n\x1b[2J": []}), "unknown key 'patterns\\n\\x1b[2J'"),
])
def test_pack_faults_name_the_entry(tmp_path, content, message):
    path = tmp_path / "pack.json"
    path.write_text(content)
    with pytest.raises(packs.PackError) as caught:
        packs.read_pack(path)
    text = str(caught.value)
    assert text.startswith(f"{path}: ") and message in text and len(text) <= 500


def test_pack_patterns_and_recordings_play_in_a_show(tmp_path):
    (tmp_path / "pack.json").write_text(json.dumps({
        "patterns": [PATTERN],
        "recordings": [{"name": "take", "axes": ["x", "y"], "samples": [[0.25, -0.5]] * 4,
                        "bpm": 120, "start_pip": 8}]}))
    document = base(pack="pack.json", fixture=[{"name": "a", "pattern": "user_nod"},
                                              {"name": "b", "pattern": "take"}])
    show = parse_show(document, tmp_path)
    assert show.pack.recording("take").sample_count == 4
    a, b = Sampler(show).frame(0).fixtures
    assert a.raw == (0.0, 0.5, 0.0)
    assert b.raw == (0.25, -0.5, 0.0)    # held before the recording starts, z padded
    with pytest.raises(ShowError, match=r"^pack: .*pack\.json: patterns\[0\]: missing key"):
        (tmp_path / "pack.json").write_text("[{}]")
        parse_show(document, tmp_path)


def test_files_that_are_not_regular_or_too_large_are_refused_without_blocking(tmp_path):
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    big_show, big_pack = tmp_path / "big.toml", tmp_path / "big.json"
    for path, size in ((big_show, MAX_SHOW_BYTES), (big_pack, packs.MAX_PACK_BYTES)):
        with open(path, "wb") as handle:
            handle.truncate(size + 1)       # sparse: nothing is written
    cases = [(fifo, "not a regular file"), ("/dev/zero", "not a regular file"),
             (tmp_path, "not a regular file"), (tmp_path / "missing", "No such file or directory")]
    for path, reason in cases + [(big_show, "larger than 1,048,576 bytes")]:
        with pytest.raises(ShowError, match=f"^{path}: {reason}$"):
            load_show(path)
    for path, reason in cases + [(big_pack, "larger than 67,108,864 bytes")]:
        with pytest.raises(ShowError, match=f"^pack: {path}: {reason}$"):
            parse_show(base(pack=str(path)))
        with pytest.raises(packs.PackError, match=f"^{path}: {reason}$"):
            packs.read_pack(path)


@pytest.mark.parametrize("text, reason", [
    ("a = " + "[" * 1000 + "]" * 1000, "nested too deeply"),
    ("a = " + "1" * 5000, "an integer of over 4,300 digits"),
    ("[clock\nbpm = 1", "Expected ']'"),
    (b"bpm = \xff", "not UTF-8 text (byte 6)"),
])
def test_show_that_is_not_toml_names_the_file(tmp_path, text, reason):
    path = tmp_path / "broken.toml"
    path.write_bytes(text if isinstance(text, bytes) else text.encode())
    with pytest.raises(ShowError) as caught:
        load_show(path)
    assert str(caught.value).startswith(f"{path}: not ") and reason in str(caught.value)


def test_a_name_means_one_thing_for_the_loader_the_rig_and_the_preview(tmp_path):
    from kinetra_live import page_data
    circle = {"name": "circle", "description": kinetra.catalogue()[
        [r["name"] for r in kinetra.catalogue()].index("circle")]["description"],
        "samples": [list(kinetra.sample("circle", k).as_tuple()) for k in range(64)]}
    (tmp_path / "pack.json").write_text(json.dumps({"patterns": [circle, PATTERN],
                                                    "recordings": [TAKE]}))
    show = parse_show(base(pack="pack.json", fixture=[
        {"name": "a", "pattern": "circle"}, {"name": "b", "pattern": "user_nod"},
        {"name": "c", "pattern": "take"}]), tmp_path)
    assert [show.loop_beats(n) for n in ("circle", "user_nod", "take")] == [1, 1, Fraction(1, 16)]
    a, b, c = Sampler(show).frame(3).fixtures
    assert a.raw == kinetra.sample("circle", 3).as_tuple() and b.raw == (0.0, 0.5, 0.0)
    assert c.raw == (0.25, -0.5, 0.0)
    listed = {(e["kind"], e["name"]) for e in page_data.entries(show.pack)}
    assert ("recording", "take") in listed and ("pattern", "user_nod") in listed
    assert page_data.samples({"kind": "recording", "name": "take"}, show.pack) == [0.25, -0.5] * 4


def test_club_example_spreads_its_wings_and_reaches_its_heads():
    from pathlib import Path
    show = load_show(Path(__file__).resolve().parent.parent / "examples/shows/club.toml")
    for group in show.groups:
        offsets = [group.offset(i) for i in range(len(group.fixtures))]
        assert len(set(offsets)) > 1, group.name
        if group.spread == "wings":
            assert offsets == offsets[::-1]
    sent = {o.universe for o in show.outputs if o.universe is not None}
    assert all(f.dmx.universe in sent for f in show.fixtures if f.dmx is not None)
