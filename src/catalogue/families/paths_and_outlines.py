"""Paths and outlines: the path_, polar_, weave_, spiro_, space_, orbit_, silhouette_, tour_,
contour_ and spline_ rows."""

from __future__ import annotations

import math

from ._paths import CornerTour, check_name_numbers, point, uniform_loop
from .kit import (PEAK, PI, PIPS_PER_BEAT, TAU, bump, finish, name_numbers, plain_sum,
                  scale_to_peak, spline_loop)


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
        r = PEAK * cos(m * theta)
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
    s = PEAK / max(abs(v) for point in points for v in point)
    return [tuple(s * v for v in point) for point in points[::2]]




def bowed_diamond(row, data):
    p = data[row.name]
    ax, ay = p["axes"]
    power = p["power"]
    n = row.period_pips
    out = []
    for k in range(n):
        theta = TAU * k / n
        out.append((ax * math.cos(theta) ** power, ay * math.sin(theta) ** power, 0.0))
    return finish(out, row.dimensions, PEAK)


def orbit_dwell(row, data):
    p = data[row.name]
    ax, ay = p["axes"]
    n = row.period_pips
    out = []
    for k in range(n):
        u = k / n
        phase = TAU * u - math.sin(TAU * u)
        out.append((ax * math.cos(phase), ay * math.sin(phase), 0.0))
    return finish(out, row.dimensions, PEAK)


def torus_path(row, data):
    p = data[row.name]
    n = row.period_pips
    out = []
    for k in range(n):
        theta = TAU * k / n
        rho = p["ring"] + p["tube"] * math.cos(p["through"] * theta)
        out.append((rho * math.cos(p["around"] * theta), rho * math.sin(p["around"] * theta),
                    p["depth"] * p["tube"] * math.sin(p["through"] * theta)))
    return finish(out, row.dimensions, PEAK)


def woven_3d(row, data):
    p = data[row.name]
    n = row.period_pips
    out = []
    for k in range(n):
        theta = TAU * k / n
        out.append(tuple(a * math.sin(c * theta + ph) for c, a, ph in p["lanes"]))
    return finish(out, row.dimensions, PEAK)


sin, cos = math.sin, math.cos


def tour(row, data):
    p = data[row.name]
    count, step = p["vertices"], p["step"]
    check_name_numbers(row, count, step)
    if math.gcd(count, step) != 1:
        raise ValueError(f"{count} corners {step} apart do not make a single tour")
    depth = p["depth"]
    # Long and short dwells cannot alternate all the way round an odd number of corners, so
    # an odd tour goes round twice: each corner dwells long on one lap and short on the other.
    visits = count if count % 2 == 0 else 2 * count
    vertices = []
    for i in range(visits):
        # Visit i lands on corner i * step of the ring.
        theta = p["rotation"] + TAU * (i * step % count) / count
        r = 1 + p["wobble"] * cos(p["lobes"] * theta + 0.6)
        z = depth * sin(TAU * p["depth_cycles"] * i / count + 0.4)
        vertices.append((p["aspect"] * r * cos(theta), r * sin(theta), z))
    share = row.period_pips / visits
    dwell = [share * (p["long_dwell"] if i % 2 == 0 else p["short_dwell"]) for i in range(visits)]
    travel = [(row.period_pips - plain_sum(dwell)) / visits] * visits
    path = CornerTour(vertices, p["rounding"])
    return finish(path.sample(dwell, travel, row.period_pips), row.dimensions, PEAK)


def _signed_power(v: float, e: float) -> float:
    return math.copysign(abs(v) ** e, v)


def contour(row, data):
    """A superellipse outline with a rippled stretch, bowed sideways, at even speed."""
    p = data[row.name]
    dense = []
    steps = 4096
    for j in range(steps):
        t = TAU * j / steps
        x = p["width"] * _signed_power(cos(t), p["power"])
        y = p["height"] * _signed_power(sin(t), p["power"])
        # Ripples only along one stretch of the edge, faded in and out.
        window = bump(((t - p["ripple_at"]) + math.pi) % TAU - math.pi, p["ripple_span"])
        r = 1 + p["ripple"] * window * sin(p["ripple_count"] * t)
        x, y = x * r, y * r
        # The bow bends the oval like a drawn bow: one side pushed up, more at its middle.
        y += p["bow"] * (1 - (x / p["width"]) ** 2) * (0.7 + 0.3 * x / p["width"])
        a = p["rotation"]
        xr, yr = x * cos(a) - y * sin(a), x * sin(a) + y * cos(a)
        z = p["depth"] * sin(p["depth_cycles"] * t + p["depth_phase"])
        dense.append((xr, yr, z))
    return finish(uniform_loop(dense, row.period_pips), row.dimensions, PEAK)


def spline(row, data):
    p = data[row.name]
    points = [point(c) for c in p["points"]]
    beats = p["beats"]
    if len(beats) != len(points):
        raise ValueError(f"{len(points)} control points but {len(beats)} segment times")
    durations = [b * PIPS_PER_BEAT for b in beats]
    return finish(spline_loop(points, durations, row.period_pips), row.dimensions, PEAK)
