"""`analyse TRACK`: the `[clock]` section that puts every beat of a recording on a whole beat.

The tracker (beat_tracking) gives constant-tempo pieces of the track's beat grid; the clock is
their tempo map: `bpm` of the first piece, `beat_zero_seconds` at the first downbeat, and a
tempo change at the first beat of every later piece. Tempos are rounded to a thousandth of a
BPM and the downbeat to a tenth of a millisecond, which over ten minutes moves a beat by well
under a millisecond. Reads WAV, FLAC and OGG through soundfile; needs the `audio` extra.
"""

from __future__ import annotations

import argparse
import math
import sys
from dataclasses import dataclass, replace
from fractions import Fraction
from pathlib import Path

from .timebase import TempoMap

BPM_GRID = 1000
SECONDS_GRID = 10000
EXAMPLE = """example:
  python -m kinetra_live analyse track.flac --bpm-range 160:190 >> show.toml
  python -m kinetra_live analyse track.wav --beats beats.txt"""


class AudioError(ValueError):
    """An audio file that cannot be read or has no beat to follow."""


@dataclass(frozen=True)
class Clock:
    bpm: Fraction
    beat_zero_seconds: Fraction
    tempo_changes: tuple[tuple[int, Fraction], ...]

    def tempo_map(self) -> TempoMap:
        return TempoMap.from_beat_changes(self.bpm, self.tempo_changes,
                                          beat_zero_seconds=self.beat_zero_seconds)

    def toml(self) -> str:
        changes = ", ".join(f"[{beat}, {_decimal(bpm)}]" for beat, bpm in self.tempo_changes)
        return ("[clock]\n"
                f"bpm = {_decimal(self.bpm)}\n"
                f"beat_zero_seconds = {_decimal(self.beat_zero_seconds)}\n"
                + (f"tempo_changes = [{changes}]\n" if changes else ""))


def _decimal(value: Fraction) -> str:
    text = f"{float(value):.4f}".rstrip("0")
    return text + "0" if text.endswith(".") else text


def bpm_range(text: str) -> tuple[float, float]:
    low, colon, high = text.partition(":")
    try:
        lo, hi = float(low), float(high)
    except ValueError:
        lo = hi = math.nan
    if not colon or not (0 < lo < hi <= 1000):
        raise argparse.ArgumentTypeError(f"expected LO:HI with 0 < LO < HI <= 1000, got {text!r}")
    return lo, hi


def clock_of(analysis) -> Clock:
    """The analysis' pieces as a clock: beat 0 at the first downbeat."""
    down = analysis.downbeat
    pieces = analysis.segments
    current = max(i for i, piece in enumerate(pieces) if piece[0] <= down)
    first, start, bpm = pieces[current]
    zero = start + (down - first) * 60 / bpm
    changes = tuple((p[0] - down, Fraction(round(p[2] * BPM_GRID), BPM_GRID))
                    for p in pieces[current + 1:])
    return Clock(Fraction(round(bpm * BPM_GRID), BPM_GRID),
                 Fraction(round(zero * SECONDS_GRID), SECONDS_GRID), changes)


def analyse_samples(samples, rate: int, bpm_range=None, beats_per_bar: int = 4) -> Clock:
    from . import beat_tracking
    return clock_of(beat_tracking.analyse(
        samples, rate, bpm_range or beat_tracking.DEFAULT_BPM_RANGE, beats_per_bar))


def read_audio(path: Path | str):
    """(mono samples, rate) of an audio file; AudioError if it cannot be read."""
    try:
        import soundfile
    except ImportError as exc:    # also when libsndfile is missing
        raise AudioError(f"reading audio needs the `audio` extra ({exc})") from None
    try:
        samples, rate = soundfile.read(str(path), dtype="float32", always_2d=True)
    except (OSError, RuntimeError, soundfile.LibsndfileError) as exc:
        raise AudioError(f"{path}: cannot read audio: {exc}") from None
    return samples.mean(axis=1), rate


def analyse_file(path: Path | str, bpm_range=None, beats_per_bar: int = 4) -> tuple[Clock, float]:
    """The clock of an audio file and its length in seconds; AudioError if it has none."""
    from . import beat_tracking
    samples, rate = read_audio(path)
    try:
        return analyse_samples(samples, rate, bpm_range, beats_per_bar), len(samples) / rate
    except beat_tracking.NoPulse as exc:
        raise AudioError(f"{path}: {exc}") from None


def beat_times(clock: Clock, seconds: float) -> list[tuple[float, int]]:
    """(seconds, beat number) of every whole beat from 0 to `seconds`."""
    tempo_map = clock.tempo_map()
    beat, out = math.ceil(tempo_map.beat_at(0)), []
    while (at := tempo_map.seconds_at(beat)) < seconds:
        out.append((float(at), beat))
        beat += 1
    return out


def with_clock(show, clock: Clock):
    """The show with the analysed clock in place of its own tempo map."""
    return replace(show, clock=replace(show.clock, source="internal", bpm=clock.bpm,
                                       tempo_changes=clock.tempo_changes,
                                       beat_zero_seconds=clock.beat_zero_seconds))


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.epilog = EXAMPLE
    parser.formatter_class = argparse.RawDescriptionHelpFormatter
    parser.add_argument("track", type=Path, help="the audio file (WAV, FLAC, OGG)")
    parser.add_argument("--bpm-range", type=bpm_range, metavar="LO:HI",
                        help="the tempo lies in this range (default 90:180); less than an "
                             "octave wide, it settles half and double tempo")
    parser.add_argument("--beats-per-bar", type=int, default=4, metavar="N",
                        choices=range(1, 17), help="beats in a bar, for the first downbeat")
    parser.add_argument("--beats", type=Path, metavar="FILE",
                        help="also write every beat, one a line: seconds, beat number")


def main(args: argparse.Namespace) -> int:
    try:
        clock, seconds = analyse_file(args.track, args.bpm_range, args.beats_per_bar)
    except AudioError as exc:
        print(f"analyse: {exc}", file=sys.stderr)
        return 2
    if args.beats is not None:
        try:
            args.beats.write_text("".join(f"{at:.4f} {beat}\n"
                                          for at, beat in beat_times(clock, seconds)))
        except OSError as exc:
            print(f"analyse: --beats: {exc}", file=sys.stderr)
            return 2
    sys.stdout.write(clock.toml())
    return 0
