"""render: CSV whose positions are exactly the module's samples at the tempo map's pips."""

import argparse
import csv
import io
import itertools
import subprocess
import sys
import tracemalloc
from fractions import Fraction
from pathlib import Path

import kinetra
import pytest

from kinetra_live import render
from kinetra_live.show import load_show
from kinetra_live.timebase import TempoMap

ROOT = Path(__file__).resolve().parent.parent
CLUB = ROOT / "examples" / "shows" / "club.toml"


def rendered(capsys, *argv):
    parser = argparse.ArgumentParser()
    render.add_arguments(parser)
    status = render.main(parser.parse_args([str(a) for a in argv]))
    out, err = capsys.readouterr()
    return status, list(csv.reader(io.StringIO(out))), err


def test_render_follows_the_tempo_map_exactly(capsys):
    status, table, _ = rendered(capsys, CLUB, "--seconds", "40", "--fps", "30")
    assert status == 0
    header, rows = table[0], table[1:]
    assert ",".join(header[:9]) == "frame,seconds,pip,fixture,pattern,fixture_pip,x,y,z"
    assert header[9:] == ["fade_to", "fade_weight", "fade_x", "fade_y", "fade_z",
                          "osc.address", "osc.x", "osc.y", "osc.z", "stage.pan", "stage.tilt"]
    show = load_show(CLUB)
    tempo = TempoMap.from_beat_changes(124, [(64, 126), (128, Fraction("127.5"))])
    assert len(rows) == 40 * 30 * len(show.fixtures)
    phases = {f.name: show.phase_of(f) for f in show.fixtures}
    speeds = {f.name: f.speed for f in show.fixtures}
    for row in rows:
        frame, seconds, pip, name, pattern, fixture_pip = row[:6]
        frame, pip, fixture_pip = int(frame), int(pip), int(fixture_pip)
        assert seconds == repr(frame / 30)
        assert pip == tempo.pip_at(Fraction(frame, 30))
        assert fixture_pip == pip * speeds[name].numerator // speeds[name].denominator \
            + phases[name]
        assert row[6:9] == [repr(v) for v in kinetra.sample(pattern, fixture_pip).as_tuple()]
    assert {row[9] for row in rows} == {"", "sway"}
    assert rows[-1][9:11] == ["sway", "1.0"]


def test_render_of_an_invalid_show_says_why_and_sends_nothing(tmp_path, capsys):
    path = tmp_path / "bad.toml"
    path.write_text('[clock]\nbpm = 120\n[[fixture]]\nname = "a"\npattern = "circle"\n'
                    'phase_pips = "late"\n')
    status, table, err = rendered(capsys, path, "--seconds", "1")
    assert (status, table) == (2, [])
    assert err == "render: fixture[0].phase_pips: expected an integer\n"


def test_render_arguments_are_checked():
    result = subprocess.run([sys.executable, "-c", "import sys, argparse\n"
                             "from kinetra_live import render\n"
                             "p = argparse.ArgumentParser(); render.add_arguments(p)\n"
                             "p.parse_args(sys.argv[1:])", str(CLUB), "--seconds", "-1"],
                            capture_output=True, text=True)
    assert result.returncode == 2
    assert "expected a positive number of seconds, got '-1'" in result.stderr


def test_render_follows_a_midi_clock_trace(tmp_path, capsys):
    # 125 BPM is 50 clocks a second, so every clock lands on a frame at 50 fps
    lines = [f"{k / 50:.2f} clock" for k in range(48)]
    lines = ["0.00 start"] + lines + ["0.94 stop", "1.10 songpos pos=32", "1.50 continue"]
    lines += [f"{1.5 + k / 50:.2f} clock" for k in range(25)]
    trace = tmp_path / "trace.txt"
    trace.write_text("\n".join(lines) + "\n")
    status, table, _ = rendered(capsys, CLUB, "--seconds", "2", "--fps", "50",
                                  "--midi-clock", trace)
    assert status == 0
    pips = [int(row[2]) for row in table[1::6]]     # one row a frame: the first fixture
    expected = ([n * 8 // 3 for n in range(48)] + [125] * 7 + [512] * 20
                + [512 + n * 8 // 3 for n in range(25)])
    assert pips == expected


def test_render_refuses_a_bad_trace(tmp_path, capsys):
    trace = tmp_path / "trace.txt"
    trace.write_text("0.0 start\n0.1 tick\n")
    status, table, err = rendered(capsys, CLUB, "--seconds", "1", "--midi-clock", trace)
    assert (status, table) == (2, [])
    assert err.startswith("render: ") and "trace.txt:2: not a MIDI clock message" in err


def test_render_defaults_to_the_show_fps_and_refuses_lengths_it_cannot_mean(capsys):
    show = load_show(CLUB)
    status, table, _ = rendered(capsys, CLUB, "--seconds", "1")
    assert status == 0 and len(table) - 1 == show.fps * len(show.fixtures)
    limit = show.clock.tempo_map().seconds_at(Fraction(2**31, 64))
    status, table, err = rendered(capsys, CLUB, "--seconds", "1e400")
    assert (status, table) == (2, [])
    assert err == (f"render: --seconds: expected at most {float(limit):.6g} for this show "
                   "(its pips leave 32 bits after that)\n")
    for argument, value, message in [
            ("--seconds", "1e99999999", "expected a number of seconds, got '1e99999999'"),
            ("--seconds", "\u0661", "expected a number of seconds, got '\u0661'"),
            ("--fps", "\u0661\u0660", "expected frames a second from 1 to 1000, got"),
            ("--seconds", "-1", "expected a positive number of seconds, got '-1'")]:
        with pytest.raises(argparse.ArgumentTypeError, match=message):
            {"--seconds": render._seconds, "--fps": render._fps}[argument](value)


def test_render_streams_its_frames():
    show = load_show(CLUB)
    tracemalloc.start()
    try:
        for seconds in (1, 500):
            tracemalloc.reset_peak()
            first = list(itertools.islice(render.rows(show, Fraction(seconds), 1000), 50))
            peaks = tracemalloc.get_traced_memory()[1]
            assert len(first) == 50 and peaks < 2_000_000
    finally:
        tracemalloc.stop()
