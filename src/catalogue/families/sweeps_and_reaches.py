"""Sweeps and reaches: the scan_ rows (serpentine scans with an outer return) and the reach_
rows (reaches from a shared centre)."""

from __future__ import annotations

import math

from ._paths import CornerTour, check_name_numbers
from .kit import PEAK, PI, bump, finish, plain_sum, quintic


sin, cos = math.sin, math.cos


def scan(row, data):
    """Passes left and right down the field, eased into each turn, then home round the outside."""
    p = data[row.name]
    passes = p["passes"]
    check_name_numbers(row, passes)
    half, top, pitch, margin = p["half_width"], p["top"], p["pitch"], p["margin"]
    tilt, depth = p["tilt"], p["depth"]
    vertices, bows = [], []
    for j in range(passes):
        y = top - j * pitch
        z = depth * (2 * j / (passes - 1) - 1)
        ends = [(-half, y, z), (half, y, z)]
        if j % 2:
            ends.reverse()
        vertices += ends
        # A pass may bow down in the plane or dip in depth; the turn after it runs straight.
        bows += [(0.0, -p["bow"], -p["dip"]), (0.0, 0.0, 0.0)]
    bottom = top - (passes - 1) * pitch
    # The return runs on past the last pass's end, climbs outside the field and comes
    # back level with the first pass; from the right it first crosses over the top.
    side = half + margin
    if passes % 2:
        home = [(side, bottom, 0.0), (side, top + margin, 0.0),
                (-side, top + margin, -depth), (-side, top, -depth)]
    else:
        home = [(-side, bottom, 0.0), (-side, top, -depth)]
    vertices += home
    bows = bows[:-1] + [(0.0, 0.0, 0.0)] * (len(home) + 1)
    vertices = [(x, y + tilt * x, z) for x, y, z in vertices]
    count = len(vertices)
    lengths = [math.dist(vertices[i], vertices[(i + 1) % count]) for i in range(count)]
    first_return = 2 * passes - 1
    pace = [1.0] * first_return + [p["return_pace"]] * (count - first_return)
    dwell = [p["dwell"] if i < 2 * passes else p["dwell"] / 2 for i in range(count)]
    budget = row.period_pips - plain_sum(dwell)
    weighted = [length * pace[i] for i, length in enumerate(lengths)]
    travel = [budget * w / plain_sum(weighted) for w in weighted]
    path = CornerTour(vertices, p["rounding"], bows)
    return finish(path.sample(dwell, travel, row.period_pips), row.dimensions, PEAK)


def _eased_profile(keys, u: float) -> float:
    """Quintic moves between (u, value) keys running from 0 to 1."""
    for (ua, va), (ub, vb) in zip(keys, keys[1:]):
        if u <= ub:
            return va + (vb - va) * quintic((u - ua) / (ub - ua))
    return keys[-1][1]


def _scoop(u, p):
    # Out along one side, back along the other: a teardrop swung from the centre.
    return sin(PI * u) ** 2, p["width"] * sin(2 * PI * u) * sin(PI * u), 0.0


def _hook(u, p):
    # Straight out, then the tip curls sideways and pulls in before the way home.
    curl = bump(u - 0.6, 0.28)
    return sin(PI * u) ** 2 - 0.3 * curl, p["width"] * curl, 0.0


def _lift(u, p):
    # Rises on the way out and settles on a slightly different line back.
    return sin(PI * u) ** 2, 0.5 * p["width"] * sin(2 * PI * u), p["lift"] * sin(PI * u) ** 2


def _recoil(u, p):
    # A quick reach and brief hold, then a snap back past the centre that settles.
    radial = _eased_profile(p["recoil_keys"], u)
    return radial, p["width"] * sin(2 * PI * u) * 0.5, 0.0


SHAPES = {"scoop": _scoop, "hook": _hook, "lift": _lift, "recoil": _recoil}


def reach(row, data):
    p = data[row.name]
    angles, extents = p["angles"], p["extents"]
    count = len(angles)
    check_name_numbers(row, count)
    if len(extents) != count:
        raise ValueError(f"{count} reach angles but {len(extents)} extents")
    shape = SHAPES[p["shape"]]
    period = row.period_pips
    slot = period / count
    active = p["active"] * slot
    out = []
    for k in range(period):
        i = int(k // slot)
        u = (k - i * slot) / active
        if u >= 1.0:
            out.append((0.0, 0.0, 0.0))
            continue
        radial, lateral, depth = shape(u, p)
        a, e = angles[i], extents[i]
        side = -1 if i % 2 else 1
        dx, dy = cos(a), sin(a)
        across = (e * (radial * dx - side * lateral * dy), e * (radial * dy + side * lateral * dx))
        if p["shape"] == "lift":
            # Lifts reach out over the floor (x and depth) and rise toward -y.
            out.append((across[0], -e * depth, across[1]))
        else:
            out.append((across[0], across[1], side * e * depth))
    return finish(out, row.dimensions, PEAK)
