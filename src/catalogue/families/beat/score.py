"""A style's score as the beat motions read it: hits by lane, grouped by role."""

from __future__ import annotations

import math
from collections.abc import Mapping
from typing import NamedTuple

from catalogue_data import DataError
from ..kit import PIPS_PER_BEAT, plain_sum

LANES = ("kick", "snare", "clap", "rim", "closed_hat", "open_hat", "ride", "crash", "shaker",
         "tom_low", "tom_mid", "tom_high", "conga", "bell", "clave", "perc", "bass", "log_drum")

PERCUSSION = ("rim", "tom_low", "tom_mid", "tom_high", "conga", "bell", "clave", "perc")
FLUTTER = ("closed_hat", "open_hat", "ride", "shaker")
DEPTH = ("bass", "log_drum", "crash")

# Lanes whose notes may hold, sit at a pitch and slide: [pip, velocity, length],
# [pip, velocity, length, pitch] or [pip, velocity, length, pitch, slide, slide_pips]. Pitch and
# slide are semitones, the pitch from the line's root, the slide from the note's pitch, reached at
# the note's end.
HELD = ("bass", "log_drum")
# Lowest and highest pitch a note may sit or slide to: an octave below the root, two above.
PITCH_RANGE = (-12.0, 24.0)
# A snare hit this quiet is a ghost note, not a backbeat.
GHOST_VELOCITY = 0.45
BAR = 4 * PIPS_PER_BEAT


class Note(NamedTuple):
    pip: int
    velocity: float
    length: int
    pitch: float
    slide: float
    slide_pips: int


class Score:
    """Hits of one style: `lanes[name]` is a list of (pip, velocity) in pip order."""

    def __init__(self, style: str, raw: dict, period: int):
        self.style = style
        self.period = period
        where = f"score {style}"
        if raw["period_pips"] != period:
            raise DataError(f"{where}: period_pips is {raw['period_pips']!r}, "
                            f"the catalogue says {period}")
        self.bpm = raw["bpm"]
        # Only a variant names the style it varies; the key is absent from every other score.
        self.variant_of = raw["variant_of"] if "variant_of" in raw else None
        if self.variant_of is not None and (not isinstance(self.variant_of, str)
                                            or self.variant_of == style):
            raise DataError(f"{where}: variant_of names another style, got {self.variant_of!r}")
        lanes = raw["lanes"]
        if not isinstance(lanes, Mapping) or not lanes:
            raise DataError(f"{where}: no [lanes]")
        self.lanes: dict[str, list[tuple[int, float]]] = {}
        self.notes: dict[str, list[Note]] = {}
        for name, hits in lanes.items():
            if name not in LANES:
                raise DataError(f"{where}: unknown lane {name!r}")
            notes = [_note(f"{where}: lane {name}", hit, period, name in HELD) for hit in hits]
            for a, b in zip(notes, notes[1:]):
                if b.pip <= a.pip:
                    raise DataError(f"{where}: lane {name}: hits must ascend by pip "
                                    f"({list(b[:2])!r})")
                if b.pip < a.pip + a.length:
                    raise DataError(f"{where}: lane {name}: the note at {a.pip} lasts past "
                                    f"the next at {b.pip}")
            if notes and notes[-1].pip + notes[-1].length > notes[0].pip + period:
                raise DataError(f"{where}: lane {name}: the last note lasts past the first")
            if notes:
                self.lanes[name] = [(n.pip, n.velocity) for n in notes]
                self.notes[name] = notes
        if not self.lanes:
            raise DataError(f"{where}: every lane is empty")

    def hits(self, *names: str) -> list[tuple[int, float]]:
        """Hits of the named lanes merged in pip order; one hit per pip, the loudest."""
        at: dict[int, float] = {}
        for name in names:
            for pip, vel in self.lanes.get(name, ()):
                if vel > at.get(pip, 0.0):
                    at[pip] = vel
        return sorted(at.items())

    def kicks(self) -> list[tuple[int, float]]:
        """Downstroke hits: the kicks, or where a style has none, its loudest lane."""
        if "kick" in self.lanes:
            return self.lanes["kick"]
        return max(self.lanes.values(), key=lambda h: (plain_sum(v for _, v in h), len(h)))

    def backbeat(self) -> list[tuple[int, float]]:
        """Side-accent hits: snares and claps, and rims that carry a backbeat.

        A rim played on a beat after the one, loud enough not to be a ghost, is the backbeat
        of styles that voice it on the rim (rockers, afro house, clave grooves).
        """
        rims = [h for h in self.lanes.get("rim", ()) if _on_backbeat(h)]
        merged = dict(rims)
        for pip, vel in self.hits("snare", "clap"):
            merged[pip] = max(vel, merged.get(pip, 0.0))
        return sorted(merged.items())

    def strong_backbeats(self) -> list[int]:
        """Pips of the backbeats every motion must answer, unmoved by finer detail."""
        return [pip for pip, vel in self.backbeat() if _on_backbeat((pip, vel))]

    def held(self, *names: str) -> list[Note]:
        """Notes of the named held lanes in pip order; the loudest where two coincide."""
        at: dict[int, Note] = {}
        for name in names:
            for note in self.notes.get(name, ()):
                if note.pip not in at or note.velocity > at[note.pip].velocity:
                    at[note.pip] = note
        return [at[k] for k in sorted(at)]

    def percussion(self) -> list[tuple[int, float]]:
        """Percussion hits, less the rims that carry the backbeat: those answer as the
        backbeat, once."""
        at: dict[int, float] = {}
        for name in PERCUSSION:
            for hit in self.lanes.get(name, ()):
                if hit[1] > at.get(hit[0], 0.0) and not (name == "rim" and _on_backbeat(hit)):
                    at[hit[0]] = hit[1]
        return sorted(at.items())

    def backbeat_or_kicks(self) -> list[tuple[int, float]]:
        """The backbeat, or every other kick for a style that has none."""
        return self.backbeat() or self.kicks()[1::2] or self.kicks()

    def non_kick(self) -> list[tuple[int, float]]:
        return self.hits(*(n for n in LANES if n != "kick"))

    def everything(self) -> list[tuple[int, float]]:
        return self.hits(*LANES)

    def onsets(self) -> list[tuple[int, float]]:
        """Struck onsets for gestures that answer hit by hit: everything but the flutter lanes."""
        return self.hits(*(n for n in LANES if n not in FLUTTER)) or self.everything()

    def weighted(self) -> list[tuple[int, float]]:
        """Every hit with its lane's weight, softened by velocity, in pip order.

        The square root keeps quiet hits (ghost notes, hats) visible beside the loud ones.
        """
        out = [(pip, math.sqrt(vel) * _weight(name))
               for name, hits in self.lanes.items() for pip, vel in hits]
        return sorted(out)


def _on_backbeat(hit: tuple[int, float]) -> bool:
    pip, vel = hit
    return vel >= GHOST_VELOCITY and pip % PIPS_PER_BEAT == 0 and pip % BAR != 0


def _note(where: str, hit, period: int, held: bool) -> Note:
    """One hit of a lane; only the held lanes may give a length, a pitch and a slide."""
    shape = ("[pip, velocity, length, pitch, slide, slide_pips]" if held else "[pip, velocity]")
    sizes = (2, 3, 4, 6) if held else (2,)
    if (not isinstance(hit, list) or len(hit) not in sizes
            or any(type(v) is not int for v in hit[:1] + hit[2:3] + hit[5:6])
            or any(isinstance(v, bool) or not isinstance(v, (int, float))
                   for v in hit[1:2] + hit[3:5])):
        raise DataError(f"{where}: a hit is {shape}, got {hit!r}")
    pip, vel = hit[0], float(hit[1])
    if not 0 <= pip < period or not 0.0 < vel <= 1.0:
        raise DataError(f"{where}: hit {hit!r} is outside the loop "
                        "or its velocity outside (0, 1]")
    length = hit[2] if len(hit) > 2 else 0
    pitch = float(hit[3]) if len(hit) > 3 else 0.0
    slide, slide_pips = (float(hit[4]), hit[5]) if len(hit) > 5 else (0.0, 0)
    low, high = PITCH_RANGE
    if length < 0 or not 0 <= slide_pips <= length:
        raise DataError(f"{where}: hit {hit!r}: a length of 0 or more, a slide over at most "
                        "the note's length")
    if not (low <= pitch <= high and low <= pitch + slide <= high):
        raise DataError(f"{where}: hit {hit!r}: pitch and slide stay within {low:+g} and "
                        f"{high:+g} semitones of the root")
    if (slide == 0.0) != (slide_pips == 0):
        raise DataError(f"{where}: hit {hit!r}: a slide needs both a target and a time")
    return Note(pip, vel, length, pitch, slide, slide_pips)


def _weight(lane: str) -> float:
    """How much a lane's hit weighs in event-weighted motion."""
    if lane == "kick":
        return 1.0
    if lane in ("snare", "clap"):
        return 0.8
    if lane in DEPTH:
        return 0.7
    if lane in PERCUSSION:
        return 0.6
    return 0.4
