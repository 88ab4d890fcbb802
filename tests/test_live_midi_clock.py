import os
import random
import tempfile
import time
from fractions import Fraction as F
from pathlib import Path

import pytest

from kinetra_live.midi_clock import MidiClockFollower, clock_pip, parse_message, read_trace

CLOCK = F(60, 120 * 24)  # one clock at 120 BPM


@pytest.mark.parametrize("count", [1, 2, 3, 4, 24, 25, 9_999_998, 9_999_999, 10_000_000])
def test_pip_after_n_clocks_is_exact_for_long_sets(count):
    assert clock_pip(count) == (count - 1) * 8 // 3


def jittered_clocks(follower, start, count, rng, jitter=F(1, 1000)):
    """Feed `count` clocks at 120 BPM from `start`, each up to `jitter` early or late; yield
    each arrival time after feeding it."""
    for k in range(count):
        seconds = start + k * CLOCK + jitter * F(rng.randrange(-1000, 1000), 1000)
        follower.feed(seconds, "clock")
        yield seconds


def test_jittered_clocks_give_exact_pips_and_the_position_between_never_overtakes():
    rng = random.Random(24)
    follower = MidiClockFollower()
    follower.feed(0, "start")
    last_pip = 0
    for n, seconds in enumerate(jittered_clocks(follower, F(1, 100), 5_000, rng), 1):
        assert follower.pip_at(seconds) == (n - 1) * 8 // 3 >= last_pip
        # a late next clock: the position waits just below it
        probe = follower.beat_at(seconds + 3 * CLOCK)
        assert F(n - 1, 24) <= probe < F(n, 24)
        last_pip = follower.pip_at(probe)
    assert abs(follower.bpm_at(seconds) - 120) < 1


def test_start_stop_song_position_and_continue():
    follower = MidiClockFollower()
    assert not follower.running_at(0) and follower.pip_at(0) == 0
    rng = random.Random(1)
    follower.feed(0, "start time=0")
    assert follower.running_at(0) and follower.pip_at(1) == 0
    *_, last = jittered_clocks(follower, F(1, 100), 49, rng)
    assert follower.pip_at(last) == 128
    stop = last + CLOCK / 2
    follower.feed(stop, "stop")
    held = follower.beat_at(stop)
    assert F(2) < held < F(49, 24) and follower.beat_at(stop + 60) == held
    assert not follower.running_at(stop)
    follower.feed(stop + 1, "clock")  # clocks while stopped only keep the tempo estimate
    assert follower.beat_at(stop + 2) == held
    follower.feed(stop + 3, "songpos pos=32")
    assert follower.pip_at(stop + 3) == 512
    follower.feed(stop + 4, "continue")
    assert follower.pip_at(stop + 5) == 512
    *_, last = jittered_clocks(follower, stop + 6, 4, rng)
    assert follower.beat_at(last) == 8 + F(3, 24)
    follower.feed(last, "songpos pos=1")  # ignored while running
    assert follower.beat_at(last) == 8 + F(3, 24)
    follower.feed(last, "start")
    *_, last = jittered_clocks(follower, last + 1, 1, rng)
    assert follower.pip_at(last) == 0


def test_mido_messages_are_taken_and_other_kinds_ignored():
    mido = pytest.importorskip("mido")
    follower = MidiClockFollower()
    follower.feed(0, mido.Message("start"))
    follower.feed(1, mido.Message("note_on", note=60))
    follower.feed(1, mido.Message("clock"))
    follower.feed(2, mido.Message("clock"))
    assert follower.beat_at(2) == F(1, 24) and follower.bpm_at(2) == F(60, 24)


@pytest.mark.parametrize("text, message", [
    ("clok", "not a MIDI clock message: 'clok'"),
    ("songpos pos=16384", "songpos needs pos=0..16383: 'songpos pos=16384'"),
    ("songpos pos=-1", "songpos needs pos=0..16383: 'songpos pos=-1'"),
    ("songpos", "songpos needs pos=0..16383: 'songpos'"),
    ("clock pos=3", "malformed MIDI message 'clock pos=3'"),
    ("", "not a MIDI clock message: ''"),
])
def test_bad_messages_are_refused_and_change_nothing(text, message):
    follower = MidiClockFollower()
    follower.feed(1, "start")
    with pytest.raises(ValueError) as raised:
        follower.feed(2, text)
    assert str(raised.value) == message
    assert parse_message("songpos pos=7 time=0") == ("songpos", 7)
    with pytest.raises(ValueError, match="arrived before"):
        follower.feed(0, "stop")
    assert follower.running_at(3)


def test_trace_is_read_exactly_and_faults_name_the_line():
    with tempfile.TemporaryDirectory() as folder:
        trace = Path(folder) / "trace.txt"
        trace.write_text("# a house set\n0 start\n\n0.0208\tclock\n0.05  songpos pos=4\n")
        assert list(read_trace(trace)) == [(F(0), "start"), (F(208, 10000), "clock"),
                                           (F(1, 20), "songpos pos=4")]
        for text, fault in [
                ("1 clock\n0.5 clock\n", ":2: time '0.5' is before the line above"),
                ("soon clock\n", ":1: expected a time in seconds, got 'soon'"),
                ("1/0 clock\n", ":1: expected a time in seconds, got '1/0'"),
                ("\u0661 clock\n", ":1: expected a time in seconds, got '\u0661'"),
                ("1e999999999 clock\n", ":1: expected a time in seconds, got '1e999999999'"),
                ("-1 clock\n", ":1: time '-1' is negative"),
                ("1 songpos pos=\u0663\n", ":1: songpos needs pos=0..16383: 'songpos pos=\u0663'"),
                ("0 start\n1 tick\x1b[2J" + "x" * 200 + "\n",
                 ":2: not a MIDI clock message: 'tick\\x1b[2J" + "x" * 32 + "…'"),
                ("0 start\n" + "0 clock " * 200 + "\n", ":2: line is longer than 1024 bytes"),
                (b"0 start\n0 cl\xffck\n", ":2: not UTF-8 text")]:
            if isinstance(text, bytes):
                trace.write_bytes(text)
            else:
                trace.write_text(text)
            with pytest.raises(ValueError) as raised:
                read_trace(trace)
            assert str(raised.value) == f"{trace}{fault}"
        with pytest.raises(ValueError, match="/dev/zero: not a regular file"):
            read_trace("/dev/zero")


def test_continue_while_running_keeps_the_position_moving_on():
    follower = MidiClockFollower()
    follower.feed(0, "start")
    for k in range(30):
        follower.feed(k * CLOCK, "clock")
    between = 29 * CLOCK + CLOCK / 2
    before = follower.beat_at(between)
    follower.feed(between, "continue")
    assert follower.beat_at(between) == before > F(28, 24)


@pytest.mark.skipif(not os.path.exists("/dev/snd/seq"),
                    reason="no ALSA sequencer (/dev/snd/seq) for virtual MIDI ports")
def test_follows_clock_through_a_virtual_port():
    mido = pytest.importorskip("mido")
    pytest.importorskip("rtmidi")
    from kinetra_live.midi_clock import MidiClock

    with mido.open_output("kinetra clock test", virtual=True) as out:
        name = next(n for n in mido.get_input_names() if "kinetra clock test" in n)
        clock = MidiClock(name)
        try:
            out.send(mido.Message("start"))
            for _ in range(25):
                out.send(mido.Message("clock"))
                time.sleep(0.02)
            deadline = time.monotonic() + 2
            while clock.pip_at(clock.now()) < 64 and time.monotonic() < deadline:
                time.sleep(0.01)
            assert clock.running_at(clock.now()) and clock.pip_at(clock.now()) == 64
        finally:
            clock.close()
