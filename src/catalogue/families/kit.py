"""Building blocks that every family shares, each written once with one edge rule.

A lane is a list of floats, value k at pip k of a loop; a sample is an (x, y, z) tuple.
"""

from __future__ import annotations

import math
import re

PIPS_PER_BEAT = 64
# The catalogue's peak-scaling convention: a scaled row's largest component is exactly this.
PEAK = 0.82
TAU = 6.283185307179586
PI = 3.141592653589793


def plain_sum(values) -> float:
    """Left-to-right addition, as written.

    The built-in sum() of floats compensates rounding error from Python 3.12 on, so its
    result depends on the interpreter that runs the generator; the catalogue must not.
    """
    total = 0
    for v in values:
        total = total + v
    return total


def name_numbers(name: str) -> list[int]:
    """The integers written in a row's name, in order (`weave_3_7` gives [3, 7])."""
    return [int(n) for n in re.findall(r"\d+", name)]


def fold(d: float, period: int) -> float:
    """A signed pip distance folded into [-period/2, period/2)."""
    half = period / 2
    return (d + half) % period - half


def bump(d: float, attack: float, release: float | None = None) -> float:
    """Raised-cosine bump, 1 at d = 0, rising over `attack` pips and falling over `release`.

    Zero outside the open interval (-attack, release); at its edges the cosine is exactly 0
    anyway, so which side an edge pip counts on never matters.
    """
    width = attack if d < 0 else (attack if release is None else release)
    if abs(d) >= width:
        return 0.0
    return 0.5 + 0.5 * math.cos(PI * d / width)


def add_bump(lane: list[float], pip: float, amp: float, attack: float,
             release: float | None = None) -> None:
    """Add amp times a bump peaking at `pip` (fractional allowed); it wraps round the loop."""
    period = len(lane)
    release = attack if release is None else release
    for k in range(math.floor(pip - attack) + 1, math.ceil(pip + release)):
        lane[k % period] += amp * bump(k - pip, attack, release)


def smoothstep(f: float) -> float:
    return (3 - (f + f)) * (f * f)


def quintic(u: float) -> float:
    """Ease with zero slope and curvature at both ends."""
    return u * u * u * (u * (u * 6 - 15) + 10)


def eased_lane(keys, period: int, bow: float = 1.0) -> list[float]:
    """Quintic eases between ascending (pip, value) keys that span pips 0 to `period`.

    Every key is a resting point; equal neighbouring values make a hold. A `bow` other than
    1 makes moves alternately late and early, so that a lane eased with it beside an unbowed
    lane bends the path between key poses instead of drawing a line.
    """
    if keys[0][0] > 0 or keys[-1][0] < period:
        raise ValueError(f"keys must span pip 0 to pip {period}")
    if any(a[0] >= b[0] for a, b in zip(keys, keys[1:])):
        raise ValueError("keys must ascend")
    out = []
    j = 0
    for k in range(period):
        while keys[j + 1][0] <= k:
            j += 1
        (ka, va), (kb, vb) = keys[j], keys[j + 1]
        u = (k - ka) / (kb - ka)
        if bow != 1.0:
            u = u ** bow if j % 2 == 0 else 1.0 - (1.0 - u) ** bow
        out.append(va + (vb - va) * quintic(u))
    return out


def closed_keys(keys, period: int):
    """Keys of one loop, anywhere in it, extended across the seam for `eased_lane`."""
    keys = sorted(keys)
    (first, v_first), (last, v_last) = keys[0], keys[-1]
    return [(last - period, v_last)] + keys + [(first + period, v_first)]


# A stroke of height p comes down to y = STROKE_DROP * p: the authored stroke rows hit on
# the downstroke (+y), as the beat studies do.
STROKE_DROP = 0.72


def add_stroke(xs: list[float], ys: list[float], onset: float, hand: float, peak: float,
               length: float) -> None:
    """A drum stroke, the module's own stroke envelope: sin^2 of the stroke's phase.

    Pushes x toward the hand's side (+1 right, -1 left) and brings y down while it sounds,
    over the pips strictly inside (onset, onset + length); the envelope's products are
    taken in the same order as in the compiled rudiments.
    """
    period = len(xs)
    for k in range(math.floor(onset) + 1, math.ceil(onset + length)):
        v = math.sin((k - onset) / length * PI)
        env = (v * peak) * v
        xs[k % period] += hand * env
        ys[k % period] += env * STROKE_DROP


def scale_to_peak(samples, peak: float = PEAK):
    """Scale all axes together so that the largest absolute component is `peak`."""
    largest = max(abs(v) for s in samples for v in s)
    s = peak / largest
    return [(x * s, y * s, z * s) for x, y, z in samples]


def finish(samples, dimensions: int, peak: float | None = None):
    """Scale to `peak` (when given), round to twelve decimals, and make every zero +0.0.

    Rounding here rather than only in the generator lets the +0.0 survive: a tiny negative
    value would otherwise round to -0.0.
    """
    if peak is not None:
        samples = scale_to_peak(samples, peak)
    return [tuple(round(v, 12) + 0.0 if a < dimensions else 0.0 for a, v in enumerate(s))
            for s in samples]


def spline_loop(points, durations, period: int):
    """Closed cubic through `points` (tuples), segment i lasting durations[i] pips.

    Tangents are central differences over the neighbouring knot times (Catmull-Rom where the
    segments are equal), so speed stays continuous across knots even where times differ.
    """
    n = len(points)
    dims = len(points[0])
    times = [0.0]
    for d in durations:
        times.append(times[-1] + d)
    if abs(times[-1] - period) > 1e-9:
        raise ValueError(f"segment times add up to {times[-1]}, not {period}")
    tangents = []
    for i in range(n):
        dt = durations[i - 1] + durations[i]
        tangents.append(tuple((points[(i + 1) % n][a] - points[i - 1][a]) / dt
                              for a in range(dims)))
    out = []
    seg = 0
    for k in range(period):
        while k >= times[seg + 1]:
            seg += 1
        h = durations[seg]
        u = (k - times[seg]) / h
        u2, u3 = u * u, u * u * u
        h00, h10, h01, h11 = 2 * u3 - 3 * u2 + 1, u3 - 2 * u2 + u, -2 * u3 + 3 * u2, u3 - u2
        p0, p1 = points[seg], points[(seg + 1) % n]
        m0, m1 = tangents[seg], tangents[(seg + 1) % n]
        out.append(tuple(h00 * p0[a] + h10 * h * m0[a] + h01 * p1[a] + h11 * h * m1[a]
                         for a in range(dims)))
    return out


class Lanes:
    """Three accumulating lanes of one loop, for recipes that add events one by one."""

    def __init__(self, period: int):
        self.period = period
        self.axes = [[0.0] * period for _ in range(3)]

    def bump(self, centre: float, vector, attack: float, release: float | None = None) -> None:
        for lane, amp in zip(self.axes, vector):
            if amp:
                add_bump(lane, centre, amp, attack, release)

    def stroke(self, centre: float, hand: float, peak: float, length: float) -> None:
        """A stroke centred on its beat, so that its fullest point is the note's time."""
        add_stroke(self.axes[0], self.axes[1], centre - length / 2, hand, peak, length)

    def ease(self, axis: int, keys) -> None:
        for k, v in enumerate(eased_lane(keys, self.period)):
            self.axes[axis][k] += v

    def samples(self):
        return list(zip(*self.axes))
