"""Small shared helpers for recipes: constants, bumps, easing and peak scaling."""

from __future__ import annotations

import math

TAU = 6.283185307179586
PI = 3.141592653589793


def fold(d: float, period: int) -> float:
    """A signed pip distance folded into [-period/2, period/2)."""
    half = period / 2
    return (d + half) % period - half


def cos_bump(d: float, half_width: float) -> float:
    """Raised-cosine bump of the given half-width, 1 at d = 0."""
    if abs(d) >= half_width:
        return 0.0
    return 0.5 + 0.5 * math.cos(PI * d / half_width)


def smoothstep(f: float) -> float:
    return (3 - (f + f)) * (f * f)


def quintic(u: float) -> float:
    """Ease with zero slope and curvature at both ends."""
    return u * u * u * (u * (u * 6 - 15) + 10)


def scale_to_peak(samples: list[tuple[float, float, float]], peak: float = 0.82):
    """Scale all axes together so that the largest absolute component is `peak`."""
    largest = max(abs(v) for s in samples for v in s)
    s = peak / largest
    return [(x * s, y * s, z * s) for x, y, z in samples]


def plain_sum(values) -> float:
    """Left-to-right addition, as written.

    The built-in sum() of floats compensates rounding error from Python 3.12 on, so its
    result depends on the interpreter that runs the generator; the catalogue must not.
    """
    total = 0
    for v in values:
        total = total + v
    return total
