"""Sticking: the stick_ and rudiment_ rows, drum strokes turned into motion."""

from __future__ import annotations

from catalogue_data import DataError

from .kit import Lanes, add_stroke, finish


STUDY_HANDS = {"R": 1, "L": -1}


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
    call = [(starts[i], STUDY_HANDS[h], params["accent"] if i in leads else params["tap"],
             int(legato * (starts[i + 1] - starts[i]) + 0.5)) for i, h in enumerate(slots) if h != "-"]
    return call + [(onset + half, -hand, height, length) for onset, hand, height, length in call]


def stick(row, data):
    params = data[row.name]
    xs = [0.0] * row.period_pips
    ys = [0.0] * row.period_pips
    for onset, hand, height, length in strokes(row, params, data["legato"]):
        add_stroke(xs, ys, onset, hand, height, length)
    return finish([(x, y, 0.0) for x, y in zip(xs, ys)], row.dimensions)


HANDS = {"R": 1.0, "L": -1.0}


ACCENT_PEAK = 0.92


STROKE_PEAK = 0.66


# The second stroke of a diddle is a rebound, not a fresh stroke.
BOUNCE_FACTOR = 0.85


def sticking(row, data):
    p = data[row.name]
    hands = [HANDS[c] for c in p["sticking"] if c != " "]
    accents = set(p["accents"])
    spacing = row.period_pips / len(hands)
    lanes = Lanes(row.period_pips)
    for i, hand in enumerate(hands):
        if i in accents:
            peak = ACCENT_PEAK
        elif hand == hands[i - 1]:
            peak = STROKE_PEAK * BOUNCE_FACTOR
        else:
            peak = STROKE_PEAK
        lanes.stroke(i * spacing, hand, peak, spacing)
    return finish(lanes.samples(), row.dimensions)


def flam_accent(row, data):
    p = data[row.name]
    groups = p["groups"]
    beat = row.period_pips / groups
    spacing = beat / 3
    lead = HANDS[p["lead"]]
    lanes = Lanes(row.period_pips)
    for g in range(groups):
        hand = lead if g % 2 == 0 else -lead
        at = g * beat
        lanes.stroke(at - p["grace_lead"], -hand, p["grace_peak"], p["grace_length"])
        lanes.stroke(at, hand, p["accent_peak"], p["accent_length"])
        lanes.stroke(at + spacing, -hand, p["tap_peak"], spacing)
        lanes.stroke(at + 2 * spacing, hand, p["tap_peak"], spacing)
    return finish(lanes.samples(), row.dimensions)
