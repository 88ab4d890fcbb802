"""Pan and tilt that point a head at a point of the stage.

The stage frame (metres): the origin on the stage floor at the middle of its front edge, x to
the right as the audience sees it, y upstage (away from the audience), z up.

A head's own angles are counted from the middle of its ranges: pan `a` about the yoke's axis,
tilt `b` from that axis. At a = 0 the head faces the audience (-y); tilting leans the beam
toward where it faces. On the floor the yoke's axis points up:

    beam = (sin b sin a, -sin b cos a, cos b)

A head on a truss is the floor head turned half a turn about the y axis: x and z change sign.
Every direction off the yoke's axis has two kinds of solution, (a, b) and (a + 180, -b), each
repeating every 360 degrees of pan; of those the ranges and limits allow, the one nearest the
pan of the last frame wins, so a head never swings round the long way during a move.
"""

from __future__ import annotations

import math
from math import atan2, hypot
from typing import NamedTuple

Vector = tuple[float, float, float]
# a beam closer than this to the yoke's axis has no pan of its own: keep the last one
STRAIGHT = 1e-9
# below 90 degrees by far more than rounding can reach
NEAR = 89.0
# math.degrees is exactly this product; a name of the module per call costs more than it
DEGREES = 180.0 / math.pi


def beam(pan: float, tilt: float, pan_span: float, tilt_span: float, hang: str) -> Vector:
    """The unit beam direction of a head at `pan` and `tilt` degrees (0 is DMX 0)."""
    a = math.radians(pan - pan_span / 2)
    b = math.radians(tilt - tilt_span / 2)
    x, y, z = math.sin(b) * math.sin(a), -math.sin(b) * math.cos(a), math.cos(b)
    return (-x, y, -z) if hang == "truss" else (x, y, z)


def solve(position: Vector, target: Vector, pan_span: float, tilt_span: float, hang: str,
          pan_limits: tuple[float, float], tilt_limits: tuple[float, float],
          last_pan: float | None) -> tuple[float, float, bool]:
    """(pan, tilt, clamped): the angles that point the beam at `target`, or, where the limits
    keep it from reaching, the nearest the limits allow, with clamped set."""
    return solver(position, pan_span, tilt_span, hang, pan_limits, tilt_limits)(
        target[0], target[1], target[2], last_pan)


class Aim(NamedTuple):
    """`solve` for one head, its constants read once: call it with the target's x, y, z and
    the last pan (or None)."""
    px: float
    py: float
    pz: float
    truss: bool
    half_pan: float
    half_tilt: float
    pan_low: float
    pan_high: float
    tilt_low: float
    tilt_high: float

    def __call__(self, tx: float, ty: float, tz: float, last_pan: float | None
                 ) -> tuple[float, float, bool]:
        px, py, pz, truss, half_pan, half_tilt, pan_low, pan_high, tilt_low, tilt_high = self
        dx, dy, dz = tx - px, ty - py, tz - pz
        if truss:
            dx, dz = -dx, -dz
        across = hypot(dx, dy)
        reference = half_pan if last_pan is None else last_pan
        # the length is at most across + |dz|: most beams are clear of the axis by that alone
        if (across <= STRAIGHT * (across + (dz if dz > 0.0 else -dz))
                and across <= STRAIGHT * (length := hypot(across, dz))):
            # on the axis (or at the head itself): any pan will do, so keep it
            pan = min(max(reference, pan_low), pan_high)
            tilt = half_tilt if length == 0.0 or dz > 0 else half_tilt + 180.0
            tilt_kept = min(max(tilt, tilt_low), tilt_high)
            return pan, tilt_kept, tilt_kept != tilt
        b = atan2(across, dz) * DEGREES           # 0 .. 180 from the axis
        a = atan2(dx, -dy) * DEGREES
        # the usual case, a move from the last frame: the first branch's pan lies within the
        # limits and less than NEAR from the last pan, so no other turn (at least 360 - NEAR
        # away) and no pan of the other branch (at least 180 - NEAR) is nearer
        tilt, pan = b + half_tilt, a + half_pan
        if (tilt_low <= tilt <= tilt_high and pan_low <= pan <= pan_high
                and -NEAR < reference - pan < NEAR):
            return pan, tilt, False
        # otherwise some solution may still lie within the limits; the nearest pan of a
        # branch is one of three turns
        best = None
        for pan, tilt in ((a + half_pan, b + half_tilt), (a + 180.0 + half_pan, half_tilt - b)):
            if not tilt_low <= tilt <= tilt_high:
                continue
            pan += 360.0 * round((reference - pan) / 360.0)
            for candidate in (pan, pan - 360.0, pan + 360.0):
                if pan_low <= candidate <= pan_high:
                    distance = abs(candidate - reference)
                    if best is None or distance < best:
                        best, best_pan, best_tilt = distance, candidate, tilt
        if best is not None:
            return best_pan, best_tilt, False
        return _least_clamped(a, b, half_pan, half_tilt, pan_low, pan_high, tilt_low,
                              tilt_high, reference)


def solver(position: Vector, pan_span: float, tilt_span: float, hang: str,
           pan_limits: tuple[float, float], tilt_limits: tuple[float, float]) -> Aim:
    return Aim(*position, hang == "truss", pan_span / 2, tilt_span / 2, *pan_limits,
               *tilt_limits)


def _least_clamped(a, b, half_pan, half_tilt, pan_low, pan_high, tilt_low, tilt_high,
                   reference) -> tuple[float, float, bool]:
    """Where no solution lies within the limits: the least clamped of every solution in reach
    of the range."""
    best = None
    for base_a, base_b in ((a, b), (a + 180.0, -b)):
        tilt = base_b + half_tilt
        # every pan of this branch within reach of the pan range
        first = math.ceil((-half_pan - base_a) / 360.0)
        last = math.floor((half_pan - base_a) / 360.0)
        for turn in range(first - 1, last + 2):
            pan = base_a + 360.0 * turn + half_pan
            kept_pan = min(max(pan, pan_low), pan_high)
            kept_tilt = min(max(tilt, tilt_low), tilt_high)
            miss = abs(kept_pan - pan) + abs(kept_tilt - tilt)
            key = (miss, abs(kept_pan - reference))
            if best is None or key < best[0]:
                best = (key, kept_pan, kept_tilt)
    (miss, _), pan, tilt = best
    return pan, tilt, miss > 0.0
