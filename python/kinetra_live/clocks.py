"""Clock sources, and the internal clock: a tempo map run from `time.monotonic_ns`.

Every clock reads its time source with `now()` (exact seconds) and answers `beat_at`,
`pip_at`, `bpm_at` and `running_at` for such a time, so a frame reads the clock once and every
fixture of it sees the same pip.

The internal clock counts show time from its start: the show's tempo map, beat 0 at the start.
- `tap()`: the tempo becomes the mean interval of the last `TAP_COUNT` taps, re-anchored at
  the current beat (rounded to 1/1000 BPM); a tap more than `TAP_PAUSE_SECONDS` after the
  last one starts a new count.
  A tapped tempo takes over from the show's scored tempo changes.
- `nudge(ms)`: moves the phase ms milliseconds ahead (or back) by bending the tempo by at most
  an eighth until it has moved, so pips never step back.
- `latency_ms`: every answer is for the time L ms ahead, so output sent now lands in time.
- `start(quantise)`: beat 0 now, at the next beat or at the next bar (`beats_per_bar`) of the
  running count; until then the clock is not running and counts in with negative beats. The
  show's tempo map starts again, or the live tempo runs on if one was tapped or set.
"""

from __future__ import annotations

import copy
import math
import time
from fractions import Fraction
from typing import Callable

from .timebase import TempoMap, exact

TAP_COUNT = 8
TAP_PAUSE_SECONDS = 2
# Tapped tempos are rounded to a thousandth of a BPM: a raw tapped tempo brings a new factor
# into the denominator of every later beat, and a long set would slow down exact arithmetic.
TAP_BPM_GRID = 1000


class InternalClock:
    name = "internal"

    def __init__(self, bpm_or_tempo_map: object, *, latency_ms: object = 0,
                 now_ns: Callable[[], int] = time.monotonic_ns, beats_per_bar: int = 4):
        if isinstance(bpm_or_tempo_map, TempoMap):
            self._score = copy.deepcopy(bpm_or_tempo_map)
        else:
            self._score = TempoMap(bpm_or_tempo_map)
        if isinstance(beats_per_bar, bool) or not isinstance(beats_per_bar, int) \
                or beats_per_bar < 1:
            raise ValueError(f"beats_per_bar: expected a positive integer, got {beats_per_bar!r}")
        self._latency = exact(latency_ms, "latency_ms") / 1000
        self._now_ns = now_ns
        self._beats_per_bar = beats_per_bar
        self._taps: list[Fraction] = []
        self._live_tempo = False
        self._origin = self.now()
        self._offset = self._latency - self._origin
        self._map = copy.deepcopy(self._score)

    def now(self) -> Fraction:
        return Fraction(self._now_ns(), 1_000_000_000)

    def _show_time(self, seconds: object) -> Fraction:
        return exact(seconds, "seconds") + self._offset


    def show_seconds(self, seconds: object) -> Fraction:
        """Seconds of the show's tempo map at `seconds` of `now()` (latency included)."""
        return self._show_time(seconds)

    @property
    def tempo_map(self) -> TempoMap:
        """The tempo map being played, in show seconds; live control edits it."""
        return self._map

    def beat_at(self, seconds: object) -> Fraction:
        return self._map.beat_at(self._show_time(seconds))

    def pip_at(self, seconds: object) -> int:
        return self._map.pip_at(self._show_time(seconds))

    def bpm_at(self, seconds: object) -> Fraction:
        return self._map.bpm_at(self._show_time(seconds))

    def running_at(self, seconds: object) -> bool:
        return self._show_time(seconds) >= 0

    def set_bpm(self, bpm: object) -> None:
        self._map.set_tempo(self._show_time(self.now()), bpm)
        self._live_tempo = True

    def nudge(self, ms: object) -> None:
        self._map.nudge(self._show_time(self.now()), ms)

    def tap(self) -> None:
        now = self.now()
        if self._taps and (now - self._taps[-1] > TAP_PAUSE_SECONDS or now <= self._taps[-1]):
            self._taps.clear()
        self._taps = self._taps[-(TAP_COUNT - 1):] + [now]
        if len(self._taps) >= 2:
            interval = (self._taps[-1] - self._taps[0]) / (len(self._taps) - 1)
            bpm = Fraction(round(60 / interval * TAP_BPM_GRID), TAP_BPM_GRID)
            self._map.set_tempo(self._show_time(now), bpm)
            self._live_tempo = True

    def start(self, quantise: str | None = None) -> None:
        """Beat 0 now, or at the next "beat" or "bar" of the running count, at today's tempo."""
        if quantise not in (None, "beat", "bar"):
            raise ValueError(f"quantise: expected None, 'beat' or 'bar', got {quantise!r}")
        now = self._show_time(self.now())
        bpm = self._map.bpm_at(now)
        if quantise is None:
            # the show time of this instant, not of the latency ahead: the clock keeps
            # answering L ms ahead of its new start
            at = now - self._latency
        else:
            unit = 1 if quantise == "beat" else self._beats_per_bar
            boundary = math.ceil(self._map.beat_at(now) / unit) * unit
            at = self._map.seconds_at(boundary)
        self._origin += at
        self._offset = self._latency - self._origin
        self._map = TempoMap(bpm) if self._live_tempo else copy.deepcopy(self._score)

    def close(self) -> None:
        pass
