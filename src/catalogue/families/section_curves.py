"""Easing loops, single-cycle waveforms and closed paths."""

from __future__ import annotations

import math

from catalogue_data import DataError

from ._common import PI, TAU, plain_sum, row_params, smoothstep
from ._section import finish

BACK = 1.70158


def _bounce_out(t: float) -> float:
    n, d = 7.5625, 2.75
    if t < 1 / d:
        return n * t * t
    if t < 2 / d:
        t -= 1.5 / d
        return n * t * t + 0.75
    if t < 2.5 / d:
        t -= 2.25 / d
        return n * t * t + 0.9375
    t -= 2.625 / d
    return n * t * t + 0.984375


def _back_in(t: float) -> float:
    return t * t * ((BACK + 1) * t - BACK)


def _back_out(t: float) -> float:
    return 1 - _back_in(1 - t)


CURVES = {"bounce_out": _bounce_out, "back_in": _back_in, "back_out": _back_out}


def _settle(u: float) -> float:
    """Time that runs at full pace from the start and slows to rest at the end."""
    return u + u * u - u * u * u


def _depart(u: float) -> float:
    """Time that starts from rest and reaches full pace at the end."""
    v = 1 - u
    return 1 - (v + v * v - v * v * v)


def _plain(u: float) -> float:
    return u


# A curve that ends (or starts) at speed would snap to rest where the loop turns round;
# easing its time at that end brings the move to rest without changing the values it passes.
TIMINGS = {"plain": _plain, "settle": _settle, "depart": _depart}


def ease(row, data):
    p = row_params(row, data)
    curve = CURVES[p["curve"]]
    timing = TIMINGS[p.get("timing", "plain")]
    low, high = p["low"], p["high"]
    n = row.period_pips
    half = n // 2
    out = []
    for k in range(n):
        if k < half:
            v = curve(timing(k / half))
        else:
            v = 1 - curve(timing((k - half) / (n - half)))
        out.append((low + (high - low) * v, 0.0, 0.0))
    return finish(row, out)


def ease_elastic(row, data):
    p = row_params(row, data)
    n = row.period_pips
    out = []
    for k in range(n):
        u = k / n
        attack = smoothstep(min(u / p["attack"], 1.0))
        tail = (1 - u) / p["taper"]
        taper = 1.0 if tail >= 1 else 0.5 - 0.5 * math.cos(PI * tail)
        swing = math.sin(TAU * p["cycles"] * u + PI / 2)
        out.append((attack * taper * math.exp(-p["decay"] * u) * swing, 0.0, 0.0))
    return finish(row, out, p["peak"])


def _skew_cycle(n: int, rise: float, round_pips: int) -> list[float]:
    raw = []
    for k in range(n):
        u = k / n
        raw.append(-1 + 2 * u / rise if u < rise else 1 - 2 * (u - rise) / (1 - rise))
    # A raised-cosine average over the loop rounds both corners without moving the seam.
    weights = [0.5 + 0.5 * math.cos(PI * d / round_pips) for d in range(-round_pips + 1, round_pips)]
    total = plain_sum(weights)
    return [plain_sum(w * raw[(k + d) % n] for w, d in zip(weights, range(-round_pips + 1, round_pips)))
            / total for k in range(n)]


def akwf(row, data):
    p = row_params(row, data)
    n = row.period_pips
    if p["kind"] == "skew":
        lane = _skew_cycle(n, p["rise"], p["round_pips"])
    elif p["kind"] == "harmonics":
        lane = [plain_sum(a * math.sin(h * TAU * k / n + ph) for h, a, ph in p["harmonics"])
                for k in range(n)]
        if "saturation" in p:
            lane = [math.tanh(p["saturation"] * v) for v in lane]
    else:
        raise DataError(f"{row.name}: unknown waveform kind {p['kind']!r}")
    return finish(row, [(v, 0.0, 0.0) for v in lane], p["peak"])


PATH_PEAK = 0.82


def bowed_diamond(row, data):
    p = row_params(row, data)
    ax, ay = p["axes"]
    power = p["power"]
    n = row.period_pips
    out = []
    for k in range(n):
        theta = TAU * k / n
        out.append((ax * math.cos(theta) ** power, ay * math.sin(theta) ** power, 0.0))
    return finish(row, out, PATH_PEAK)


def orbit_dwell(row, data):
    p = row_params(row, data)
    ax, ay = p["axes"]
    n = row.period_pips
    out = []
    for k in range(n):
        u = k / n
        phase = TAU * u - math.sin(TAU * u)
        out.append((ax * math.cos(phase), ay * math.sin(phase), 0.0))
    return finish(row, out, PATH_PEAK)


def torus_path(row, data):
    p = row_params(row, data)
    n = row.period_pips
    out = []
    for k in range(n):
        theta = TAU * k / n
        rho = p["ring"] + p["tube"] * math.cos(p["through"] * theta)
        out.append((rho * math.cos(p["around"] * theta), rho * math.sin(p["around"] * theta),
                    p["depth"] * p["tube"] * math.sin(p["through"] * theta)))
    return finish(row, out, PATH_PEAK)


def woven_3d(row, data):
    p = row_params(row, data)
    n = row.period_pips
    out = []
    for k in range(n):
        theta = TAU * k / n
        out.append(tuple(a * math.sin(c * theta + ph) for c, a, ph in p["lanes"]))
    return finish(row, out, PATH_PEAK)


RECIPES = {
    "ease": ease,
    "ease_elastic": ease_elastic,
    "akwf": akwf,
    "bowed_diamond": bowed_diamond,
    "orbit_dwell": orbit_dwell,
    "torus_path": torus_path,
    "woven_3d": woven_3d,
}
