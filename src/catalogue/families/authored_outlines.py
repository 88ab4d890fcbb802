"""Authored outlines: star-polygon tours, signed-power contours and periodic splines."""

from __future__ import annotations

import math

from ._common import TAU, cos_bump, plain_sum, row_params
from ._paths import CornerTour, check_name_numbers, finish, hermite_loop, point, uniform_loop

sin, cos = math.sin, math.cos


def tour(row, data):
    p = row_params(row, data)
    count, step = p["vertices"], p["step"]
    check_name_numbers(row, count, step)
    if math.gcd(count, step) != 1:
        raise ValueError(f"{count} corners {step} apart do not make a single tour")
    depth = p.get("depth", 0.0)
    # Long and short dwells cannot alternate all the way round an odd number of corners, so
    # an odd tour goes round twice: each corner dwells long on one lap and short on the other.
    visits = count if count % 2 == 0 else 2 * count
    vertices = []
    for i in range(visits):
        # Visit i lands on corner i * step of the ring.
        theta = p["rotation"] + TAU * (i * step % count) / count
        r = 1 + p["wobble"] * cos(p["lobes"] * theta + 0.6)
        z = depth * sin(TAU * p.get("depth_cycles", 0) * i / count + 0.4)
        vertices.append((p["aspect"] * r * cos(theta), r * sin(theta), z))
    share = row.period_pips / visits
    dwell = [share * (p["long_dwell"] if i % 2 == 0 else p["short_dwell"]) for i in range(visits)]
    travel = [(row.period_pips - plain_sum(dwell)) / visits] * visits
    path = CornerTour(vertices, p["rounding"])
    return finish(path.sample(dwell, travel, row.period_pips), row.dimensions)


def _signed_power(v: float, e: float) -> float:
    return math.copysign(abs(v) ** e, v)


def contour(row, data):
    """A superellipse outline with a rippled stretch, bowed sideways, at even speed."""
    p = row_params(row, data)
    dense = []
    steps = 4096
    for j in range(steps):
        t = TAU * j / steps
        x = p["width"] * _signed_power(cos(t), p["power"])
        y = p["height"] * _signed_power(sin(t), p["power"])
        # Ripples only along one stretch of the edge, faded in and out.
        window = cos_bump(((t - p["ripple_at"]) + math.pi) % TAU - math.pi, p["ripple_span"])
        r = 1 + p["ripple"] * window * sin(p["ripple_count"] * t)
        x, y = x * r, y * r
        # The bow bends the oval like a drawn bow: one side pushed up, more at its middle.
        y += p["bow"] * (1 - (x / p["width"]) ** 2) * (0.7 + 0.3 * x / p["width"])
        a = p["rotation"]
        xr, yr = x * cos(a) - y * sin(a), x * sin(a) + y * cos(a)
        z = p.get("depth", 0.0) * sin(p.get("depth_cycles", 0) * t + p.get("depth_phase", 0.0))
        dense.append((xr, yr, z))
    return finish(uniform_loop(dense, row.period_pips), row.dimensions)


def spline(row, data):
    p = row_params(row, data)
    points = [point(c) for c in p["points"]]
    beats = p["beats"]
    if len(beats) != len(points):
        raise ValueError(f"{len(points)} control points but {len(beats)} segment times")
    durations = [b * 64 for b in beats]
    return finish(hermite_loop(points, durations, row.period_pips), row.dimensions)


RECIPES = {"tour": tour, "contour": contour, "spline": spline}
