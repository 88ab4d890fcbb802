"""Show files: the minimal form, and every fault named by its key path before anything opens."""

import json
from fractions import Fraction

import pytest

from kinetra_live import packs
from kinetra_live.show import ShowError, load_show, parse_show

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
])
def test_invalid_show_names_key_and_reason(document, message):
    with pytest.raises(ShowError) as caught:
        parse_show(document)
    assert str(caught.value) == message


def test_show_that_is_not_toml_names_the_file(tmp_path):
    path = tmp_path / "broken.toml"
    path.write_text("[clock\nbpm = 1")
    with pytest.raises(ShowError, match=r"broken\.toml: not valid TOML"):
        load_show(path)


def test_quantum_is_the_lcm_of_loops_at_their_speeds():
    document = base(fixture=[{"name": "a", "pattern": "bounce"},
                             {"name": "b", "pattern": "box_step", "speed": "3/2"},
                             {"name": "c", "pattern": "lfo_glide_stair", "speed": 2}])
    # 1 beat, 4 beats at 3/2 = 8/3 beats, 4 beats at 2 = 2 beats
    assert parse_show(document).quantum == 8
    document["clock"]["quantum"] = 16
    assert parse_show(document).quantum == 16


PATTERN = {"name": "user_nod", "description": "A nod", "samples": [[0, 0.5, 0]] * 64}


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
                                 "bpm": 120}] * 2}), "two recordings share a name"),
    (json.dumps({"recordings": [{"name": "r", "axes": ["x"], "samples": [[0.1]]}]}),
     "recordings[0]: missing key 'bpm'"),
])
def test_pack_faults_name_the_entry(tmp_path, content, message):
    path = tmp_path / "pack.json"
    path.write_text(content)
    with pytest.raises(packs.PackError) as caught:
        packs.read_pack(path)
    assert str(caught.value).startswith(f"{path}: ") and message in str(caught.value)


def test_pack_patterns_and_recordings_play_in_a_show(tmp_path):
    (tmp_path / "pack.json").write_text(json.dumps({
        "patterns": [PATTERN],
        "recordings": [{"name": "take", "axes": ["x", "y"], "samples": [[0.25, -0.5]] * 4,
                        "bpm": 120, "start_pip": 8}]}))
    document = base(pack="pack.json", fixture=[{"name": "a", "pattern": "user_nod"},
                                              {"name": "b", "pattern": "take"}])
    show = parse_show(document, tmp_path)
    assert show.pack.recording("take").sample_count == 4
    from kinetra_live.sampler import Sampler
    a, b = Sampler(show).frame(0).fixtures
    assert a.raw == (0.0, 0.5, 0.0)
    assert b.raw == (0.25, -0.5, 0.0)    # held before the recording starts, z padded
    with pytest.raises(ShowError, match=r"^pack: .*pack\.json: patterns\[0\]: missing key"):
        (tmp_path / "pack.json").write_text("[{}]")
        parse_show(document, tmp_path)
