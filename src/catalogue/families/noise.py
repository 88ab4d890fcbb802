"""Noise: the noise_ rows, hashed control points joined by closed splines."""

from __future__ import annotations

import hashlib
import math

from .kit import PEAK, TAU, finish, plain_sum, spline_loop


def hashed(name: str, index: int) -> list[float]:
    """Eight numbers in [-1, 1) for one control point, from SHA-256 of name and index."""
    digest = hashlib.sha256(f"{name}:{index}".encode()).digest()
    return [int.from_bytes(digest[4 * j:4 * j + 4], "big") / 2 ** 31 - 1 for j in range(8)]


def _orbit(h, i, n, p):
    angle = TAU * (i + p["jitter"] * h[0]) / n
    r = p["radius"] + p["wobble"] * h[1]
    return (r * math.cos(angle), r * math.sin(angle), 0.0)


def _ripple(h, i, n, p):
    height = p["low"] + (p["high"] - p["low"]) * (0.5 + 0.5 * h[1])
    return (p["sweep"] * math.cos(TAU * i / n + p["nudge"] * h[0]), (-1) ** i * height, 0.0)


def closed_walk(steps):
    """A walk whose steps are shifted to sum to zero, so that it closes, centred on its mean."""
    n = len(steps)
    mean = [plain_sum(s[a] for s in steps) / n for a in range(3)]
    at, out = [0.0, 0.0, 0.0], []
    for s in steps:
        out.append(tuple(at))
        at = [at[a] + s[a] - mean[a] for a in range(3)]
    centre = [plain_sum(p[a] for p in out) / n for a in range(3)]
    return [tuple(p[a] - centre[a] for a in range(3)) for p in out]


def _drift_step(h, p):
    return (p["step"] * h[0], p["step"] * h[1], 0.0)


def _depth_step(h, p):
    return (p["step"] * h[0], p["step"] * h[1], p["step"] * p["depth"] * h[2])


SPREAD = {"orbit": _orbit, "ripple": _ripple}


WALK = {"drift": _drift_step, "depth": _depth_step}


def noise(row, data):
    _, word, count = row.name.split("_")
    params = data[word]
    n = int(count)
    if word in WALK:
        points = closed_walk([WALK[word](hashed(row.name, i), params) for i in range(n)])
        if row.dimensions == 2:
            points = [(x, y, 0.0) for x, y, _ in points]
    else:
        points = [SPREAD[word](hashed(row.name, i), i, n, params) for i in range(n)]
    samples = spline_loop(points, [row.period_pips / n] * n, row.period_pips)
    return finish(samples, row.dimensions, PEAK)
