"""Mechanisms and linkages: the mech_ and arm_ rows and the slider-crank of path_crank_slider."""

from __future__ import annotations

import math

from catalogue_data import DataError

from .kit import TAU, bump, plain_sum, quintic, scale_to_peak
from ._kinematics import centred, circle_meet, link_point


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


sin, cos, sqrt, radians = math.sin, math.cos, math.sqrt, math.radians


def _offset_crank(t, p):
    # The slider's travel against the crank pin's height: the offset makes one stroke take
    # more of the turn than the other, so the return visibly hurries.
    pin = (cos(t), sin(t))
    rise = pin[1] - p["offset"]
    slider = pin[0] + sqrt(p["rod"] ** 2 - rise * rise)
    return slider, p["follow"] * pin[1], 0.0


def _scotch_yoke(t, p):
    lean = math.atan2(cos(t), p["pivot"])
    return p["lever"] * sin(lean), p["lever"] * cos(lean) - p["pivot"], 0.0


def _whitworth(t, p):
    pivot = (0.0, -p["pivot"])
    lever = math.atan2(sin(t) - pivot[1], cos(t))
    end = (p["lever"] * cos(lever), pivot[1] + p["lever"] * sin(lever))
    drop = end[1] - pivot[1]
    ram = (end[0] + sqrt(p["rod"] ** 2 - drop * drop), pivot[1])
    return 0.5 * (end[0] + ram[0]), 0.5 * (end[1] + ram[1]), 0.0


def _flat_follower(lift, slope):
    # A flat face touches the cam where the lift's slope puts it off the follower's axis.
    return slope, lift, 0.0


def _elliptic_cam(t, p):
    a, b, c = p["major"], p["minor"], p["offset"]
    # The follower's direction, seen from the turning cam.
    ux, uy = sin(t), cos(t)
    reach = sqrt(a * a * ux * ux + b * b * uy * uy)
    lift = c * ux + reach
    slope = c * uy + (a * a - b * b) * ux * uy / reach
    return _flat_follower(lift, slope)


def _harmonic_cam(t, p):
    terms = [(amp, lobes, radians(phase)) for amp, lobes, phase in p["harmonics"]]
    lift = p["base"] + plain_sum(a * cos(n * t + f) for a, n, f in terms)
    slope = -plain_sum(a * n * sin(n * t + f) for a, n, f in terms)
    return _flat_follower(lift, slope)


def _cam_return(t, p):
    rise, dwell, fall = (radians(p[k]) for k in ("rise", "dwell", "fall"))
    h = p["lift"]
    if t < rise:
        u, span, sign, start = t / rise, rise, 1.0, 0.0
    elif t < rise + dwell:
        return _flat_follower(p["base"] + h, 0.0)
    elif t < rise + dwell + fall:
        u, span, sign, start = (t - rise - dwell) / fall, fall, -1.0, h
    else:
        return _flat_follower(p["base"], 0.0)
    lift = start + sign * h * (u - sin(TAU * u) / TAU)
    slope = sign * h * (1 - cos(TAU * u)) / span
    return _flat_follower(p["base"] + lift, slope)


def _escapement(t, p, pip, period):
    teeth = p["teeth"]
    beat = period // teeth
    tick, into = divmod(pip, beat)
    turned = tick + quintic(min(into / p["drop"], 1.0))
    # After the drop the pallet catches the tooth and pushes the wheel back a little.
    width = p["recoil_pips"]
    d = into - p["drop"] - width
    turned -= p["recoil"] * bump(d, width)
    angle = TAU * turned / teeth
    return sin(angle), cos(angle), 0.0


def _paddle(t, p):
    pivot = (cos(t), sin(t))
    e = radians(p["eccentric_angle"])
    eccentric = (p["eccentric"] * cos(e), p["eccentric"] * sin(e))
    arm = circle_meet(pivot, p["arm"], eccentric, 1.0, 1)
    ax, ay = (arm[0] - pivot[0]) / p["arm"], (arm[1] - pivot[1]) / p["arm"]
    b = radians(p["blade_angle"])
    return (pivot[0] + p["blade"] * (ax * cos(b) - ay * sin(b)),
            pivot[1] + p["blade"] * (ax * sin(b) + ay * cos(b)), 0.0)


def _wobble_plate(t, p):
    tilt = radians(p["tilt"])
    spin = p["spin"] * t
    rim = (cos(spin), sin(spin), 0.0)
    # Tilt the plate about the horizontal axis at right angles to the nutation direction.
    w = p["wobbles"] * t
    k = (-sin(w), cos(w), 0.0)
    c, s = cos(tilt), sin(tilt)
    dot = k[0] * rim[0] + k[1] * rim[1]
    cross = (k[1] * rim[2], -k[0] * rim[2], k[0] * rim[1] - k[1] * rim[0])
    return tuple(rim[i] * c + cross[i] * s + k[i] * dot * (1 - c) for i in range(3))


def _rocking_beam(t, p):
    pin = (cos(t), sin(t))
    pivot = tuple(p["pivot"])
    near = circle_meet(pin, p["rod"], pivot, p["near_end"], 1)
    scale = p["far_end"] / p["near_end"]
    return (pivot[0] + (pivot[0] - near[0]) * scale, pivot[1] + (pivot[1] - near[1]) * scale, 0.0)


def _coupled_cranks(t, p):
    pin = (p["crank"] * cos(t), p["crank"] * sin(t))
    out = circle_meet(pin, p["coupler"], (p["ground"], 0.0), p["follower"], 1)
    x, y = link_point(pin, out, p["along"], p["across"])
    return x, y, 0.0


def _crank_rocker(t, p):
    pin = (cos(t), sin(t))
    pivot = (p["ground"], 0.0)
    tip = circle_meet(pin, p["coupler"], pivot, p["rocker"], 1)
    x, y = link_point(pin, tip, p["along"], p["across"])
    return x, y, tip[0] - pivot[0]


def _piston_balance(t, p):
    piston = cos(t) + sqrt(p["rod"] ** 2 - sin(t) ** 2)
    return piston, -p["balance"] * sin(t), -p["balance"] * cos(t)


MECHANISMS = {
    "mech_offset_crank": _offset_crank,
    "mech_scotch_yoke": _scotch_yoke,
    "mech_whitworth": _whitworth,
    "mech_elliptic_cam": _elliptic_cam,
    "mech_two_lobe_cam": _harmonic_cam,
    "mech_three_lobe_cam": _harmonic_cam,
    "mech_cam_return": _cam_return,
    "mech_paddle": _paddle,
    "mech_wobble_plate": _wobble_plate,
    "mech_rocking_beam": _rocking_beam,
    "mech_coupled_cranks": _coupled_cranks,
    "mech_crank_rocker": _crank_rocker,
    "mech_piston_balance": _piston_balance,
}


def mech(row, data):
    params = data[row.name]
    n = row.period_pips
    if row.name not in MECHANISMS and row.name != "mech_escapement":
        raise DataError(f"no mechanism is written for {row.name}")
    if row.name == "mech_escapement":
        raw = [_escapement(TAU * k / n, params, k, n) for k in range(n)]
    else:
        trace = MECHANISMS[row.name]
        raw = [trace(TAU * k / n, params) for k in range(n)]
    # The geometry is worked with y up, as drawn on paper; the catalogue's y points down.
    flat = [(s[0], -s[1], s[2] if row.dimensions == 3 else 0.0) for s in raw]
    return scale_to_peak(centred(flat))


def _joint(program, t):
    """A joint angle in radians: a rest angle plus whole-loop harmonic swings (degrees)."""
    return radians(program["rest"] + plain_sum(a * sin(h * t + radians(f)) for a, h, f in program["swing"]))


def arm(row, data):
    params = data[row.name]
    upper, fore = params["links"]
    # The reach of the arm maps to this much of the field, the same for every row.
    scale = data["reach_scale"] / (upper + fore)
    n = row.period_pips
    raw = []
    for k in range(n):
        t = TAU * k / n
        shoulder = _joint(params["shoulder"], t)
        elbow = shoulder + _joint(params["elbow"], t)
        out = upper * cos(shoulder) + fore * cos(elbow)
        up = upper * sin(shoulder) + fore * sin(elbow)
        if row.dimensions == 3:
            # The arm's plane turns about the vertical through the shoulder.
            yaw = _joint(params["yaw"], t)
            raw.append((out * cos(yaw), up, out * sin(yaw)))
        else:
            raw.append((out, up, 0.0))
    return [tuple(v * scale for v in s) for s in centred(raw)]
