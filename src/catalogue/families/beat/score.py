"""A style's score as the beat motions read it: hits by lane, grouped by role."""

from __future__ import annotations

import math
from collections.abc import Mapping

from catalogue_data import DataError
from ..kit import plain_sum

LANES = ("kick", "snare", "clap", "rim", "closed_hat", "open_hat", "ride", "crash", "shaker",
         "tom_low", "tom_mid", "tom_high", "conga", "bell", "clave", "perc", "bass", "log_drum")

PERCUSSION = ("rim", "tom_low", "tom_mid", "tom_high", "conga", "bell", "clave", "perc")
FLUTTER = ("closed_hat", "open_hat", "ride", "shaker")
DEPTH = ("bass", "log_drum", "crash")

# A snare hit this quiet is a ghost note, not a backbeat.
GHOST_VELOCITY = 0.45


class Score:
    """Hits of one style: `lanes[name]` is a list of (pip, velocity) in pip order."""

    def __init__(self, style: str, raw: dict, period: int):
        self.style = style
        self.period = period
        where = f"score {style}"
        if raw.get("period_pips") != period:
            raise DataError(f"{where}: period_pips is {raw.get('period_pips')!r}, "
                            f"the catalogue says {period}")
        self.bpm = raw.get("bpm")
        lanes = raw.get("lanes")
        if not isinstance(lanes, Mapping) or not lanes:
            raise DataError(f"{where}: no [lanes]")
        self.lanes: dict[str, list[tuple[int, float]]] = {}
        for name, hits in lanes.items():
            if name not in LANES:
                raise DataError(f"{where}: unknown lane {name!r}")
            parsed = []
            for hit in hits:
                if (not isinstance(hit, list) or len(hit) != 2 or type(hit[0]) is not int
                        or isinstance(hit[1], bool) or not isinstance(hit[1], (int, float))):
                    raise DataError(f"{where}: lane {name}: a hit is [pip, velocity], got {hit!r}")
                pip, vel = hit[0], float(hit[1])
                if not 0 <= pip < period or not 0.0 < vel <= 1.0:
                    raise DataError(f"{where}: lane {name}: hit {hit!r} is outside the loop "
                                    "or its velocity outside (0, 1]")
                if parsed and pip <= parsed[-1][0]:
                    raise DataError(f"{where}: lane {name}: hits must ascend by pip ({hit!r})")
                parsed.append((pip, vel))
            if parsed:
                self.lanes[name] = parsed
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
        """Side-accent hits: the snares, or the claps where the style has no snare."""
        for name in ("snare", "clap"):
            if name in self.lanes:
                return self.lanes[name]
        return []

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
