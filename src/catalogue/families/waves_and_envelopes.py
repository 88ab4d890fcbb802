"""Waves and envelopes: the lfo_, env_, wave_, ease_ and akwf_ rows, single loops of control
motion; the akwf_ rows are sampled waveforms."""

from __future__ import annotations

import hashlib
import math

from catalogue_data import DataError

from .kit import (PI, PIPS_PER_BEAT, TAU, Lanes, eased_lane, finish, plain_sum, scale_to_peak,
                  smoothstep, spline_loop)


sin, cos, tanh = math.sin, math.cos, math.tanh


def lfo_sine(row, data):
    p = row.period_pips
    return [(0.8 * sin(TAU * k / p), 0.0, 0.0) for k in range(p)]


# Raw shapes of the angle; each row is scaled so that its largest sample peaks at 0.82.
RULE_WAVES = {
    "wave_pinched": lambda t: sin(t) * sin(t) * sin(t),
    "wave_shouldered": lambda t: 0.69 * sin(t) + 0.31 * sin(3 * t),
    "wave_folded": lambda t: sin(2.2 * sin(t)),
    "wave_double_fold": lambda t: sin(3.8 * sin(t)),
    "wave_rounded_square": lambda t: tanh(2 * sin(t)),
    "wave_skew_warp": lambda t: sin(t + 0.7 * sin(t)),
    "wave_shelf_wave": lambda t: tanh(2 * sin(t)) + 0.23 * sin(3 * t + 0.4),
    "wave_notched": lambda t: sin(t) - 0.36 * sin(3 * t) + 0.12 * cos(5 * t),
    "wave_bottle": lambda t: sin(t) / (1 + 0.9 * cos(t) * cos(t)),
    "wave_reed": lambda t: sin(t) * (0.85 + 0.4 * cos(7 * t)),
    "wave_unequal_peaks": lambda t: 0.67 * sin(t) + 0.4 * sin(2 * t + 0.8),
    "wave_ripple_return": lambda t: sin(t) + 0.09 * sin(5 * t) * (1 + cos(t)),
}


def shaped_wave(row, data):
    shape = RULE_WAVES[row.name]
    p = row.period_pips
    return scale_to_peak([(shape(TAU * k / p), 0.0, 0.0) for k in range(p)])


sin, cos, sqrt = math.sin, math.cos, math.sqrt


def _soft_rectifier(t, p):
    # 0.5 * (s + |s|) with |s| softened to sqrt(s^2 + knee^2); the rest line is held at 0.
    s, knee = sin(t), p["knee"]
    return 0.5 * (s + sqrt(s * s + knee * knee)) - 0.5 * knee


def _scoop_warp(t, p):
    # An early crest, then a flat-bottomed bowl under the rest line on the way back.
    bowl = sin(0.5 * t) ** 4
    return sin(t + p["warp"] * sin(t)) - p["scoop"] * bowl


def _soft_teeth(t, p):
    tooth = plain_sum((-1) ** (j + 1) * p["rounding"] ** (j - 1) * sin(3 * j * t) / j
                for j in range(1, p["harmonics"] + 1))
    return tooth * (1 + p["sway"] * cos(t))


def _warped_fold(t, p):
    return sin(p["gain"] * (sin(t + p["warp"] * sin(t)) + p["bias"]))


AUTHORED_WAVES = {
    "wave_soft_rectifier": _soft_rectifier,
    "wave_scoop_warp": _scoop_warp,
    "wave_soft_teeth": _soft_teeth,
    "wave_warped_fold": _warped_fold,
}


def wave(row, data):
    params = data[row.name]
    shape = AUTHORED_WAVES.get(row.name)
    if shape is None:
        raise DataError(f"no wave shape is written for {row.name}")
    n = row.period_pips
    return scale_to_peak([(shape(TAU * k / n, params), 0.0, 0.0) for k in range(n)])


AXES = ("x", "y", "z")


def _eased_axis(name: str, axis: str, keys: list, period: int) -> list[float]:
    pips = [pip for pip, _ in keys]
    if pips[0] != 0 or pips[-1] != period or any(a >= b for a, b in zip(pips, pips[1:])):
        raise DataError(f"{name}.{axis}: keys must ascend from pip 0 to pip {period}")
    if keys[0][1] != keys[-1][1]:
        raise DataError(f"{name}.{axis}: the loop must end on its first value")
    return eased_lane([(pip, float(v)) for pip, v in keys], period)


def eased_keys(row, data):
    spec = data[row.name]
    unknown = set(spec) - set(AXES[:row.dimensions])
    if unknown:
        raise DataError(f"{row.name}: no axis {', '.join(sorted(unknown))} in {row.dimensions}D")
    p = row.period_pips
    lanes = [_eased_axis(row.name, a, spec[a], p) if a in spec else [0.0] * p for a in AXES]
    return list(zip(*lanes))




def lfo_ratchet(row, data):
    p = data[row.name]
    beat = PIPS_PER_BEAT
    lanes = Lanes(row.period_pips)
    hits = [h * beat for h in p["hits"]]
    for at, push in zip(hits, p["push"]):
        lanes.bump(at, (push, 0.0, 0.0), p["rise"], p["fall"])
    levels = []
    level = 0.0
    for notch in p["notches"]:
        level += notch
        levels.append(level)
    keys = [(0.0, levels[0])]
    for at, before, after in zip(hits[1:], levels, levels[1:]):
        keys += [(at - p["notch_pips"], before), (at, after)]
    start, end = (b * beat for b in p["release"])
    keys += [(start, levels[-1]), (end, 0.0), (row.period_pips, levels[0])]
    lanes.ease(1, keys)
    return finish(lanes.samples(), row.dimensions)


def _skewed_triangle(phase: float, rise: float) -> float:
    """Triangle through 0 rising at phase 0, reaching +1 after rise/2 and -1 at 1 - rise/2."""
    phase %= 1.0
    top, bottom = rise / 2, 1 - rise / 2
    if phase < top:
        return phase / top
    if phase < bottom:
        return 1 - 2 * (phase - top) / (bottom - top)
    return -1 + (phase - bottom) / top


def lfo_morph(row, data):
    p = data[row.name]
    n = row.period_pips
    out = []
    for k in range(n):
        u = k / n
        blend = 0.5 - 0.5 * math.cos(TAU * u)
        phase = p["cycles"] * u

        def shape(ph):
            return (1 - blend) * math.sin(TAU * ph) + blend * _skewed_triangle(ph, p["rise"])

        out.append((p["x_amplitude"] * shape(phase), p["y_amplitude"] * shape(phase + 0.25), 0.0))
    return finish(out, row.dimensions)


def lfo_flower(row, data):
    p = data[row.name]
    n = row.period_pips
    out = []
    for k in range(n):
        theta = TAU * k / n
        x = plain_sum(r * math.cos(turns * theta + ph) for turns, r, ph in p["rotations"])
        y = plain_sum(r * math.sin(turns * theta + ph) for turns, r, ph in p["rotations"])
        out.append((x, y, 0.0))
    return finish(out, row.dimensions, p["peak"])


def lfo_sweep_ratchet(row, data):
    p = data[row.name]
    beat = PIPS_PER_BEAT
    lanes = Lanes(row.period_pips)
    lanes.ease(0, [(b * beat, v) for b, v in p["sweep"]])
    for at, depth in p["ratchets"]:
        lanes.bump(at * beat, (0.0, depth, 0.0), p["rise"], p["fall"])
    return finish(lanes.samples(), row.dimensions)


def lfo_triplet_wobble(row, data):
    p = data[row.name]
    n = row.period_pips
    rate = p["wobbles_per_beat"] / PIPS_PER_BEAT
    out = []
    for k in range(n):
        breath = 0.5 - 0.5 * math.cos(TAU * k / n)
        width = p["narrow"] + (p["wide"] - p["narrow"]) * breath
        w = TAU * rate * k
        out.append((width * math.sin(w),
                     p["depth"] * width * math.cos(w) - p["sink"] * breath, 0.0))
    return finish(out, row.dimensions)


def lfo_breathing_orbit(row, data):
    p = data[row.name]
    n = row.period_pips
    ax, ay = p["axes"]
    out = []
    for k in range(n):
        theta = TAU * k / n
        r = 1 + p["breath_depth"] * math.cos(p["breaths"] * theta + p["breath_phase"])
        out.append((ax * r * math.cos(theta), ay * r * math.sin(theta), 0.0))
    return finish(out, row.dimensions, p["peak"])


def _seeded_point(name: str, lane: str, index: int) -> float:
    digest = hashlib.sha256(f"{name}/{lane}/{index}".encode()).digest()
    return int.from_bytes(digest[:8], "big") / 2 ** 63 - 1.0


def seeded_drift(row, data):
    p = data[row.name]
    lanes = []
    for lane in "xy":
        points = [_seeded_point(row.name, lane, i) for i in range(p["points"][lane])]
        equal = [row.period_pips / len(points)] * len(points)
        lanes.append([v for v, in spline_loop([(v,) for v in points], equal, row.period_pips)])
    samples = [(x, y, 0.0) for x, y in zip(*lanes)]
    return finish(scale_to_peak(samples, p["peak"]), row.dimensions)


def lfo_pendulum_dwell(row, data):
    p = data[row.name]
    n = row.period_pips
    g = p["saturation"]
    centre, side = p["arc"]
    out = []
    for k in range(n):
        s = math.tanh(g * math.sin(TAU * p["swings"] * k / n)) / math.tanh(g)
        out.append((p["amplitude"] * s, centre + (side - centre) * s * s, 0.0))
    return finish(out, row.dimensions)


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
    p = data[row.name]
    curve = CURVES[p["curve"]]
    timing = TIMINGS[p["timing"]]
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
    return finish(out, row.dimensions)


def ease_elastic(row, data):
    p = data[row.name]
    n = row.period_pips
    out = []
    for k in range(n):
        u = k / n
        attack = smoothstep(min(u / p["attack"], 1.0))
        tail = (1 - u) / p["taper"]
        taper = 1.0 if tail >= 1 else 0.5 - 0.5 * math.cos(PI * tail)
        swing = math.sin(TAU * p["cycles"] * u + PI / 2)
        out.append((attack * taper * math.exp(-p["decay"] * u) * swing, 0.0, 0.0))
    return finish(out, row.dimensions, p["peak"])


def _retimed(samples: list[float], timing, period: int) -> list[float]:
    """The cycle read at the sample positions that `timing`'s [pip, position] knots give."""
    n = len(samples)
    if timing[0] != [0, 0] or timing[-1] != [period, n] \
            or any(b[0] <= a[0] or b[1] <= a[1] for a, b in zip(timing, timing[1:])):
        raise DataError(f"timing must rise from [0, 0] to [{period}, {n}]")
    out = []
    j = 0
    for k in range(period):
        while timing[j + 1][0] <= k:
            j += 1
        (pa, sa), (pb, sb) = timing[j], timing[j + 1]
        at = sa + (k - pa) * (sb - sa) / (pb - pa)
        i = math.floor(at)
        a, b = samples[i % n], samples[(i + 1) % n]
        out.append(a + (b - a) * (at - i))
    return out


def akwf(row, data):
    p = data[row.name]
    # The description names the waveform; the data must hold that one.
    if not row.description.startswith(p["waveform"] + ":"):
        raise DataError(f"the data holds {p['waveform']}, the description names another")
    samples = [v / 32768 for v in p["samples"]]
    if len(samples) != row.period_pips:
        raise DataError(f"{len(samples)} samples for a period of {row.period_pips}")
    lane = _retimed(samples, p["timing"], row.period_pips)
    return finish([(v, 0.0, 0.0) for v in lane], row.dimensions, p["peak"])
