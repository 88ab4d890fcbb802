"""The live state of one fixture: where its pattern comes from, its pip, its transforms.

A fixture's pip is whole-pip arithmetic on the show's pip: `anchor + floor((pip - since) *
speed) + phase`. A speed change re-anchors at the pip it happens, so the motion is continuous
and the phase (the fixture's offset plus its group's spread) is never touched: fixtures that
share a speed keep their offsets exactly through every tempo and speed change. A fixture pip
may leave 32 bits (a long show, a large phase): a pattern's source folds it into the loop.
"""

from __future__ import annotations

import math
from fractions import Fraction
from typing import Callable

from . import names
from . import show as shows
from .quoting import quote
from .timebase import PIPS_PER_BEAT, exact, pip_of

Triple = tuple[float, float, float]


def pattern_source(show: shows.Show, name: str) -> Callable[[int], Triple | None]:
    """pip -> (x, y, z) for a default pattern, a pack pattern or a pack recording, at any
    integer pip; None once a recording has ended."""
    return names.source(_entry(show, name), show.pack)


def _entry(show: shows.Show, name: str) -> names.Entry:
    entry = names.resolve(name, show.pack)
    if entry is None:
        raise ValueError(f"unknown pattern {quote(name)}")
    return entry


Matrix = tuple[Triple, Triple, Triple]


def transform_matrix(fixture: shows.Fixture) -> Matrix | None:
    """Swap, invert and scale per axis, then rotate about z, folded into one matrix, so a frame
    costs nine products a fixture (the sampler applies it, then keeps each axis within
    [-1, 1]); None for the identity, which costs nothing."""
    order = [0, 1, 2]
    if fixture.swap is not None:
        a, b = (shows.AXES.index(axis) for axis in fixture.swap)
        order[a], order[b] = order[b], order[a]
    gains = [(-s if inv else s) for s, inv in zip(fixture.scale, fixture.invert)]
    angle = math.radians(fixture.rotate_degrees)
    cos, sin = math.cos(angle), math.sin(angle)
    if fixture.rotate_degrees % 90 == 0:
        # quarter turns are exact, so 90 degrees swaps x and y without a stray 6e-17
        cos, sin = round(cos), round(sin)
    rotation = ((cos, -sin, 0.0), (sin, cos, 0.0), (0.0, 0.0, 1.0))
    # out = R * G * P * raw, with P picking raw[order[i]] for axis i
    matrix = tuple(tuple(sum(rotation[r][k] * (gains[k] if order[k] == c else 0.0)
                             for k in range(3)) for c in range(3)) for r in range(3))
    return None if matrix == ((1.0, 0.0, 0.0), (0.0, 1.0, 0.0), (0.0, 0.0, 1.0)) else matrix


class Fade:
    """A crossfade to another pattern, from `start_pip` over `span_pips` of the show."""

    __slots__ = ("to", "source", "start_pip", "span")

    def __init__(self, show: shows.Show, to: str, start_pip: int, beats: Fraction):
        self.to, self.source = to, pattern_source(show, to)
        self.start_pip = start_pip
        self.span = Fraction(beats) * PIPS_PER_BEAT

    def weight(self, pip: int) -> float:
        if pip <= self.start_pip:
            return 0.0
        # exact integers divided once: a correctly rounded weight
        done = (pip - self.start_pip) * self.span.denominator
        return 1.0 if done >= self.span.numerator else done / self.span.numerator


class FixtureRig:
    """One fixture of a running show."""

    # counts changes of any rig's pattern or fade, so that a sampler looks again for the rigs
    # that need more than a pattern's sample only when one has changed
    edits = 0

    __slots__ = ("spec", "name", "pattern", "source", "fold", "phase", "own_phase", "matrix",
                 "fade", "_since", "_anchor", "_num", "_den")

    def __init__(self, show: shows.Show, fixture: shows.Fixture):
        self.spec, self.name = fixture, fixture.name
        self.fade = None
        self._play(show, fixture.pattern)
        self.phase = show.phase_of(fixture)
        self.own_phase = fixture.phase_pips     # the rest of the phase is its group's spread
        self.matrix = transform_matrix(fixture)
        self._since, self._anchor = 0, 0
        self._num, self._den = fixture.speed.numerator, fixture.speed.denominator
        fade = fixture.crossfade
        if fade is not None:
            self.fade = Fade(show, fade.to, pip_of(fade.at_beat), fade.beats)
            FixtureRig.edits += 1

    def _play(self, show: shows.Show, name: str) -> None:
        # the sampler calls `fold` where it has one, `source` for a recording
        entry = _entry(show, name)
        self.pattern, self.source = name, names.source(entry, show.pack)
        self.fold = names.fold(entry, show.pack)
        FixtureRig.edits += 1

    @property
    def speed(self) -> Fraction:
        return Fraction(self._num, self._den)

    def fixture_pip(self, pip: int) -> int:
        return self._anchor + (pip - self._since) * self._num // self._den + self.phase

    def set_speed(self, pip: int, speed: Fraction) -> None:
        """Play at `speed` from `pip` on, continuing from where the fixture is at `pip`."""
        speed = exact(speed, "speed")
        if not 0 < speed <= shows.MAX_SPEED:
            raise ValueError(f"speed: expected a ratio above 0 and at most {shows.MAX_SPEED}")
        self._anchor = self.fixture_pip(pip) - self.phase
        self._since, self._num, self._den = pip, speed.numerator, speed.denominator

    def cut(self, show: shows.Show, to: str) -> None:
        """Play `to` from now on, at the fixture pip it is at; a crossfade under way ends."""
        self._play(show, to)
        self.fade = None

    def crossfade(self, show: shows.Show, pip: int, to: str, beats: Fraction) -> None:
        """Fade from what plays at `pip` to `to` over `beats`; a finished fade's target
        becomes the pattern it starts from."""
        if names.resolve(to, show.pack) is None:
            raise ValueError(f"unknown pattern {quote(to)}")
        beats = exact(beats, "beats")
        if beats <= 0:
            raise ValueError("beats: expected a positive number of beats")
        if self.fade is not None and self.fade.weight(pip) >= 0.5:
            self._play(show, self.fade.to)
        self.fade = Fade(show, to, pip, beats)
        FixtureRig.edits += 1
