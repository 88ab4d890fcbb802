"""`render SHOW --seconds S`: the show offline, frame by frame, as CSV on standard output.

Frame n is at exactly n/F seconds (F is the show's `fps` unless given). Its pip comes from
the show's tempo map, or from a MIDI clock trace played into the clock follower; every fixture
of a frame sees that pip. Frames are made and written one at a time, so memory does not grow
with the length of a render. With `--control FILE` the events a `run` recorded are applied at
their times, so the render is the set as it was played. Columns:
frame, seconds, pip, fixture, pattern, fixture_pip, x, y, z (the pattern's exact sample,
before transforms), then the crossfade's (if the show has one) and each output's values.
"""

from __future__ import annotations

import argparse
import csv
import math
import re
import sys
from fractions import Fraction
from pathlib import Path

from . import control as controls
from . import exports, followed
from . import show as shows
from .delays import RenderTiming
from .midi_clock import MidiClockFollower, Trace, TraceError, read_trace
from .outputs.degrees import HeadRig
from .quoting import one_line, quote
from .sampler import Sampler
from .timebase import PIPS_PER_BEAT, exact

HEADER = ("frame", "seconds", "pip", "fixture", "pattern", "fixture_pip", "x", "y", "z")
FADE_HEADER = ("fade_to", "fade_weight", "fade_x", "fade_y", "fade_z")
# A length in ASCII digits, a decimal with a short exponent or a ratio: anything longer than
# this cannot be a duration anyone means, and a long exponent would take minutes to read.
SECONDS = re.compile(r"(\d+(\.\d*)?|\.\d+)([eE][+-]?\d{1,3})?|\d+/\d+", re.ASCII)
SECONDS_LENGTH = 40
MAX_FPS = 1000
# The last pip a show can play: pips are signed 32-bit.
LAST_PIP = 2**31 - 1

EXAMPLE = """example:
  python -m kinetra_live render examples/shows/club.toml --seconds 8 > club.csv
  python -m kinetra_live render show.toml --seconds 4 --midi-clock trace.txt
  python -m kinetra_live render show.toml --seconds 300 --control set.txt
  python -m kinetra_live render show.toml --seconds 60 --format gltf --out show.glb
  python -m kinetra_live render show.toml --seconds 60 --format midi --out show.mid"""


def _seconds(text: str) -> Fraction:
    if text.startswith("-"):
        raise argparse.ArgumentTypeError(
            f"expected a positive number of seconds, got {quote(text)}")
    value = None
    if len(text) <= SECONDS_LENGTH and SECONDS.fullmatch(text):
        try:
            value = exact(text, "seconds")
        except (TypeError, ValueError, ZeroDivisionError):
            pass
    if value is None:
        raise argparse.ArgumentTypeError(f"expected a number of seconds, got {quote(text)}")
    if value <= 0:
        raise argparse.ArgumentTypeError(
            f"expected a positive number of seconds, got {quote(text)}")
    return value


def _fps(text: str) -> int:
    if not (text.isascii() and text.isdigit()) or not 1 <= int(text) <= MAX_FPS:
        raise argparse.ArgumentTypeError(
            f"expected frames a second from 1 to {MAX_FPS}, got {quote(text)}")
    return int(text)


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.epilog = EXAMPLE
    parser.formatter_class = argparse.RawDescriptionHelpFormatter
    parser.add_argument("show", type=Path, help="the show file (TOML)")
    parser.add_argument("--seconds", type=_seconds, required=True, help="length of the render")
    parser.add_argument("--fps", type=_fps, help="frames a second (default: the show's fps)")
    parser.add_argument("--midi-clock", type=Path, metavar="TRACE",
                        help="a MIDI clock trace (seconds, a blank, the message) to follow "
                             "instead of the show's tempo map")
    parser.add_argument("--control", type=Path, metavar="FILE",
                        help="events to apply at their times, as `run --record-control` "
                             "writes them")
    parser.add_argument("--timecode", type=Path, metavar="TRACE",
                        help="a timecode trace (seconds, then hh:mm:ss:ff [fps] or an MTC "
                             "message) to chase through the show's songs")
    parser.add_argument("--audio", type=Path, metavar="TRACK",
                        help="analyse an audio file and render to its beats")
    exports.add_arguments(parser)


def _timed_pips(show: shows.Show, trace: Trace | None, times, controller=None, control=(),
                tempo_map=None, follower=MidiClockFollower):
    """(time, pip) of each time, in order. The controller's events are applied each at its
    time, after the clock messages up to that time; `tempo_map` is one they edit; a trace is
    fed to a new `follower()`, a MIDI clock's unless it is a timecode trace."""
    if trace is None:
        timeline = controls.MapTimeline(tempo_map or show.clock.tempo_map())
        clock = iter(())
    else:
        follower = follower()
        timeline, clock = controls.ClockTimeline(follower, Fraction(0)), iter(trace)
    if controller is not None:
        controller.timeline = timeline
    pending, events = next(clock, None), iter(control)
    event = next(events, None)
    for seconds in times:
        while True:
            until = seconds if event is None or event.seconds > seconds else event.seconds
            while pending is not None and pending[0] <= until:
                follower.feed(*pending)
                pending = next(clock, None)
            if event is None or event.seconds > seconds:
                break
            try:
                controller.apply(event.seconds, event.event)
            except controls.NotApplied as exc:
                raise controls.ControlFileError(f"{event.number}: {exc}") from None
            event = next(events, None)
        yield seconds, timeline.pip_at(seconds)


def last_seconds(show: shows.Show) -> Fraction:
    """The latest time the show's tempo map is still within 32-bit pips."""
    return show.clock.tempo_map().seconds_at(Fraction(LAST_PIP + 1, PIPS_PER_BEAT))


def frame_count(seconds: Fraction, fps: int) -> int:
    return math.ceil(seconds * fps)


def frames(show: shows.Show, seconds: Fraction, fps: int, trace: Trace | None = None,
           heads: HeadRig | None = None, control=(), follower=MidiClockFollower):
    """(n, pip, frame, head angles, {output: (frame, head angles)} or None) of each frame of a
    render, made one at a time: what `rows` writes and the exports keep. `control` is the
    lines of a control file, applied at their times."""
    controller = controls.Controller(show, Sampler(show), None)
    heads = HeadRig(show, fps) if heads is None else heads
    timing = RenderTiming(show, fps, heads)
    # one stream of pips for each output's delay and each fixture's lead
    offsets = [Fraction(0)] if timing.offsets.none else timing.offsets.distinct
    count = frame_count(seconds, fps)
    # Every stream reads the tempo map the events edit; the undelayed one applies them (the
    # streams ahead of it come after it in this order).
    shared = show.clock.tempo_map() if trace is None else None
    streams = [_timed_pips(show, trace, map(Fraction(offset).__add__,
                                            (Fraction(n, fps) for n in range(count))),
                           controller if offset == 0 else None, control if offset == 0 else (),
                           shared, follower)
               for offset in offsets]
    for n, timed in enumerate(zip(*streams)):
        pips = {offset: pip for offset, (_, pip) in zip(offsets, timed)}
        controller.settle(min(pips.values()))
        yield (n, pips[0], *timing.frame(controller, pips.__getitem__))


def rows(show: shows.Show, seconds: Fraction, fps: int, trace: Trace | None = None,
         heads: HeadRig | None = None, control=(), follower=MidiClockFollower):
    """The CSV rows of a render, header first, made one frame at a time; `heads` keeps what
    the moving heads did; `control` is the lines of a control file."""
    heads = HeadRig(show, fps) if heads is None else heads
    fades = any(f.crossfade is not None for f in show.fixtures) or any(
        line.event.kind == "crossfade" for line in control) or any(
        target.fade_beats is not None for cue in show.cues for target in cue.targets)
    yield HEADER + (FADE_HEADER if fades else ()) + tuple(
        column for output in show.outputs for column in heads.columns(output))
    for n, pip, frame, angles, sent in frames(show, seconds, fps, trace, heads, control,
                                              follower):
        at = repr(float(Fraction(n, fps)))
        for i, (fixture, state) in enumerate(zip(show.fixtures, frame.fixtures)):
            row = [n, at, pip, state.name, state.pattern, state.fixture_pip,
                   *map(repr, state.raw)]
            if fades:
                fade = state.fade
                row += (["", "", "", "", ""] if fade is None else
                        [fade.to, repr(fade.weight), *map(repr, fade.raw)])
            for output in show.outputs:
                out, head = state.out, angles[i]
                if sent is not None:
                    out, head = sent[output.name][0].fixtures[i].out, sent[output.name][1][i]
                row += heads.column_values(output, fixture, out, head)
            yield row


def main(args: argparse.Namespace) -> int:
    try:
        show = shows.load_show(args.show)
    except shows.ShowError as exc:
        print(f"render: {exc}", file=sys.stderr)
        return 2
    fps = show.fps if args.fps is None else args.fps
    trace = None
    if args.midi_clock is not None:
        try:
            trace = read_trace(args.midi_clock)
        except OSError as exc:
            print(f"render: --midi-clock: {args.midi_clock}: {exc.strerror or exc}",
                  file=sys.stderr)
            return 2
        except ValueError as exc:
            print(f"render: --midi-clock: {exc}", file=sys.stderr)
            return 2
    try:
        show, trace, follower = followed.prepare(show, args, trace)
    except (OSError, ValueError) as exc:
        print(f"render: {one_line(str(exc))}", file=sys.stderr)
        return 2
    follower = follower or MidiClockFollower
    if trace is None:
        limit = last_seconds(show)
        if args.seconds > limit:
            print(f"render: --seconds: expected at most {float(limit):.6g} for this show "
                  f"(its pips leave 32 bits after that)", file=sys.stderr)
            return 2
    control = []
    if args.control is not None:
        if exports.wanted(args):
            print("render: --control: applies to the CSV render only", file=sys.stderr)
            return 2
        try:
            control = controls.read_control(args.control, show, tempo=trace is None)
        except controls.ControlFileError as exc:
            print(f"render: --control: {exc}", file=sys.stderr)
            return 2
    if exports.wanted(args):
        return exports.main(show, args, fps, trace, follower)
    writer = csv.writer(sys.stdout, lineterminator="\n")
    heads = HeadRig(show, fps)
    try:
        for row in rows(show, args.seconds, fps, trace, heads, control, follower):
            writer.writerow(row)
        sys.stdout.flush()
    except BrokenPipeError:
        # the reader stopped early (`| head`): not a failure of the render
        sys.stdout = None
    except (OSError, TraceError) as exc:
        # the trace changed or went away after it was checked
        print(f"render: --midi-clock: {exc}", file=sys.stderr)
        return 2
    except controls.ControlFileError as exc:
        print(f"render: --control: {one_line(str(args.control), 200)}:{exc}", file=sys.stderr)
        return 2
    for line in heads.report():
        print(f"render: {line}", file=sys.stderr)
    return 0
