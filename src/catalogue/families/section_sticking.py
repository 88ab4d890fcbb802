"""Sticking studies drawn as hand strokes: each stroke swells towards its hand's side."""

from __future__ import annotations

from ._common import row_params
from ._section import Lanes, finish

HANDS = {"R": 1.0, "L": -1.0}
ACCENT_PEAK = 0.92
STROKE_PEAK = 0.66
# The second stroke of a diddle is a rebound, not a fresh stroke.
BOUNCE_FACTOR = 0.85


def sticking(row, data):
    p = row_params(row, data)
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
    return finish(row, lanes.samples())


def flam_accent(row, data):
    p = row_params(row, data)
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
    return finish(row, lanes.samples())


RECIPES = {"sticking": sticking, "flam_accent": flam_accent}
