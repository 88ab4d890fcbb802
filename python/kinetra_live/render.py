"""`render SHOW --seconds S`: the show offline, frame by frame, as CSV on standard output.

Frame n is at exactly n/F seconds. Its pip comes from the show's tempo map, or from a MIDI
clock trace played into the clock follower; every fixture of a frame sees that pip. Columns:
frame, seconds, pip, fixture, pattern, fixture_pip, x, y, z (the pattern's exact sample,
before transforms), then the crossfade's (if the show has one) and each output's values.
"""

from __future__ import annotations

import argparse
import csv
import math
import sys
from fractions import Fraction
from pathlib import Path

from . import followed
from . import show as shows
from .midi_clock import MidiClockFollower, read_trace
from .outputs import mapping
from .sampler import Sampler
from .timebase import exact

HEADER = ("frame", "seconds", "pip", "fixture", "pattern", "fixture_pip", "x", "y", "z")
FADE_HEADER = ("fade_to", "fade_weight", "fade_x", "fade_y", "fade_z")
DEFAULT_FPS = 50

EXAMPLE = """example:
  python -m kinetra_live render examples/shows/club.toml --seconds 8 > club.csv
  python -m kinetra_live render show.toml --seconds 4 --midi-clock trace.txt"""


def _seconds(text: str) -> Fraction:
    try:
        value = exact(text, "seconds")
    except (TypeError, ValueError, ZeroDivisionError):
        raise argparse.ArgumentTypeError(f"expected a number of seconds, got {text!r}")
    if value <= 0:
        raise argparse.ArgumentTypeError(f"expected a positive number of seconds, got {text!r}")
    return value


def _fps(text: str) -> int:
    if not text.isdigit() or not 1 <= int(text) <= 1000:
        raise argparse.ArgumentTypeError(f"expected frames a second from 1 to 1000, got {text!r}")
    return int(text)


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.epilog = EXAMPLE
    parser.formatter_class = argparse.RawDescriptionHelpFormatter
    parser.add_argument("show", type=Path, help="the show file (TOML)")
    parser.add_argument("--seconds", type=_seconds, required=True, help="length of the render")
    parser.add_argument("--fps", type=_fps, default=DEFAULT_FPS,
                        help=f"frames a second (default {DEFAULT_FPS})")
    parser.add_argument("--midi-clock", type=Path, metavar="TRACE",
                        help="a MIDI clock trace (seconds, a blank, the message) to follow "
                             "instead of the show's tempo map")
    parser.add_argument("--timecode", type=Path, metavar="TRACE",
                        help="a timecode trace (seconds, then hh:mm:ss:ff [fps] or an MTC "
                             "message) to chase through the show's songs")
    parser.add_argument("--audio", type=Path, metavar="TRACK",
                        help="analyse an audio file and render to its beats")


def _pips(show: shows.Show, trace: list | None, times, follower=None):
    """The pip of each time, in order."""
    if trace is None:
        tempo_map = show.clock.tempo_map()
        for seconds in times:
            yield tempo_map.pip_at(seconds)
        return
    follower, events = follower or MidiClockFollower(), iter(trace)
    pending = next(events, None)
    for seconds in times:
        while pending is not None and pending[0] <= seconds:
            follower.feed(*pending)
            pending = next(events, None)
        yield follower.pip_at(seconds)


def rows(show: shows.Show, seconds: Fraction, fps: int, trace: list | None = None,
         follower=None):
    """The CSV rows of a render, header first."""
    sampler = Sampler(show)
    fades = any(f.crossfade is not None for f in show.fixtures)
    yield HEADER + (FADE_HEADER if fades else ()) + tuple(
        column for output in show.outputs for column in mapping.columns(output))
    count = math.ceil(seconds * fps)
    times = [Fraction(n, fps) for n in range(count)]
    for n, (time, pip) in enumerate(zip(times, _pips(show, trace, times, follower))):
        at = repr(float(time))
        for fixture, state in zip(show.fixtures, sampler.frame(pip).fixtures):
            row = [n, at, pip, state.name, state.pattern, state.fixture_pip,
                   *map(repr, state.raw)]
            if fades:
                fade = state.fade
                row += (["", "", "", "", ""] if fade is None else
                        [fade.to, repr(fade.weight), *map(repr, fade.raw)])
            for output in show.outputs:
                row += mapping.column_values(output, fixture, state.out)
            yield row


def main(args: argparse.Namespace) -> int:
    try:
        show = shows.load_show(args.show)
    except shows.ShowError as exc:
        print(f"render: {exc}", file=sys.stderr)
        return 2
    trace = follower = None
    if args.midi_clock is not None:
        try:
            trace = read_trace(args.midi_clock)
        except (OSError, ValueError) as exc:
            print(f"render: {exc}", file=sys.stderr)
            return 2
    try:
        show, trace, follower = followed.prepare(show, args, trace)
    except (OSError, ValueError) as exc:
        print(f"render: {exc}", file=sys.stderr)
        return 2
    writer = csv.writer(sys.stdout, lineterminator="\n")
    try:
        for row in rows(show, args.seconds, args.fps, trace, follower):
            writer.writerow(row)
        sys.stdout.flush()
    except BrokenPipeError:
        # the reader stopped early (`| head`): not a failure of the render
        sys.stdout = None
    return 0
