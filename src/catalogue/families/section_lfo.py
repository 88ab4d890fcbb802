"""Low-frequency motion shapes: bursts, morphs, orbits, pendulums and seeded drift."""

from __future__ import annotations

import hashlib
import math

from ._common import TAU, plain_sum, row_params, scale_to_peak
from ._section import Lanes, finish, periodic_spline

PIPS_PER_BEAT = 64


def lfo_ratchet(row, data):
    p = row_params(row, data)
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
    return finish(row, lanes.samples())


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
    p = row_params(row, data)
    n = row.period_pips
    out = []
    for k in range(n):
        u = k / n
        blend = 0.5 - 0.5 * math.cos(TAU * u)
        phase = p["cycles"] * u

        def shape(ph):
            return (1 - blend) * math.sin(TAU * ph) + blend * _skewed_triangle(ph, p["rise"])

        out.append((p["x_amplitude"] * shape(phase), p["y_amplitude"] * shape(phase + 0.25), 0.0))
    return finish(row, out)


def lfo_flower(row, data):
    p = row_params(row, data)
    n = row.period_pips
    out = []
    for k in range(n):
        theta = TAU * k / n
        x = plain_sum(r * math.cos(turns * theta + ph) for turns, r, ph in p["rotations"])
        y = plain_sum(r * math.sin(turns * theta + ph) for turns, r, ph in p["rotations"])
        out.append((x, y, 0.0))
    return finish(row, out, p["peak"])


def lfo_sweep_ratchet(row, data):
    p = row_params(row, data)
    beat = PIPS_PER_BEAT
    lanes = Lanes(row.period_pips)
    lanes.ease(0, [(b * beat, v) for b, v in p["sweep"]])
    for at, depth in p["ratchets"]:
        lanes.bump(at * beat, (0.0, depth, 0.0), p["rise"], p["fall"])
    return finish(row, lanes.samples())


def lfo_triplet_wobble(row, data):
    p = row_params(row, data)
    n = row.period_pips
    rate = p["wobbles_per_beat"] / PIPS_PER_BEAT
    out = []
    for k in range(n):
        breath = 0.5 - 0.5 * math.cos(TAU * k / n)
        width = p["narrow"] + (p["wide"] - p["narrow"]) * breath
        w = TAU * rate * k
        out.append((width * math.sin(w),
                     p["depth"] * width * math.cos(w) - p["sink"] * breath, 0.0))
    return finish(row, out)


def lfo_breathing_orbit(row, data):
    p = row_params(row, data)
    n = row.period_pips
    ax, ay = p["axes"]
    out = []
    for k in range(n):
        theta = TAU * k / n
        r = 1 + p["breath_depth"] * math.cos(p["breaths"] * theta + p["breath_phase"])
        out.append((ax * r * math.cos(theta), ay * r * math.sin(theta), 0.0))
    return finish(row, out, p["peak"])


def _seeded_point(name: str, lane: str, index: int) -> float:
    digest = hashlib.sha256(f"{name}/{lane}/{index}".encode()).digest()
    return int.from_bytes(digest[:8], "big") / 2 ** 63 - 1.0


def seeded_drift(row, data):
    p = row_params(row, data)
    lanes = []
    for lane in "xy":
        points = [_seeded_point(row.name, lane, i) for i in range(p["points"][lane])]
        lanes.append(periodic_spline(points, row.period_pips))
    samples = [(x, y, 0.0) for x, y in zip(*lanes)]
    return finish(row, scale_to_peak(samples, p["peak"]))


def lfo_pendulum_dwell(row, data):
    p = row_params(row, data)
    n = row.period_pips
    g = p["saturation"]
    centre, side = p["arc"]
    out = []
    for k in range(n):
        s = math.tanh(g * math.sin(TAU * p["swings"] * k / n)) / math.tanh(g)
        out.append((p["amplitude"] * s, centre + (side - centre) * s * s, 0.0))
    return finish(row, out)


RECIPES = {
    "lfo_ratchet": lfo_ratchet,
    "lfo_morph": lfo_morph,
    "lfo_flower": lfo_flower,
    "lfo_sweep_ratchet": lfo_sweep_ratchet,
    "lfo_triplet_wobble": lfo_triplet_wobble,
    "lfo_breathing_orbit": lfo_breathing_orbit,
    "seeded_drift": seeded_drift,
    "lfo_pendulum_dwell": lfo_pendulum_dwell,
}
