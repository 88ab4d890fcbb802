"""Ribbons and tubes: the ribbon_, surface_ and braid_ rows."""

from __future__ import annotations

import math

from ._paths import check_name_numbers
from .kit import PEAK, TAU, finish


sin, cos = math.sin, math.cos


def _params(row, data):
    p = data[row.name]
    check_name_numbers(row, *p["frequencies"])
    return p


def _tilted(x, y, z, tilt):
    """Turn about the x axis, so a flat loop leans into depth."""
    return x, y * cos(tilt) - z * sin(tilt), y * sin(tilt) + z * cos(tilt)


def ribbon(row, data):
    p = _params(row, data)
    a, b = p["frequencies"]
    out = []
    for k in range(row.period_pips):
        t = TAU * k / row.period_pips
        theta = a * t + p["phase"]
        # The width itself breathes once per spine turn, and the depth follows it.
        width = p["width"] * (1 + p["width_swing"] * cos(theta))
        across = width * sin(b * t)
        x = (p["spine_x"] + across) * cos(theta)
        y = (p["spine_y"] + across) * sin(theta) + p["bend"] * cos(2 * theta)
        z = p["depth"] * (width / p["width"]) * cos(b * t + p["depth_lag"])
        out.append(_tilted(x, y, z, p["tilt"]))
    return finish(out, row.dimensions, PEAK)


def surface(row, data):
    """Longitude sweeps the depth and horizontal axes; latitude rides up and down."""
    p = _params(row, data)
    a, b = p["frequencies"]
    out = []
    for k in range(row.period_pips):
        t = TAU * k / row.period_pips
        lon = a * t
        lat = p["latitude"] + p["latitude_swing"] * sin(b * t + p["phase"])
        radius = 1 + p["radius_swing"] * cos((a + b) * t + p["radius_phase"])
        x = p["stretch"] * radius * cos(lat) * cos(lon)
        y = radius * sin(lat)
        z = p["flatten"] * radius * cos(lat) * sin(lon)
        out.append((x, y, z))
    return finish(out, row.dimensions, PEAK)


def braid(row, data):
    p = _params(row, data)
    a, b = p["frequencies"]
    ox, oy = p["offset"]
    out = []
    for k in range(row.period_pips):
        t = TAU * k / row.period_pips
        c, s = cos(a * t), sin(a * t)
        roll = b * t + p["roll_phase"]
        # Cross-section: one radius out from the centreline, the other in depth; a `sweep`
        # along the centreline turns each roll into a loop that crosses over itself. Depth
        # turning `weave` times a roll, one less than the strands, puts every strand over and
        # under in turn where the strands cross.
        out_r = p["section"][0] * cos(roll)
        along = p["sweep"] * sin(roll)
        x = ox + (p["centre"][0] + out_r) * c - along * s
        y = oy + (p["centre"][1] + out_r) * s + along * c
        z = p["section"][1] * sin(p["weave"] * roll) + p["ripple"] * sin(p["ripple_cycles"] * t + p["ripple_phase"])
        out.append(_tilted(x, y, z, p["tilt"]))
    return finish(out, row.dimensions, PEAK)
