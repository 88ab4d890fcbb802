"""Sticking studies: R/L strokes as sideways swells with a dip, then the hand-swapped answer."""

from __future__ import annotations

import math

from catalogue_data import DataError, RecipeMissing

from ._common import PI

HANDS = {"R": 1, "L": -1}
# A stroke of height p dips to -0.72 * p, as the drum rudiments do.
DIP = 0.72


def strokes(row, params, legato):
    """(onset, hand, height, length) of every stroke over the loop, the answer included."""
    groups = params["sticking"].split()
    slots = "".join(groups)
    if set(slots) - set("RL-") or any(g[0] == "-" for g in groups):
        raise DataError(f"{row.name}: a sticking is R, L and -, and every group starts on a stroke")
    half = row.period_pips // 2
    n = len(slots)
    starts = [(2 * half * i + n) // (2 * n) for i in range(n + 1)]
    leads = set()
    at = 0
    for g in groups:
        leads.add(at)
        at += len(g)
    call = [(starts[i], HANDS[h], params["accent"] if i in leads else params["tap"],
             int(legato * (starts[i + 1] - starts[i]) + 0.5)) for i, h in enumerate(slots) if h != "-"]
    return call + [(onset + half, -hand, height, length) for onset, hand, height, length in call]


def stick(row, data):
    params = data.get(row.name)
    if params is None:
        raise RecipeMissing(row.name)
    xs = [0.0] * row.period_pips
    ys = [0.0] * row.period_pips
    for onset, hand, height, length in strokes(row, params, data["legato"]):
        for d in range(length):
            v = math.sin(d / length * PI)
            env = (v * height) * v
            k = (onset + d) % row.period_pips
            xs[k] += hand * env
            ys[k] -= env * DIP
    return [(x, y, 0.0) for x, y in zip(xs, ys)]


RECIPES = {"stick": stick}
