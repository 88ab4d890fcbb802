import csv
import io
import os
import socket
import subprocess
import sys
import time
from fractions import Fraction as F

import pytest

from kinetra_live import show as shows
from kinetra_live import timecode as tc

SONGS = (tc.Song("01:00:00:00", F(120), (), 4), tc.Song("01:05:00:00", F(90), ((8, F(180)),), 4))
HOUR = F(3600)


def quarter_frames(hours, minutes, seconds, frames, rate_bits):
    """The eight quarter-frame pieces of a timecode, as mido would send them."""
    values = (frames & 15, frames >> 4, seconds & 15, seconds >> 4, minutes & 15,
              minutes >> 4, hours & 15, hours >> 4 | rate_bits << 1)
    return [f"quarter_frame frame_type={k} frame_value={v}" for k, v in enumerate(values)]


def test_frame_counts_at_each_rate_and_drop_frame_labels():
    df = tc.rate("29.97df")
    assert tc.frame_count(0, 1, 0, 2, df) == 1800
    assert tc.frame_count(0, 10, 0, 0, df) == 17982
    assert tc.frame_count(1, 0, 0, 0, df) == 107892          # an hour of 29.97 is 3596.4 s
    assert tc.parse_timecode("01:00:00;00", df) == F(107892 * 1001, 30000)
    for name, fps in (("24", 24), ("25", 25), ("30", 30)):
        assert tc.parse_timecode("00:00:01:00", tc.rate(name)) == 1
        assert tc.parse_timecode(f"00:00:00:{fps - 1:02}", tc.rate(name)) == F(fps - 1, fps)
    for text, at in (("00:01:00;00", df), ("00:00:00:25", tc.rate("25")), ("1:00:00:00", df)):
        with pytest.raises(ValueError):
            tc.parse_timecode(text, at)
    assert tc.frame_count(0, 10, 0, 0, df) == tc.frame_count(0, 9, 59, 29, df) + 1


@pytest.mark.parametrize("rate_bits,name", [(0, "24"), (1, "25"), (2, "29.97df"), (3, "30")])
def test_quarter_frames_from_mido_lock_to_songs_at_every_rate(rate_bits, name):
    mido = pytest.importorskip("mido")
    at = tc.rate(name)
    follower = tc.TimecodeFollower(SONGS)
    frame = at.frame_seconds
    arrival = F(10)
    # two frames a sequence: 01:00:02:00, then 01:00:02:02
    for start in (0, 2):
        for k, text in enumerate(quarter_frames(1, 0, 2, start, rate_bits)):
            follower.feed(arrival, mido.Message.from_str(text))
            if k < 7:
                arrival += frame / 4
        if start == 0:
            arrival += frame / 4
    music = tc.frame_count(1, 0, 2, 2, at) * frame + F(7, 4) * frame - SONGS[0].start_seconds(at)
    assert follower.beat_at(arrival) == music * 2              # 120 BPM: two beats a second
    assert follower.running_at(arrival) and follower.song_at(arrival) == 0
    # readings stop: the position runs on for eight frames, then holds
    held = follower.beat_at(arrival + 8 * frame)
    assert held == (music + 8 * frame) * 2 == follower.beat_at(arrival + 60)
    assert not follower.running_at(arrival + 60)


def test_full_frame_locates_and_songs_start_their_own_tempo_maps():
    follower = tc.TimecodeFollower(SONGS)
    assert follower.pip_at(0) == 0 and not follower.running_at(0)
    # a desk locates to 01:05:04:00 at 25 fps, stopped: the position holds there
    follower.feed(1, "sysex data=(127,127,1,1,33,5,4,0)")
    assert follower.beat_at(5) == 6 and follower.song_at(5) == 1 and not follower.running_at(5)
    # rolling: 8 beats at 90, then 180 BPM in the second song
    follower.reading(6, 5 * 60 + 3600 + F(16, 3), tc.rate("25"))
    assert follower.beat_at(6) == 8 and follower.beat_at(F(61, 10)) == F(8) + F(3, 10)
    # back to the first song by a jump: seeks backwards, as a locate does
    follower.reading(7, HOUR + 30, tc.rate("25"))
    assert follower.beat_at(7) == 60 and follower.song_at(7) == 0
    # before the first song nothing runs
    follower.reading(8, HOUR - 1, tc.rate("25"))
    assert follower.beat_at(8) == 0 and not follower.running_at(8)


def test_small_differences_never_move_the_position_back():
    follower = tc.TimecodeFollower(SONGS)
    at, frame = tc.rate("30"), F(1, 30)
    follower.reading(0, HOUR, at)
    last = F(-1)
    for k in range(1, 200):
        # each reading a little early or late, less than the jump threshold
        seconds = k * frame
        follower.reading(seconds, HOUR + seconds + (frame if k % 3 else -frame), at)
        for probe in (seconds, seconds + frame / 2):
            beat = follower.beat_at(probe)
            assert beat >= last
            last = beat


def test_artnet_timecode_arrives_on_a_udp_port():
    clock = tc.ArtNetTimecodeClock(0, SONGS, host="127.0.0.1")
    try:
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sender:
            sender.sendto(b"not art-net", clock.address)
            sender.sendto(tc.artnet_timecode_packet(1, 0, 10, 0, 1), clock.address)
            deadline = time.monotonic() + 30
            while not clock.running_at(clock.now()) and time.monotonic() < deadline:
                time.sleep(0.005)
        now = clock.now()
        assert clock.running_at(now) and clock.song_at(now) == 0
        assert 20 <= clock.beat_at(now) < 20 + 2 * 8 * F(1, 25) + 1e-9
    finally:
        clock.close()
    assert tc.parse_artnet_timecode(tc.artnet_timecode_packet(1, 2, 3, 4, 2)) == (1, 2, 3, 4, 2)
    assert tc.parse_artnet_timecode(tc.artnet_timecode_packet(1, 2, 3, 4, 2)[:18]) is None


@pytest.mark.skipif(not os.path.exists("/dev/snd/seq"),
                    reason="no ALSA sequencer (/dev/snd/seq) for virtual MIDI ports")
def test_mtc_through_a_virtual_port():
    mido = pytest.importorskip("mido")
    pytest.importorskip("rtmidi")
    with mido.open_output("kinetra mtc test", virtual=True) as out:
        name = next(n for n in mido.get_input_names() if "kinetra mtc test" in n)
        clock = tc.MtcClock(name, SONGS)
        try:
            for text in quarter_frames(1, 0, 1, 0, 3):
                out.send(mido.Message.from_str(text))
            deadline = time.monotonic() + 30
            while not clock.running_at(clock.now()) and time.monotonic() < deadline:
                time.sleep(0.005)
            assert clock.song_at(clock.now()) == 0 and clock.beat_at(clock.now()) >= 2
        finally:
            clock.close()


SHOW = """
[clock]
source = "mtc"
freewheel_frames = 4

[[song]]
start = "01:00:00:00"
bpm = 120

[[song]]
start = "01:00:10:00"
bpm = 60
beats_per_bar = 3

[[fixture]]
name = "a"
pattern = "circle"
"""


def run(*args, cwd):
    return subprocess.run([sys.executable, "-m", "kinetra_live", *map(str, args)],
                          capture_output=True, text=True, cwd=cwd)


def test_render_chases_a_timecode_trace_and_refuses_bad_lines(tmp_path):
    show = tmp_path / "show.toml"
    show.write_text(SHOW)
    trace = tmp_path / "tc.txt"
    lines = [f"{k / 25} 01:00:{9 + k // 25:02}:{k % 25:02} 25" for k in range(0, 50)]
    trace.write_text("# a desk rolling over the song change\n" + "\n".join(lines) + "\n")
    done = run("render", show, "--seconds", 3, "--fps", 10, "--timecode", trace, cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    pips = [int(row["pip"]) for row in csv.DictReader(io.StringIO(done.stdout))]
    # 120 BPM to 01:00:10:00 (beat 20), then the second song from beat 0 at 60 BPM; after
    # the last reading (at 1.96 s) four frames of freewheel, then hold
    assert pips[:10] == [64 * 18 + 64 * k // 5 for k in range(10)]
    assert pips[10:20] == [64 * k // 10 for k in range(10)]
    assert pips[-1] == pips[-5] == int(64 * (0.96 + 4 / 25))
    trace.write_text("0 01:00:00:00 25\n0.04 01:00:00:01 26\n")
    done = run("render", show, "--seconds", 1, "--timecode", trace, cwd=tmp_path)
    assert done.returncode == 2 and done.stderr.count("\n") == 1
    assert f"{trace}:2: frame rate" in done.stderr
    # what a bad message line echoes is quoted and cut, and digits are ASCII only
    for bad in ("quarter_frame frame_type=\u0661 frame_value=0",
                "sysex data=(1," + "9" * 200 + "\x1b[2J)"):
        trace.write_text(f"0 {bad}\n")
        done = run("render", show, "--seconds", 1, "--timecode", trace, cwd=tmp_path)
        assert done.returncode == 2 and done.stderr.count("\n") == 1, done.stderr
        assert "\x1b" not in done.stderr and len(done.stderr) < 300
    for path in (show, trace):
        path.unlink()


@pytest.mark.parametrize("edit,message", [
    (lambda s: s.replace('start = "01:00:10:00"', 'start = "1:00"'), "song[1].start: expected"),
    (lambda s: s.replace('start = "01:00:10:00"', 'start = "00:59:00:00"'),
     "song[1].start: songs must start in timecode order"),
    (lambda s: s.replace("bpm = 60", "bpm = -1"), "song[1].bpm: expected a positive"),
    (lambda s: s.split("[[song]]")[0] + '[[fixture]]\nname = "a"\npattern = "circle"\n',
     "song: a timecode clock needs at least one [[song]]"),
])
def test_show_songs_are_checked(edit, message):
    import tomllib
    with pytest.raises(shows.ShowError) as raised:
        shows.parse_show(tomllib.loads(edit(SHOW)))
    assert str(raised.value).startswith(message)
