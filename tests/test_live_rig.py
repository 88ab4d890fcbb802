"""The rig: exact spreads and speeds, transforms, crossfades, all from one sampler."""

import json
import logging
from fractions import Fraction

import kinetra
import pytest
from hypothesis import given, settings, strategies as st

from kinetra_live.sampler import Sampler
from kinetra_live.show import parse_show
from kinetra_live.timebase import TempoMap


def show_of(fixtures, groups=()):
    return parse_show({"clock": {"bpm": 120}, "fixture": list(fixtures), "group": list(groups)})


def rig_of_eight(spread):
    names = [f"f{i}" for i in range(8)]
    return show_of([{"name": n, "pattern": "circle", "phase_pips": 3} for n in names],
                   [{"name": "row", "fixtures": names, "spread": spread, "spread_pips": 8}])


@pytest.mark.parametrize("spread, offsets", [
    ("fan", [0, 8, 16, 24, 32, 40, 48, 56]),
    ("wings", [24, 16, 8, 0, 0, 8, 16, 24]),
])
def test_spread_offsets(spread, offsets):
    frame = Sampler(rig_of_eight(spread)).frame(100)
    assert [s.fixture_pip - 103 for s in frame.fixtures] == offsets


@settings(max_examples=60, deadline=None, database=None)
@given(st.sampled_from(["fan", "wings"]),
       st.lists(st.tuples(st.fractions(0, 30, max_denominator=100),
                          st.fractions(1, 400, max_denominator=100),
                          st.fractions(Fraction(1, 8), 8, max_denominator=12)), max_size=12))
def test_spread_holds_through_tempo_and_speed_changes(spread, changes):
    show = rig_of_eight(spread)
    sampler, tempo = Sampler(show), TempoMap(120)
    expected = [s.fixture_pip - sampler.frame(0).fixtures[0].fixture_pip
                for s in sampler.frame(0).fixtures]
    seconds, last = Fraction(0), None
    for step, bpm, speed in sorted(changes):
        seconds += step
        tempo.set_tempo(seconds, bpm)
        pip = tempo.pip_at(seconds)  # reads move forward in time, as a live clock does
        sampler.set_speed(pip, speed)
        frame = sampler.frame(pip)
        pips = [s.fixture_pip for s in frame.fixtures]
        assert [p - pips[0] for p in pips] == expected
        if last is not None:
            assert pips[0] >= last          # a speed change never throws the motion back
        last = pips[0]


def test_speed_change_is_continuous_and_exact():
    sampler = Sampler(show_of([{"name": "a", "pattern": "circle", "phase_pips": 5,
                                "speed": "3/2"}]))
    pip_of = lambda pip: sampler.frame(pip).fixtures[0].fixture_pip
    assert [pip_of(p) for p in (0, 1, 2, 3, 64)] == [5, 6, 8, 9, 101]
    sampler.set_speed(64, "1/2")
    assert [pip_of(p) for p in (64, 65, 66, 128)] == [101, 101, 102, 133]
    with pytest.raises(ValueError, match="speed"):
        sampler.set_speed(70, 0)
    assert pip_of(128) == 133


def test_raw_is_the_module_sample_and_out_applies_transforms():
    sampler = Sampler(show_of([
        {"name": "plain", "pattern": "figure_eight"},
        {"name": "bent", "pattern": "figure_eight", "swap": "xz", "invert": [False, True, False],
         "scale": [0.5, 1, 1]},
        {"name": "turned", "pattern": "figure_eight", "rotate_degrees": 90},
        {"name": "big", "pattern": "figure_eight", "scale": [4, 4, 4]},
    ]))
    for pip in (0, 7, 40, -33):
        plain, bent, turned, big = sampler.frame(pip).fixtures
        x, y, z = kinetra.sample("figure_eight", pip).as_tuple()
        assert plain.raw == plain.out == bent.raw == (x, y, z)
        assert bent.out == (0.5 * z, -y, x)
        assert turned.out == (-y, x, z)
        assert big.out == tuple(min(max(4 * v, -1.0), 1.0) for v in (x, y, z))


def test_crossfade_mixes_over_its_beats_on_the_show_pip():
    sampler = Sampler(show_of([{"name": "a", "pattern": "circle", "phase_pips": 16,
                                "crossfade": {"to": "sway", "at_beat": 2, "beats": "3/2"}}]))
    weights = [sampler.frame(p).fixtures[0].fade.weight for p in (0, 128, 152, 224, 500)]
    assert weights == [0.0, 0.0, 0.25, 1.0, 1.0]
    state = sampler.frame(152).fixtures[0]
    assert state.raw == kinetra.sample("circle", 168).as_tuple()
    assert state.fade.raw == kinetra.sample("sway", 168).as_tuple()
    assert state.out == tuple(0.75 * a + 0.25 * b for a, b in zip(state.raw, state.fade.raw))
    # a live fade after the first finished starts from its target
    sampler.crossfade(600, "bounce", 1)
    state = sampler.frame(632).fixtures[0]
    assert (state.pattern, state.fade.to, state.fade.weight) == ("sway", "bounce", 0.5)
    with pytest.raises(ValueError, match="unknown pattern 'nope'"):
        sampler.crossfade(700, "nope", 1)


def test_a_frame_keeps_what_played_when_it_was_sampled():
    sampler = Sampler(show_of([{"name": "a", "pattern": "circle", "scale": [0.5, 1, 1]},
                               {"name": "b", "pattern": "sway"}]))
    frame = sampler.frame(40)
    sampler.crossfade(41, "bounce", 1)
    assert sampler.frame(57).fixtures[0].fade.weight == 0.25     # a fade joins a running show
    sampler.crossfade(200, "flam", 1)       # the first fade is done: bounce plays now
    sampler.set_speed(300, 2)
    assert [(s.pattern, s.fixture_pip, s.fade) for s in frame.fixtures] == [
        ("circle", 40, None), ("sway", 40, None)]
    assert frame.outs == tuple(s.out for s in frame.fixtures)
    assert frame == Sampler(show_of([{"name": "a", "pattern": "circle", "scale": [0.5, 1, 1]},
                                     {"name": "b", "pattern": "sway"}])).frame(40)
    assert sampler.frame(210).fixtures[1].pattern == "bounce"


def test_a_loop_folds_fixture_pips_beyond_32_bits_exactly(tmp_path):
    (tmp_path / "pack.json").write_text(json.dumps([{
        "name": "user_steps", "description": "Steps",
        "samples": [[k / 10, 0, 0] for k in range(10)]}]))
    show = parse_show({"clock": {"bpm": 120}, "pack": "pack.json", "fixture": [
        {"name": "a", "pattern": "circle", "phase_pips": 2**31 - 1, "speed": 64},
        {"name": "b", "pattern": "user_steps", "phase_pips": -2**31},
        {"name": "c", "pattern": "flam", "phase_pips": 2**31 - 1}]}, tmp_path)
    sampler = Sampler(show)
    steps = show.pack.library
    for pip in (0, 1, 2**31, 2**40 + 7, -2**35 - 3):
        a, b, c = sampler.frame(pip).fixtures
        assert (a.fixture_pip, b.fixture_pip) == (pip * 64 + 2**31 - 1, pip - 2**31)
        assert a.raw == kinetra.sample("circle", a.fixture_pip % 64).as_tuple()
        assert b.raw == steps.sample("user_steps", b.fixture_pip % 10).as_tuple()
        assert c.raw == kinetra.flam(c.fixture_pip % kinetra.catalogue()[
            [r["name"] for r in kinetra.catalogue()].index("flam")]["period_pips"]).as_tuple()


def test_a_recording_past_its_end_parks_the_fixture_and_says_so_once(tmp_path, caplog):
    (tmp_path / "pack.json").write_text(json.dumps({"recordings": [{
        "name": "take", "axes": ["x"], "samples": [[0.5], [0.25]], "bpm": 120,
        "start_pip": 4}]}))
    show = parse_show({"clock": {"bpm": 120}, "pack": "pack.json", "fixture": [
        {"name": "solo", "pattern": "take", "park": [0, -1, 0], "scale": [0.5, 1, 1]},
        {"name": "fading", "pattern": "circle", "park": [1, 1, 0],
         "crossfade": {"to": "take", "at_beat": 0, "beats": 1}}]}, tmp_path)
    sampler = Sampler(show)
    with caplog.at_level(logging.WARNING, logger="kinetra_live"):
        before, _ = sampler.frame(-2**40).fixtures
        assert before.raw == (0.5, 0.0, 0.0) and before.out == (0.25, 0.0, 0.0)
        assert sampler.frame(5).fixtures[0].out == (0.125, 0.0, 0.0)
        for pip in (6, 7, 2**33):
            solo, fading = sampler.frame(pip).fixtures
            assert solo.raw == solo.out == (0.0, -1.0, 0.0)
            assert fading.out == (1.0, 1.0, 0.0) and fading.fade.to == "take"
    assert [r.getMessage() for r in caplog.records] == [
        "fixture 'solo': recording 'take' ended before fixture pip 6; the fixture is parked",
        "fixture 'fading': recording 'take' ended before fixture pip 6; the fixture is parked"]


def test_live_numbers_are_bounded_before_they_are_read():
    sampler = Sampler(show_of([{"name": "a", "pattern": "circle"}]))
    for bad in ("1e999999999", "1/0", "٢"):
        with pytest.raises(ValueError, match="^speed: expected"):
            sampler.set_speed(0, bad)
        with pytest.raises(ValueError, match="^beats: expected"):
            sampler.crossfade(0, "sway", bad)
    with pytest.raises(ValueError, match="^unknown pattern 'x\\\\n'$"):
        sampler.crossfade(0, "x\n", 1)
