"""Building blocks for the individually authored rows: events, strokes, splines, finishing."""

from __future__ import annotations

import math

from ._common import PI, plain_sum, quintic, scale_to_peak


class Lanes:
    """Three accumulating axes of one loop, each event touching only its own pips."""

    def __init__(self, period: int):
        self.period = period
        self.axes = [[0.0] * period for _ in range(3)]

    def bump(self, centre: float, vector, attack: float, decay: float | None = None) -> None:
        """A raised-cosine event peaking at `centre` (fractional pips allowed).

        The rise takes `attack` pips and the fall `decay` pips (the same unless given), so a
        hit can strike fast and settle slowly while still peaking on its beat.
        """
        decay = attack if decay is None else decay
        first = math.floor(centre - attack) + 1
        last = math.ceil(centre + decay) - 1
        for k in range(first, last + 1):
            d = k - centre
            w = attack if d < 0 else decay
            shape = 0.5 + 0.5 * math.cos(PI * d / w)
            p = k % self.period
            for a in range(3):
                if vector[a]:
                    self.axes[a][p] += vector[a] * shape

    def stroke(self, centre: float, hand: float, peak: float, length: float) -> None:
        """A drum stroke: a sine-squared swell towards the hand's side with a dip while it sounds.

        Centred on its beat rather than starting on it, so the stroke's fullest point is the
        note's time.
        """
        onset = centre - length / 2
        for k in range(math.floor(onset) + 1, math.ceil(onset + length)):
            v = math.sin((k - onset) / length * PI)
            env = v * peak * v
            p = k % self.period
            self.axes[0][p] += hand * env
            self.axes[1][p] -= env * 0.72

    def ease(self, axis: int, keys: list[tuple[float, float]]) -> None:
        """Add a closed quintic keyframe lane; keys run from pip 0 to the period."""
        lane = self.axes[axis]
        for (ka, va), (kb, vb) in zip(keys, keys[1:]):
            for k in range(math.ceil(ka), math.ceil(kb)):
                if k < self.period:
                    lane[k] += va + (vb - va) * quintic((k - ka) / (kb - ka))

    def samples(self):
        return list(zip(*self.axes))


def finish(row, samples, peak: float | None = None):
    """Scale to the row's peak (if given) and force unused axes to +0.0."""
    if peak is not None:
        samples = scale_to_peak(samples, peak)
    dims = row.dimensions
    return [tuple(float(v) + 0.0 if a < dims else 0.0 for a, v in enumerate(s)) for s in samples]


def periodic_spline(values: list[float], period: int) -> list[float]:
    """Closed C2 cubic spline through equally spaced values, sampled at every pip.

    Solves the cyclic tridiagonal system for the knot second derivatives directly; the
    lanes are short, so a dense elimination is cheap and has no special cases.
    """
    n = len(values)
    h = period / n
    # Row i: m[i-1] + 4 m[i] + m[i+1] = 6 (y[i+1] - 2 y[i] + y[i-1]) / h^2
    a = [[0.0] * n for _ in range(n)]
    b = [0.0] * n
    for i in range(n):
        a[i][i] += 4.0
        a[i][(i - 1) % n] += 1.0
        a[i][(i + 1) % n] += 1.0
        b[i] = 6.0 * (values[(i + 1) % n] - 2.0 * values[i] + values[i - 1]) / (h * h)
    for c in range(n):
        pivot = a[c][c]
        for r in range(c + 1, n):
            f = a[r][c] / pivot
            if f:
                for j in range(c, n):
                    a[r][j] -= f * a[c][j]
                b[r] -= f * b[c]
    m = [0.0] * n
    for r in range(n - 1, -1, -1):
        m[r] = (b[r] - plain_sum(a[r][j] * m[j] for j in range(r + 1, n))) / a[r][r]
    out = []
    for k in range(period):
        i = min(int(k / h), n - 1)
        t = k - i * h
        y0, y1 = values[i], values[(i + 1) % n]
        m0, m1 = m[i], m[(i + 1) % n]
        u = h - t
        out.append((m0 * u ** 3 + m1 * t ** 3) / (6 * h)
                   + (y0 / h - m0 * h / 6) * u + (y1 / h - m1 * h / 6) * t)
    return out
