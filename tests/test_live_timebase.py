import random
from fractions import Fraction as F

import pytest

from kinetra_live.timebase import NUDGE_BEND, TempoMap, exact, pip_of, quantum_of


@pytest.mark.parametrize("beat, pip", [
    (0, 0), (F(1, 64), 1), (F(127, 128), 63), (1, 64),
    (F(-1, 128), -1), (F(-1, 64), -1), (F(-65, 64), -65), (F(-129, 128), -65),
])
def test_pip_is_floor_of_beat_times_64_also_below_zero(beat, pip):
    assert pip_of(beat) == pip


@pytest.mark.parametrize("value, expected", [
    (120, F(120)), ("174.5", F(349, 2)), (174.1, F(1741, 10)), (F(1, 3), F(1, 3)),
])
def test_numbers_are_read_exactly(value, expected):
    assert exact(value, "bpm") == expected


@pytest.mark.parametrize("value, error, message", [
    (True, TypeError, "bpm: expected a number, got True"),
    (float("nan"), ValueError, "bpm: expected a finite number, got nan"),
    ("fast", ValueError, "bpm: expected a number, got 'fast'"),
    (None, TypeError, "bpm: expected a number, got None"),
    (0, ValueError, "bpm: expected a positive tempo, got 0"),
    (-120, ValueError, "bpm: expected a positive tempo, got -120"),
])
def test_bad_tempo_is_refused(value, error, message):
    with pytest.raises(error) as raised:
        TempoMap(value)
    assert str(raised.value) == message


def test_map_runs_back_before_its_anchor():
    tempo_map = TempoMap(120, anchor_seconds=10, anchor_beat=4)
    assert tempo_map.beat_at(9) == 2
    assert tempo_map.pip_at(F(7, 10)) == -935
    assert tempo_map.seconds_at(-1) == F(15, 2)


def test_score_of_beat_changes_is_exact():
    tempo_map = TempoMap.from_beat_changes("174", [(16, 87), (F(33, 2), "140.5")])
    assert tempo_map.seconds_at(16) == F(16 * 60, 174)
    assert tempo_map.seconds_at(F(33, 2)) == F(16 * 60, 174) + F(1, 2) * 60 / 87
    assert tempo_map.bpm_at(tempo_map.seconds_at(F(33, 2))) == F(281, 2)
    assert tempo_map.beat_at(tempo_map.seconds_at(20)) == 20
    assert TempoMap.from_beat_changes(90, [(0, 120)]).beat_at(1) == 2


@pytest.mark.parametrize("changes, message", [
    ([(-1, 120)], "tempo change 0: beat -1 is negative"),
    ([(4, 120), (4, 90)], "tempo change 1: beat 4 must be above 4"),
    ([(4,)], "tempo change 0: expected [beat, bpm]"),
    ([(4, 0)], "bpm: expected a positive tempo, got 0"),
])
def test_bad_score_is_refused(changes, message):
    with pytest.raises(ValueError) as raised:
        TempoMap.from_beat_changes(120, changes)
    assert str(raised.value) == message


def test_tempo_change_re_anchors_at_the_current_beat_and_replaces_the_rest():
    tempo_map = TempoMap.from_beat_changes(120, [(8, 60)])
    tempo_map.set_tempo(1, 240)
    assert tempo_map.beat_at(1) == 2
    assert tempo_map.beat_at(2) == 6
    assert tempo_map.bpm_at(100) == 240
    assert tempo_map.beat_at(F(1, 2)) == 1


@pytest.mark.parametrize("ms", [20, -20, F(1, 3), -250])
def test_nudge_shifts_the_phase_by_a_bend_that_never_steps_back(ms):
    tempo_map = TempoMap(174)
    tempo_map.nudge(10, ms)
    shift = F(ms) / 1000 * 174 / 60
    end = 10 + abs(F(ms)) / 1000 / NUDGE_BEND
    assert tempo_map.beat_at(10) == F(10 * 174, 60)
    assert tempo_map.beat_at(end) == F(end * 174, 60) + shift
    assert tempo_map.bpm_at(10) == 174 + (F(174, 8) if ms > 0 else -F(174, 8))
    assert tempo_map.bpm_at(end) == 174


def test_nudge_keeps_later_changes_at_their_times_and_bends_no_slower_than_they_allow():
    tempo_map = TempoMap.from_beat_changes(120, [(4, 30), (5, 120)])
    # the 30 BPM segment from 2 s to 4 s lies inside the bend, which must slow it by only an
    # eighth of its own tempo, so the bend widens to 8 * shift / 30 BPM.
    tempo_map.nudge(F(19, 10), -100)
    assert min(tempo_map.bpm_at(F(t, 100)) for t in range(190, 600)) == 30 - F(30, 8)
    assert tempo_map.beat_at(100) == 5 + (100 - 4) * 2 - F(1, 5)


def test_a_nudge_during_a_bend_waits_for_it_so_bends_never_stack():
    tempo_map = TempoMap(120)
    tempo_map.nudge(1, 20)
    tempo_map.nudge(F(11, 10), 20)
    assert {tempo_map.bpm_at(F(t, 100)) for t in range(100, 132)} == {135}
    assert tempo_map.bpm_at(F(132, 100)) == 120
    assert tempo_map.beat_at(2) == 4 + F(8, 100)


def test_seek_is_the_only_way_back_and_seconds_at_finds_the_latest_pass():
    tempo_map = TempoMap(120)
    tempo_map.seek(10, 4)
    assert tempo_map.beat_at(10) == 4
    assert tempo_map.beat_at(F(19, 2)) == 19
    assert tempo_map.seconds_at(5) == F(21, 2)
    assert tempo_map.seconds_at(19) == F(35, 2)
    assert tempo_map.seconds_at(1) == F(1, 2)


def test_random_edits_keep_the_beat_continuous_and_the_tempo_bounded():
    rng = random.Random(174)
    tempo_map, now, top = TempoMap(174), F(0), F(174)
    for _ in range(2000):
        now += F(rng.randrange(1, 2_000_000), 1_000_000)
        before = tempo_map.beat_at(now)
        if rng.random() < 0.5:
            bpm = F(rng.randrange(60_000, 200_000), 1000)
            top = max(top, bpm)
            tempo_map.set_tempo(now, bpm)
        else:
            tempo_map.nudge(now, F(rng.randrange(-100_000, 100_000), 1000))
        assert tempo_map.beat_at(now) == before
        probe = now + F(rng.randrange(1, 1000), 1000)
        assert 0 < tempo_map.bpm_at(probe) <= top * (1 + NUDGE_BEND)
        assert tempo_map.beat_at(probe) > before
        assert tempo_map.pip_at(probe) == pip_of(tempo_map.beat_at(probe))


def test_quantum_is_the_least_common_multiple_of_the_loops_in_whole_beats():
    assert quantum_of([]) == 4
    assert quantum_of([1024]) == 16
    assert quantum_of([160, 256]) == 20
    assert quantum_of([F(320, 3), 64]) == 5
    with pytest.raises(ValueError, match="loop length 1: expected a positive length, got 0"):
        quantum_of([64, 0])
