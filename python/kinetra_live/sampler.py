"""One sampler for every consumer: `run`, `render` and the preview all take their positions
from `Sampler.frame`, so what the preview shows is what the outputs send.

A frame is sampled at one pip of the show; every fixture of the frame sees that same pip.
A fixture whose recording has ended (the recording it plays, or the one a crossfade mixes in
while it still counts) is parked: raw and out are its park position, and the sampler logs a
warning on the `kinetra_live` logger, once a fixture.
"""

from __future__ import annotations

import functools
import logging
from fractions import Fraction
from typing import NamedTuple

from . import names as pattern_names
from . import show as shows
from .quoting import quote
from .rig import FixtureRig, Triple
from .timebase import exact

log = logging.getLogger("kinetra_live")


# Named tuples: immutable like frozen dataclasses, and several times cheaper to make, which
# counts at thousands of fixtures a frame.
class FadeState(NamedTuple):
    to: str
    weight: float
    raw: Triple         # the target pattern at the fixture's pip, before transforms


class FixtureState(NamedTuple):
    name: str
    pattern: str
    fixture_pip: int
    raw: Triple         # exactly the pattern's sample at fixture_pip
    out: Triple         # after the crossfade and the fixture's transforms
    fade: FadeState | None


# a named tuple made from a tuple without its Python-level __new__
_new_state = functools.partial(tuple.__new__, FixtureState)


class Frame:
    """The fixtures at one pip: `outs` (each fixture's out, in the show's order) is what the
    outputs send; `fixtures`, each fixture's whole state, is made the first time it is read,
    since a live frame that only sends never needs it."""

    __slots__ = ("pip", "outs", "_fixtures", "_columns")

    def __init__(self, pip: int, fixtures: tuple[FixtureState, ...]):
        self.pip, self._fixtures, self._columns = pip, tuple(fixtures), None
        self.outs = tuple(state.out for state in self._fixtures)

    @classmethod
    def _sampled(cls, pip: int, outs: tuple[Triple, ...], columns) -> "Frame":
        """A frame of the sampler's columns: names, patterns, fixture pips, raws, fades."""
        frame = cls.__new__(cls)
        frame.pip, frame.outs, frame._fixtures, frame._columns = pip, outs, None, columns
        return frame

    @property
    def fixtures(self) -> tuple[FixtureState, ...]:
        if self._fixtures is None:
            names, patterns, pips, raws, fades = self._columns
            self._fixtures = tuple(map(_new_state,
                                       zip(names, patterns, pips, raws, self.outs, fades)))
        return self._fixtures

    # what the named tuple it replaces gave
    def __iter__(self):
        return iter((self.pip, self.fixtures))

    def _replace(self, **changes) -> "Frame":
        given = {"pip": self.pip, "fixtures": self.fixtures, **changes}
        return Frame(given["pip"], given["fixtures"])

    def __eq__(self, other):
        if not isinstance(other, Frame):
            return NotImplemented
        return self.pip == other.pip and self.fixtures == other.fixtures

    __hash__ = None

    def __repr__(self) -> str:
        return f"Frame(pip={self.pip!r}, fixtures={self.fixtures!r})"


class Sampler:
    def __init__(self, show: shows.Show):
        self.show = show
        self.rigs = tuple(FixtureRig(show, fixture) for fixture in show.fixtures)
        self._by_name = {rig.name: rig for rig in self.rigs}
        self._names = tuple(rig.name for rig in self.rigs)
        # a fixture's transform is fixed for the show
        self._transformed = tuple((index, rig.matrix) for index, rig in enumerate(self.rigs)
                                  if rig.matrix is not None)
        self._told: set[str] = set()
        self._edits, self._special, self._folds, self._patterns = None, (), None, ()

    def _rigs(self, names) -> tuple[FixtureRig, ...]:
        if names is None:
            return self.rigs
        groups = {group.name: group.fixtures for group in self.show.groups}
        picked = []
        for name in [names] if isinstance(names, str) else names:
            if name in groups:
                picked.extend(self._by_name[member] for member in groups[name])
            elif name in self._by_name:
                picked.append(self._by_name[name])
            else:
                raise ValueError(f"no fixture or group is named {quote(name)}")
        return tuple(picked)

    def set_speed(self, pip: int, speed: Fraction | int | str, names=None) -> None:
        """Change the speed of fixtures (all, or the named fixtures and groups) from `pip`."""
        speed = exact(speed, "speed")
        if not 0 < speed <= shows.MAX_SPEED:
            raise ValueError(f"speed: expected a ratio above 0 and at most {shows.MAX_SPEED}")
        for rig in self._rigs(names):
            rig.set_speed(pip, speed)

    def crossfade(self, pip: int, to: str, beats: Fraction | int | str, names=None) -> None:
        rigs = self._rigs(names)
        if pattern_names.resolve(to, self.show.pack) is None:
            raise ValueError(f"unknown pattern {quote(to)}")
        beats = exact(beats, "beats")
        if beats <= 0:
            raise ValueError("beats: expected a positive number of beats")
        for rig in rigs:
            rig.crossfade(self.show, pip, to, beats)

    def frame(self, pip: int) -> Frame:
        rigs = self.rigs
        if self._edits != FixtureRig.edits:
            self._edits = FixtureRig.edits
            # the fixtures that fade or play a recording (which may end), where there is no
            # recording every fixture's fold, and what each plays
            self._special = tuple(index for index, rig in enumerate(rigs)
                                  if rig.fade is not None or rig.fold is None)
            folds = tuple(rig.fold for rig in rigs)
            self._folds = None if None in folds else folds
            self._patterns = tuple(rig.pattern for rig in rigs)
        # FixtureRig.fixture_pip, inlined
        pips = [rig._anchor + (pip - rig._since) * rig._num // rig._den + rig.phase
                for rig in rigs]
        # a pattern's module call without a call of its source around it
        if self._folds is not None:
            raws = [sample(name, p % period).as_tuple()
                    for (sample, name, period), p in zip(self._folds, pips)]
        else:
            raws = [rig.source(p) if (fold := rig.fold) is None else
                    fold[0](fold[1], p % fold[2]).as_tuple() for rig, p in zip(rigs, pips)]
        patterns = list(self._patterns)
        fades = [None] * len(rigs)
        # a fixture that neither fades nor has ended, nor transforms, sends its raw sample
        outs = raws.copy()
        parked = ()
        if self._special:
            parked = set()
            for index in self._special:
                rig, raw = rigs[index], raws[index]
                if raw is None or rig.fade is not None:
                    patterns[index], raws[index], mixed, fades[index] = self._mix(
                        rig, pip, pips[index], raw)
                    if mixed is None:       # parked: the park position, as it is
                        outs[index] = raws[index]
                        parked.add(index)
                    else:
                        outs[index] = mixed
        for index, matrix in self._transformed:
            if index in parked:
                continue
            x, y, z = outs[index]
            (a, b, c), (d, e, f), (g, h, i) = matrix
            u, v, w = a * x + b * y + c * z, d * x + e * y + f * z, g * x + h * y + i * z
            # within [-1, 1]: min(max(u, -1.0), 1.0), NaN included, at a third of its cost
            outs[index] = (-1.0 if u < -1.0 else 1.0 if u > 1.0 else u,
                           -1.0 if v < -1.0 else 1.0 if v > 1.0 else v,
                           -1.0 if w < -1.0 else 1.0 if w > 1.0 else w)
        return Frame._sampled(pip, tuple(outs), (self._names, patterns, pips, raws, fades))

    def _mix(self, rig: FixtureRig, pip: int, fixture_pip: int, raw: Triple | None
             ) -> tuple[str, Triple, Triple | None, FadeState | None]:
        """(pattern, raw, the position before transforms or None if parked, fade) of a fixture
        that fades or whose recording has ended."""
        park = rig.spec.park
        fade = rig.fade
        if fade is None:
            self._parked(rig, rig.pattern, fixture_pip)
            return rig.pattern, park, None, None
        weight = fade.weight(pip)
        target = fade.source(fixture_pip)
        if raw is None or target is None:
            if (raw is None and weight < 1.0) or (target is None and weight > 0.0):
                self._parked(rig, rig.pattern if raw is None and weight < 1.0 else fade.to,
                             fixture_pip)
                return rig.pattern, park, None, FadeState(fade.to, weight, target or park)
            raw, target = raw or park, target or park   # the ended one does not count
        if weight == 1.0:
            # a finished fade plays its target: name it and give its sample
            return fade.to, target, target, FadeState(fade.to, weight, target)
        keep = 1.0 - weight
        mixed = (keep * raw[0] + weight * target[0], keep * raw[1] + weight * target[1],
                 keep * raw[2] + weight * target[2])
        return rig.pattern, raw, mixed, FadeState(fade.to, weight, target)

    def _parked(self, rig: FixtureRig, ended: str, fixture_pip: int) -> None:
        if rig.name not in self._told:
            self._told.add(rig.name)
            log.warning("fixture %s: recording %s ended before fixture pip %d; the fixture is "
                        "parked", quote(rig.name), quote(ended), fixture_pip)
