"""One sampler for every consumer: `run`, `render` and the preview all take their positions
from `Sampler.frame`, so what the preview shows is what the outputs send.

A frame is sampled at one pip of the show; every fixture of the frame sees that same pip.
A fixture whose recording has ended (the recording it plays, or the one a crossfade mixes in
while it still counts) is parked: raw and out are its park position, and the sampler logs a
warning on the `kinetra_live` logger, once a fixture.
"""

from __future__ import annotations

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


class Frame(NamedTuple):
    pip: int
    fixtures: tuple[FixtureState, ...]


class Sampler:
    def __init__(self, show: shows.Show):
        self.show = show
        self.rigs = tuple(FixtureRig(show, fixture) for fixture in show.fixtures)
        self._by_name = {rig.name: rig for rig in self.rigs}
        self._told: set[str] = set()

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
        states = []
        append = states.append
        for rig in self.rigs:
            # FixtureRig.fixture_pip, inlined
            fixture_pip = rig._anchor + (pip - rig._since) * rig._num // rig._den + rig.phase
            raw = rig.source(fixture_pip)
            fade = rig.fade
            if fade is None:
                if raw is None:
                    append(self._parked(rig, rig.pattern, fixture_pip, None))
                    continue
                append(FixtureState(rig.name, rig.pattern, fixture_pip, raw,
                                    rig.transform(raw), None))
                continue
            weight = fade.weight(pip)
            target = fade.source(fixture_pip)
            if raw is None or target is None:
                park = rig.spec.park
                if (raw is None and weight < 1.0) or (target is None and weight > 0.0):
                    ended = rig.pattern if raw is None and weight < 1.0 else fade.to
                    append(self._parked(rig, ended, fixture_pip,
                                        FadeState(fade.to, weight, target or park)))
                    continue
                raw, target = raw or park, target or park   # the ended one does not count
            if weight == 1.0:
                # a finished fade plays its target: name it and give its sample
                append(FixtureState(rig.name, fade.to, fixture_pip, target,
                                    rig.transform(target), FadeState(fade.to, weight, target)))
                continue
            keep = 1.0 - weight
            mixed = (keep * raw[0] + weight * target[0], keep * raw[1] + weight * target[1],
                     keep * raw[2] + weight * target[2])
            append(FixtureState(rig.name, rig.pattern, fixture_pip, raw, rig.transform(mixed),
                                FadeState(fade.to, weight, target)))
        return Frame(pip, tuple(states))

    def _parked(self, rig: FixtureRig, ended: str, fixture_pip: int,
                fade: FadeState | None) -> FixtureState:
        if rig.name not in self._told:
            self._told.add(rig.name)
            log.warning("fixture %s: recording %s ended before fixture pip %d; the fixture is "
                        "parked", quote(rig.name), quote(ended), fixture_pip)
        park = rig.spec.park
        return FixtureState(rig.name, rig.pattern, fixture_pip, park, park, fade)
