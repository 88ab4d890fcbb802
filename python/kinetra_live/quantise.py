"""Quantise points: the show pips at which a change waits to take effect.

`now` is every pip; `beat` every 64; `bar` every beats-per-bar beats; a number N every N beats
(a whole number of pips, so the points stay on pips); `loop` the pips at which the fixture
concerned starts a new loop of the pattern it plays, at its own speed and phase. Points
count from pip 0, so a bar point is a bar start of the show's count.
"""

from __future__ import annotations

import math
from fractions import Fraction
from typing import NamedTuple

from .quoting import quote
from .timebase import PIPS_PER_BEAT, exact

NAMED = ("now", "beat", "bar", "loop")
# a point every 65,536 beats is more than any set needs, and keeps the pips in 32 bits
MAX_BEATS = 1 << 16


class Quantise(NamedTuple):
    kind: str                   # one of NAMED, or "beats"
    beats: Fraction | None      # for "beats"

    @property
    def text(self) -> str:
        return str(self.beats) if self.kind == "beats" else self.kind


def parse_quantise(value: object) -> Quantise:
    """"now", "beat", "bar", "loop", or a number of beats (an integer, or text such as
    "1/2") that is a whole number of pips; ValueError says why not."""
    if isinstance(value, str) and value in NAMED:
        return Quantise(value, None)
    expected = ("expected \"now\", \"beat\", \"bar\", \"loop\" or a number of beats, "
                f"got {quote(value)}")
    if isinstance(value, bool) or not isinstance(value, (int, str)):
        raise ValueError(expected)
    try:
        beats = exact(value, "quantise")
    except (TypeError, ValueError):
        raise ValueError(expected) from None
    if not 0 < beats <= MAX_BEATS or (beats * PIPS_PER_BEAT).denominator != 1:
        raise ValueError(f"expected a number of beats above 0 and at most {MAX_BEATS} that is "
                         f"a whole number of pips (1/64 of a beat), got {quote(value)}")
    return Quantise("beats", beats)


def grid_point(pip: int, every: int) -> int:
    """The first multiple of `every` pips at or after `pip`."""
    return -(-pip // every) * every


def loop_point(pip: int, rig, loop: int) -> int:
    """The first show pip at or after `pip` at which `rig` is at a multiple of `loop` fixture
    pips or has just passed one (a fixture faster than one pip a pip may step over it)."""
    at = rig.fixture_pip(pip)
    if at % loop == 0:
        return pip
    # the whole fixture pips still to go: the first q with floor((q - since) * num / den)
    # at or past the next multiple of the loop
    target = (at // loop + 1) * loop - rig._anchor - rig.phase
    return max(pip, rig._since + math.ceil(Fraction(target * rig._den, rig._num)))


def point(quantise: Quantise, pip: int, beats_per_bar: int, rig=None, loop: int = 0) -> int:
    """The first quantise point at or after `pip`; "loop" needs the rig and its loop."""
    if quantise.kind == "now":
        return pip
    if quantise.kind == "beat":
        return grid_point(pip, PIPS_PER_BEAT)
    if quantise.kind == "bar":
        return grid_point(pip, PIPS_PER_BEAT * beats_per_bar)
    if quantise.kind == "beats":
        return grid_point(pip, int(quantise.beats * PIPS_PER_BEAT))
    return loop_point(pip, rig, loop)
