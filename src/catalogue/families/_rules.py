"""Helpers shared by the closed-rule rows: numbers in a row's name and summed event bumps."""

from __future__ import annotations

import math
import re

from ._common import PI


def name_numbers(name: str) -> list[int]:
    """The integers written in a row's name, in order (`weave_3_7` gives [3, 7])."""
    return [int(n) for n in re.findall(r"\d+", name)]


def add_bumps(sums: list[list[float]], period: int, events) -> None:
    """Add raised-cosine bumps into per-axis accumulators, in event order.

    Each event is (pip, half_width, vector). The distance from an event is folded into
    [-P/2, P/2) by whole loops, which is exact, so a bump that crosses the end of the loop
    continues at its start. Only the pips a bump touches are visited; an untouched pip would
    only receive zeros, which leave a sum started at +0.0 unchanged.
    """
    half = period / 2
    for at, width, vector in events:
        for pip in range(math.floor(at - width), math.ceil(at + width) + 1):
            k = pip % period
            d = k - at
            if d >= half:
                d -= period
            elif d < -half:
                d += period
            if not -width < d < width:
                continue
            bump = 0.5 + 0.5 * math.cos(PI * d / width)
            for axis, component in enumerate(vector):
                sums[axis][k] += component * bump
