"""Musical time from seconds, exactly: a tempo map of constant-tempo segments.

Every value is an exact `Fraction` (seconds, beats, beats per minute), so a position depends
only on the edits made to the map, never on rounding. A segment starts at a time and a beat and
runs at one tempo until the next segment; before the first segment the first tempo runs
backwards, so beats and pips there are negative.

Edits at a time s keep the beat continuous at s:
- `set_tempo` re-anchors at the current beat; it replaces everything the map had after s (a
  live tempo takes over from a scored tempo change still to come).
- `nudge` shifts the phase by a number of milliseconds at the current tempo without ever
  stepping back: the tempo bends by at most an eighth (`NUDGE_BEND`) until the phase has
  moved, so a nudge of 20 ms takes 160 ms. A nudge during a bend starts when that bend ends,
  so bends never stack and pips never run faster than 9/8 or slower than 7/8 of the tempo.
  What the map had after the bend keeps its times, its beats shifted by the nudge; a tempo
  change or a seek drops what is left of a bend.
- `downbeat` makes a moment the start of a bar: it drops what is left of any bend, then bends
  the phase to the nearest bar start over one beat, forward, or back when that is shorter and
  less than a beat (a longer way back would need the pips to stop or reverse).
- `seek` is the only edit that may move the beat backwards; the current tempo runs on from it.
"""

from __future__ import annotations

import bisect
import math
import re
from fractions import Fraction
from numbers import Rational

from .quoting import quote

PIPS_PER_BEAT = 64
NUDGE_BEND = Fraction(1, 8)


# A number given as text is at most this long, its decimal exponent at most this large:
# Fraction("1e999999999") would build 10**999999999 exactly, which takes hours.
MAX_NUMBER_TEXT = 64
MAX_EXPONENT = 400
_NUMBER = re.compile(r"[+-]?(?:[0-9]+/[0-9]+|(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE]([+-]?[0-9]+))?)",
                     re.ASCII)


def exact(value: object, what: str) -> Fraction:
    """The exact value of an int, a Fraction, a decimal string or a float (read as its text,
    so 174.1 is 1741/10, not the nearest binary double). Text takes ASCII digits only, at most
    MAX_NUMBER_TEXT characters and an exponent of at most MAX_EXPONENT either way; every
    refusal is a ValueError or a TypeError naming `what`."""
    if type(value) is Fraction:
        return value
    if type(value) is int:
        return Fraction(value)
    if isinstance(value, bool):
        raise TypeError(f"{what}: expected a number, got {value!r}")
    if isinstance(value, Rational):
        return Fraction(value)
    if isinstance(value, float):
        if not math.isfinite(value):
            raise ValueError(f"{what}: expected a finite number, got {value!r}")
        return Fraction(repr(value))
    if isinstance(value, str):
        text = value.strip()
        match = _NUMBER.fullmatch(text) if len(text) <= MAX_NUMBER_TEXT else None
        if match is None:
            raise ValueError(f"{what}: expected a number, got {quote(value)}")
        if match[1] is not None and abs(int(match[1])) > MAX_EXPONENT:
            raise ValueError(f"{what}: expected an exponent from -{MAX_EXPONENT} to "
                             f"{MAX_EXPONENT}, got {quote(value)}")
        try:
            return Fraction(text)
        except ZeroDivisionError:
            raise ValueError(f"{what}: expected a number, got {quote(value)} "
                             f"(a ratio over zero)") from None
    raise TypeError(f"{what}: expected a number, got {quote(value)}")


def _tempo(bpm: object) -> Fraction:
    bpm = exact(bpm, "bpm")
    if bpm <= 0:
        raise ValueError(f"bpm: expected a positive tempo, got {bpm}")
    return bpm


def pip_of(beat: Fraction | int) -> int:
    """The pip a beat falls in: floor(beat * 64), towards minus infinity also below zero."""
    return math.floor(beat * PIPS_PER_BEAT)


class TempoMap:
    """Beats as a continuous, piecewise linear function of seconds."""

    __slots__ = ("_times", "_beats", "_bpms", "_bends")

    def __init__(self, bpm: object, *, anchor_seconds: object = 0, anchor_beat: object = 0):
        self._times = [exact(anchor_seconds, "anchor_seconds")]
        self._beats = [exact(anchor_beat, "anchor_beat")]
        self._bpms = [_tempo(bpm)]
        # (start, end, added bpm) of every bend not yet known to be over, oldest first
        self._bends: list[tuple[Fraction, Fraction, Fraction]] = []

    @classmethod
    def from_beat_changes(cls, bpm: object, changes=(), *,
                          beat_zero_seconds: object = 0) -> TempoMap:
        """The map of a score: `bpm` from beat 0 at `beat_zero_seconds`, then each (beat, bpm)
        in turn, the beats strictly increasing and not below 0."""
        tempo_map = cls(bpm, anchor_seconds=beat_zero_seconds)
        for index, change in enumerate(changes):
            try:
                beat, new_bpm = change
            except (TypeError, ValueError):
                raise ValueError(f"tempo change {index}: expected [beat, bpm]") from None
            beat, new_bpm = exact(beat, f"tempo change {index}"), _tempo(new_bpm)
            last = tempo_map._beats[-1]
            if beat < 0 or (index and beat <= last):
                raise ValueError(f"tempo change {index}: beat {beat} must be above {last}"
                                 if index else f"tempo change 0: beat {beat} is negative")
            seconds = tempo_map.seconds_at(beat)
            if index == 0 and beat == 0:
                tempo_map._bpms[0] = new_bpm
            else:
                tempo_map._append(seconds, beat, new_bpm)
        return tempo_map

    def _segment(self, seconds: Fraction) -> int:
        # Live reads are nearly always in the newest segment.
        if seconds >= self._times[-1]:
            return len(self._times) - 1
        return max(bisect.bisect_right(self._times, seconds) - 1, 0)

    def _append(self, seconds: Fraction, beat: Fraction, bpm: Fraction) -> None:
        self._times.append(seconds)
        self._beats.append(beat)
        self._bpms.append(bpm)

    def _cut(self, seconds: Fraction) -> int:
        """Drop every segment that starts at or after `seconds` (keeping at least the first)
        and return how many remain."""
        keep = max(bisect.bisect_left(self._times, seconds), 1)
        self._bends = [(a, min(b, seconds), r) for a, b, r in self._bends if a < seconds < b]
        del self._times[keep:], self._beats[keep:], self._bpms[keep:]
        return keep

    def _split(self, seconds: Fraction) -> int:
        """Make a segment start exactly at `seconds` and return its index."""
        index = bisect.bisect_left(self._times, seconds)
        if index < len(self._times) and self._times[index] == seconds:
            return index
        beat, bpm = self.beat_at(seconds), self.bpm_at(seconds)
        self._times.insert(index, seconds)
        self._beats.insert(index, beat)
        self._bpms.insert(index, bpm)
        return index

    def beat_at(self, seconds: object) -> Fraction:
        seconds = exact(seconds, "seconds")
        i = self._segment(seconds)
        return self._beats[i] + (seconds - self._times[i]) * self._bpms[i] / 60

    def pip_at(self, seconds: object) -> int:
        # pip_of(beat_at(seconds)) in integers: this is the read every frame makes.
        seconds = exact(seconds, "seconds")
        i = self._segment(seconds)
        start, beat, bpm = self._times[i], self._beats[i], self._bpms[i]
        elapsed = seconds.numerator * start.denominator - start.numerator * seconds.denominator
        scale = seconds.denominator * start.denominator * bpm.denominator * 60
        moved = elapsed * bpm.numerator * beat.denominator + beat.numerator * scale
        return moved * PIPS_PER_BEAT // (scale * beat.denominator)

    def bpm_at(self, seconds: object) -> Fraction:
        return self._bpms[self._segment(exact(seconds, "seconds"))]

    def seconds_at(self, beat: object) -> Fraction:
        """The latest time the map is at `beat` (after a seek back, the time it plays next)."""
        beat = exact(beat, "beat")
        i = len(self._times) - 1
        while i > 0 and self._beats[i] > beat:
            i -= 1
        return self._times[i] + (beat - self._beats[i]) * 60 / self._bpms[i]

    def set_tempo(self, seconds: object, bpm: object) -> None:
        seconds, bpm = exact(seconds, "seconds"), _tempo(bpm)
        beat = self.beat_at(seconds)
        if self._cut(seconds) == 1 and seconds <= self._times[0]:
            self._times[0], self._beats[0], self._bpms[0] = seconds, beat, bpm
        else:
            self._append(seconds, beat, bpm)

    def tempo_at(self, seconds: object) -> Fraction:
        """The tempo at `seconds` without the bend a nudge or a downbeat adds to it."""
        seconds = exact(seconds, "seconds")
        return self.bpm_at(seconds) - sum(r for a, b, r in self._bends if a <= seconds < b)

    def nudge(self, seconds: object, ms: object) -> None:
        """Move the phase `ms` milliseconds of the current tempo ahead (or back, if negative)."""
        seconds, ms = exact(seconds, "seconds"), exact(ms, "ms")
        if ms == 0:
            return
        now = seconds
        if self._bends and self._bends[-1][1] > seconds:
            seconds = self._bends[-1][1]
        shift = ms / 1000 * self.bpm_at(seconds) / 60
        # The bend lasts long enough that it adds or takes at most NUDGE_BEND of the slowest
        # tempo it spans; a longer bend may span slower segments, so widen until it settles.
        duration = abs(shift) * 60 / (NUDGE_BEND * self.bpm_at(seconds))
        while True:
            wider = abs(shift) * 60 / (NUDGE_BEND * self._slowest(seconds, duration))
            if wider == duration:
                break
            duration = wider
        self._bend(seconds, shift, duration, now)

    def downbeat(self, seconds: object, beats_per_bar: int) -> Fraction:
        """Make `seconds` the start of a bar of `beats_per_bar` beats; the shift in beats."""
        seconds = exact(seconds, "seconds")
        self._unbend(seconds)
        into = self.beat_at(seconds) % beats_per_bar
        if into == 0:
            return Fraction(0)
        duration = 60 / self.bpm_at(seconds)
        shift = Fraction(beats_per_bar) - into
        # back only while every tempo the bend spans stays above zero
        if into < 1 and into <= shift and \
                self._slowest(seconds, duration) > into * 60 / duration:
            shift = -into
        self._bend(seconds, shift, duration)
        return shift

    def _slowest(self, seconds: Fraction, duration: Fraction) -> Fraction:
        first, last = self._segment(seconds), self._segment(seconds + duration)
        return min(self._bpms[first:last + 1])

    def _bend(self, seconds: Fraction, shift: Fraction, duration: Fraction,
              now: Fraction | None = None) -> None:
        """Add `shift` beats evenly over `duration` seconds from `seconds`. Bends over by `now`
        (by default `seconds`) are forgotten; one queued behind another keeps it, so a later
        downbeat can still take both out."""
        now = seconds if now is None else now
        self._bends = [b for b in self._bends if b[1] > now]
        start, end = self._split(seconds), self._split(seconds + duration)
        bend = shift * 60 / duration
        self._bends.append((seconds, seconds + duration, bend))
        for i in range(start, end):
            self._beats[i] += bend * (self._times[i] - seconds) / 60
            self._bpms[i] += bend
        for i in range(end, len(self._times)):
            self._beats[i] += shift

    def _unbend(self, seconds: Fraction) -> None:
        """Take out what is left after `seconds` of every bend."""
        for begun, end, bend in self._bends:
            if end <= seconds:
                continue
            begun = max(begun, seconds)
            start, stop = self._split(begun), self._split(end)
            for i in range(start, stop):
                self._beats[i] -= bend * (self._times[i] - begun) / 60
                self._bpms[i] -= bend
            for i in range(stop, len(self._times)):
                self._beats[i] -= bend * (end - begun) / 60
        self._bends = [(a, b, r) for a, b, r in self._bends if b <= seconds]

    def seek(self, seconds: object, beat: object) -> None:
        seconds, beat = exact(seconds, "seconds"), exact(beat, "beat")
        bpm = self.bpm_at(seconds)
        if self._cut(seconds) == 1 and seconds <= self._times[0]:
            self._times[0], self._beats[0], self._bpms[0] = seconds, beat, bpm
        else:
            self._append(seconds, beat, bpm)

    def __repr__(self) -> str:
        segments = ", ".join(f"({t}, {b}, {m})" for t, b, m in
                             zip(self._times, self._beats, self._bpms))
        return f"TempoMap(segments=[{segments}])"


def quantum_of(loop_pips) -> int:
    """The network session's default quantum in beats: the least common multiple of the
    loop lengths (in pips, exact ratios accepted for loops under a speed change) and of one
    beat, so every loop of the show is in phase wherever the session's phase is. 4 (a bar)
    when the show has no loops."""
    # The lcm of ratios n/d is lcm(n) / gcd(d), and one beat (64/1) makes that gcd 1.
    pips, lengths = PIPS_PER_BEAT, 0
    for lengths, length in enumerate(loop_pips, 1):
        length = exact(length, f"loop length {lengths - 1}")
        if length <= 0:
            raise ValueError(f"loop length {lengths - 1}: expected a positive length, "
                             f"got {length}")
        pips = math.lcm(pips, length.numerator)
    return pips // PIPS_PER_BEAT if lengths else 4
