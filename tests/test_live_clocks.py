import random
from fractions import Fraction as F

import pytest

from kinetra_live.clocks import TAP_PAUSE_SECONDS, InternalClock
from kinetra_live.timebase import NUDGE_BEND, TempoMap, pip_of


class FakeTime:
    """A monotonic_ns stand-in the test moves by hand."""

    def __init__(self, seconds=0):
        self.ns = int(seconds * 10**9)

    def __call__(self):
        return self.ns

    def to(self, seconds):
        self.ns = int(F(seconds) * 10**9)
        return F(self.ns, 10**9)


def test_clock_counts_show_time_from_its_creation_and_runs_the_latency_ahead():
    time = FakeTime(1000)
    plain = InternalClock(TempoMap.from_beat_changes(120, [(4, 60)]), now_ns=time)
    ahead = InternalClock(TempoMap.from_beat_changes(120, [(4, 60)]), latency_ms=250,
                          now_ns=time)
    now = time.to(F(10005, 10))
    assert plain.beat_at(now) == 1
    assert ahead.beat_at(now) == F(3, 2)
    for seconds in (1002, F(20041, 20), 1003):
        assert ahead.pip_at(seconds) == plain.pip_at(seconds + F(1, 4))
        assert ahead.bpm_at(seconds) == plain.bpm_at(seconds + F(1, 4))
    assert plain.bpm_at(1003) == 60 and ahead.name == "internal"


def test_taps_set_the_mean_tempo_without_a_jump_and_a_pause_starts_a_new_count():
    time = FakeTime()
    clock = InternalClock(90, now_ns=time)
    for seconds in ("1", "1.5", "2.1", "2.5"):
        now = time.to(seconds)
        before = clock.beat_at(now)
        clock.tap()
        assert clock.beat_at(now) == before
    assert clock.bpm_at(now) == 60 / (F(3, 2) / 3)
    restart = time.to(F(5, 2) + TAP_PAUSE_SECONDS + F(1, 100))
    clock.tap()
    assert clock.bpm_at(restart) == 120
    time.to(restart + F(2, 5))
    clock.tap()
    assert clock.bpm_at(time.to(11)) == 150


def test_set_bpm_and_nudge_act_now_and_keep_the_beat():
    time = FakeTime()
    clock = InternalClock(120, now_ns=time)
    now = time.to(2)
    clock.set_bpm("174")
    assert clock.beat_at(now) == 4 and clock.bpm_at(now) == 174
    clock.nudge(-40)
    assert clock.bpm_at(now) == 174 * (1 - NUDGE_BEND)
    later = now + 1
    assert clock.beat_at(later) == 4 + F(174, 60) - F(40, 1000) * F(174, 60)


@pytest.mark.parametrize("quantise, at", [(None, F(13, 20)), ("beat", 1), ("bar", 2)])
def test_start_puts_beat_zero_now_or_on_the_next_beat_or_bar_and_counts_in(quantise, at):
    time = FakeTime()
    clock = InternalClock(120, now_ns=time)
    now = time.to(F(13, 20))
    clock.start(quantise)
    assert clock.beat_at(at) == 0 and clock.running_at(at)
    assert clock.pip_at(at - F(1, 1000)) == -1 and not clock.running_at(at - F(1, 1000))
    assert clock.pip_at(now) == pip_of((now - at) * 2)


def test_start_keeps_the_latency():
    time = FakeTime(3)
    plain = InternalClock(120, now_ns=time)
    ahead = InternalClock(120, latency_ms=100, now_ns=time)
    time.to(F(37, 10))
    plain.start()
    ahead.start()
    for seconds in (F(37, 10), 4, F(1234567, 1000)):
        assert ahead.beat_at(seconds) == plain.beat_at(seconds + F(1, 10))


def test_start_keeps_a_live_tempo_and_otherwise_replays_the_show_tempo_map():
    time = FakeTime()
    clock = InternalClock(TempoMap.from_beat_changes(120, [(2, 60)]), now_ns=time)
    time.to(5)
    clock.start()
    assert clock.bpm_at(time.to(5)) == 120 and clock.bpm_at(time.to(7)) == 60
    clock.set_bpm(90)
    clock.start("beat")
    assert clock.bpm_at(time.to(20)) == 90
    with pytest.raises(ValueError, match="quantise: expected None, 'beat' or 'bar', got 'bars'"):
        clock.start("bars")


def test_twelve_hours_of_edits_never_step_back_or_jump():
    """A 174 BPM set of 12 hours with 10,000 tempo changes, tap bursts and nudges: every read
    moves on, by no more pips than the fastest tempo (bent by a nudge) allows."""
    rng = random.Random(12)
    time = FakeTime()
    clock = InternalClock(174, now_ns=time)
    now, last_time, last_pip, top = F(0), F(0), 0, F(174)

    def read(seconds):
        nonlocal last_time, last_pip
        pip = clock.pip_at(seconds)
        allowed = (seconds - last_time) * top * (1 + NUDGE_BEND) / 60 * 64 + 1
        assert last_pip <= pip <= last_pip + allowed
        last_time, last_pip = seconds, pip

    for _ in range(10_000):
        now = time.to(now + F(rng.randrange(1, 8_640_000), 1_000_000))
        read(now)
        choice = rng.random()
        if choice < 0.4:
            top = max(top, 200)
            clock.set_bpm(F(rng.randrange(60_000, 200_000), 1000))
        elif choice < 0.7:
            clock.nudge(F(rng.randrange(-120_000, 120_000), 1000))
        else:
            interval = F(60, 174) + F(rng.randrange(-50, 50), 1000)
            top = max(top, 60 / (interval - F(50, 1000)))
            for _ in range(rng.randrange(2, 6)):
                clock.tap()
                now = time.to(now + interval + F(rng.randrange(-20, 20), 1000))
        read(now)
    assert now > 12 * 3600
