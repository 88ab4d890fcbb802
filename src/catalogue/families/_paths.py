"""Path building shared by the authored path families.

Points are 3-tuples throughout; 2-D rows simply keep z at zero until `kit.finish`.
"""

from __future__ import annotations

import math

from .kit import PI, bump, fold, plain_sum, quintic

Point = tuple[float, float, float]


def add(a: Point, b: Point, s: float = 1.0) -> Point:
    return (a[0] + s * b[0], a[1] + s * b[1], a[2] + s * b[2])


def lerp(a: Point, b: Point, f: float) -> Point:
    return (a[0] + (b[0] - a[0]) * f, a[1] + (b[1] - a[1]) * f, a[2] + (b[2] - a[2]) * f)


def point(values) -> Point:
    """A point from a data list of two or three numbers."""
    v = [float(c) for c in values]
    return (v[0], v[1], v[2] if len(v) > 2 else 0.0)


def check_name_numbers(row, *numbers: int) -> None:
    """The numbers in a row's name must be the numbers its data gives."""
    in_name = [int(part) for part in row.name.split("_") if part.isdigit()]
    if in_name != list(numbers):
        raise ValueError(f"data gives {list(numbers)} but the name says {in_name}")


def eased_keys(keys: list[tuple[float, Point]], period: int,
               bows: dict[int, Point] | None = None) -> list[Point]:
    """Quintic moves between keyframes (pip, point): every key is a resting point.

    The keys run from pip 0 and the loop closes back on the first key at `period`. A bow
    (segment index -> vector) bends that move's path toward the vector, fully at mid-move.
    """
    bows = bows or {}
    closed = list(keys) + [(float(period), keys[0][1])]
    out: list[Point] = []
    seg = 0
    for k in range(period):
        while k >= closed[seg + 1][0]:
            seg += 1
        (ta, pa), (tb, pb) = closed[seg], closed[seg + 1]
        q = quintic((k - ta) / (tb - ta))
        p = lerp(pa, pb, q)
        if seg in bows:
            p = add(p, bows[seg], math.sin(PI * q))
        out.append(p)
    return out


def _length(a: Point, b: Point) -> float:
    return math.sqrt((b[0] - a[0]) ** 2 + (b[1] - a[1]) ** 2 + (b[2] - a[2]) ** 2)


def uniform_loop(dense: list[Point], count: int) -> list[Point]:
    """Resample a closed dense polyline to `count` points evenly spaced along its length."""
    closed = dense + [dense[0]]
    cum = [0.0]
    for a, b in zip(closed, closed[1:]):
        cum.append(cum[-1] + _length(a, b))
    total = cum[-1]
    out = []
    j = 0
    for i in range(count):
        s = total * i / count
        while cum[j + 1] < s:
            j += 1
        span = cum[j + 1] - cum[j]
        out.append(lerp(closed[j], closed[j + 1], (s - cum[j]) / span if span else 0.0))
    return out


def _box_smooth(points: list[Point], half: int) -> list[Point]:
    """Circular moving average over 2 * half + 1 points (running sums, linear time)."""
    n = len(points)
    width = 2 * half + 1
    out = []
    acc = [plain_sum(points[i % n][a] for i in range(-half, half + 1)) for a in range(3)]
    for i in range(n):
        out.append((acc[0] / width, acc[1] / width, acc[2] / width))
        leave, enter = points[(i - half) % n], points[(i + half + 1) % n]
        for a in range(3):
            acc[a] += enter[a] - leave[a]
    return out


class CornerTour:
    """A closed tour through vertices with rounded corners and a timed visit of each.

    Segment i runs from vertex i to vertex i + 1, optionally bowed toward bows[i]. The
    sharp path is resampled evenly, then its corners are rounded by smoothing over
    `rounding` (a length). Each vertex is given a dwell (pips spent easing slowly round
    its corner) and each segment a travel time; vertex 0 is passed at pip 0.
    """

    DENSITY = 4096
    SLOW = 0.06          # pace at the heart of a dwell, relative to full travel pace

    def __init__(self, vertices: list[Point], rounding: float, bows: list[Point] | None = None):
        n = len(vertices)
        bows = bows or [(0.0, 0.0, 0.0)] * n
        dense: list[Point] = []
        marks = []                       # dense index at which each vertex sits
        for i in range(n):
            a, b = vertices[i], vertices[(i + 1) % n]
            steps = 64
            marks.append(len(dense))
            for j in range(steps):
                w = j / steps
                dense.append(add(lerp(a, b, w), bows[i], math.sin(PI * w)))
        # Even spacing, keeping track of where each vertex lands along the length.
        closed = dense + [dense[0]]
        cum = [0.0]
        for a, b in zip(closed, closed[1:]):
            cum.append(cum[-1] + _length(a, b))
        total = cum[-1]
        count = self.DENSITY
        self.vertex_at = [cum[m] / total * count for m in marks]
        # Two box passes make a triangular kernel reaching `rounding` either side.
        half = max(1, int(rounding / total * count / 2))
        self.points = _box_smooth(_box_smooth(uniform_loop(dense, count), half), half)

    def sample(self, dwell: list[float], travel: list[float], period: int) -> list[Point]:
        n = len(self.vertex_at)
        count = self.DENSITY
        if abs(plain_sum(dwell) + plain_sum(travel) - period) > 1e-9:
            raise ValueError(f"dwell and travel times add up to {plain_sum(dwell) + plain_sum(travel)}, not {period}")
        # Vertex i is passed at times[i]; around it the pace drops to SLOW over its dwell.
        times = [0.0]
        for i in range(n - 1):
            times.append(times[-1] + dwell[i] / 2 + travel[i] + dwell[i + 1] / 2)

        def pace(t: float) -> float:
            still = 1.0
            for ti, di in zip(times, dwell):
                still *= 1 - bump(fold(t - ti, period), di)
            return self.SLOW + (1 - self.SLOW) * still

        # Within each stretch between two vertices, progress along the path follows the
        # running integral of the pace, normalised to land on the next vertex on time.
        sub = 8
        out: list[Point] = [None] * period  # type: ignore[list-item]
        for i in range(n):
            t0 = times[i]
            t1 = times[i + 1] if i + 1 < n else float(period)
            s0 = self.vertex_at[i]
            s1 = self.vertex_at[i + 1] if i + 1 < n else float(count)
            steps = max(1, int((t1 - t0) * sub))
            h = (t1 - t0) / steps
            cum = [0.0]
            for j in range(steps):
                cum.append(cum[-1] + h * pace(t0 + (j + 0.5) * h))
            for k in range(math.ceil(t0), math.ceil(t1)):
                f = (k - t0) / h
                j = min(int(f), steps - 1)
                done = cum[j] + (cum[j + 1] - cum[j]) * (f - j)
                pos = (s0 + (s1 - s0) * done / cum[-1]) % count
                m = int(pos)
                out[k] = lerp(self.points[m], self.points[(m + 1) % count], pos - m)
        return out
