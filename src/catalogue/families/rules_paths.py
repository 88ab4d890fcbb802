"""Closed-form paths: Lissajous, roses, weaves, spirographs, orbits, knots, silhouettes, cranks."""

from __future__ import annotations

import math

from ._common import PI, TAU, scale_to_peak
from ._rules import name_numbers

sin, cos = math.sin, math.cos


def lissajous(row, data):
    p = row.period_pips
    return [(0.78 * sin(2 * TAU * k / p), 0.68 * sin(3 * TAU * k / p), 0.0) for k in range(p)]


def rose(row, data):
    # An odd rose closes over half a turn, an even one needs the full turn.
    (n,) = name_numbers(row.name)
    p = row.period_pips
    out = []
    for k in range(p):
        if n % 2:
            theta, m = PI * k / p, n
        else:
            theta, m = TAU * k / p, n // 2
        r = 0.82 * cos(m * theta)
        out.append((r * cos(theta), r * sin(theta), 0.0))
    return out


def weave(row, data):
    h, v = name_numbers(row.name)
    p = row.period_pips
    return scale_to_peak([(sin(h * TAU * k / p + 0.37), 0.8125 * sin(v * TAU * k / p), 0.0)
                          for k in range(p)])


def spiro(row, data):
    big, small = name_numbers(row.name)
    d = data["pen_factor"][f"{big}_{small}"] * small
    inside = row.name.startswith("spiro_inside_")
    q = big - small if inside else big + small
    p = row.period_pips
    out = []
    for k in range(p):
        t = TAU * small * (k / p)
        u = (q / small) * t
        if inside:
            a = q * cos(t) + d * cos(u)
        else:
            a = q * cos(t) - d * cos(u)
        out.append((a, q * sin(t) - d * sin(u), 0.0))
    return scale_to_peak(out)


def space_weave(row, data):
    a, b, c = name_numbers(row.name)
    p = row.period_pips
    return [(0.82 * sin(a * TAU * k / p), 0.656 * sin(b * TAU * k / p + 0.4),
             0.574 * cos(c * TAU * k / p + 0.7)) for k in range(p)]


def orbit_harmonic(row, data):
    spec = data[row.name]
    h, depth, phase = spec["harmonic"], spec["depth"], spec["phase"]
    p = row.period_pips
    out = []
    for k in range(p):
        theta = TAU * k / p
        out.append((cos(theta) + depth * cos(h * theta + phase),
                    0.72 * sin(theta) - depth * sin((h + 1) * theta - phase), 0.0))
    return scale_to_peak(out)


def polar_scallop(row, data):
    (n,) = name_numbers(row.name)
    p = row.period_pips
    out = []
    for k in range(p):
        theta = TAU * k / p
        r = 0.58 + 0.24 * cos(n * theta + 0.2 * sin(theta))
        out.append((r * cos(theta), r * sin(theta), 0.0))
    return out


def torus_knot(row, data):
    turns, winds = name_numbers(row.name)
    p = row.period_pips
    out = []
    for k in range(p):
        theta = TAU * k / p
        rho = 0.29 + 0.1 * cos(winds * theta)
        out.append((rho * cos(turns * theta), rho * sin(turns * theta), 0.21 * sin(winds * theta)))
    return scale_to_peak(out)


def _silhouette_point(theta, a, b, c, wb, wc):
    return (cos(a * theta) + wb * sin(b * theta + 0.3) + wc * cos(c * theta),
            0.65 * sin(a * theta + 0.2) + wc * sin(b * theta) - wb * cos(c * theta + 0.1),
            0.12 * sin((a + b) * theta) * sin(theta))


def silhouette(row, data):
    spec = data[row.name]
    shape = (*spec["harmonics"], *spec["weights"])
    p = row.period_pips
    fine = 2 * p
    # The scale is taken over twice as many angles as samples, so a peak between two samples
    # still counts; sample k is the fine angle 2k (tau * 2k / 2P is tau * k / P exactly).
    points = [_silhouette_point(TAU * j / fine, *shape) for j in range(fine)]
    s = 0.82 / max(abs(v) for point in points for v in point)
    return [tuple(s * v for v in point) for point in points[::2]]


def slider_crank(row, data):
    # Crank radius 1: the piston runs between -1 and 1 about its mid stroke before scaling.
    spec = data[row.name]
    rod, stroke, lateral, harmonic = spec["rod"], spec["stroke"], spec["lateral"], spec["harmonic"]
    p = row.period_pips
    out = []
    for k in range(p):
        theta = TAU * k / p
        piston = cos(theta) + math.sqrt(rod * rod - sin(theta) * sin(theta))
        out.append((stroke * (piston - rod), lateral * sin(harmonic * theta), 0.0))
    return out


RECIPES = {
    "lissajous": lissajous,
    "rose": rose,
    "weave": weave,
    "spiro": spiro,
    "space_weave": space_weave,
    "orbit_harmonic": orbit_harmonic,
    "polar_scallop": polar_scallop,
    "torus_knot": torus_knot,
    "silhouette": silhouette,
    "slider_crank": slider_crank,
}
