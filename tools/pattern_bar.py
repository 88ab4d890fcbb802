"""Measures of motion quality shared by the tests and the preview tool.

A pattern here is a list of (x, y, z) samples, one per pip of its loop.
"""

from __future__ import annotations

import math
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "src" / "catalogue"))

from checks import MAX_STEP, MIN_SPAN  # noqa: E402, F401  (the generator's own bar)

Samples = list[tuple[float, float, float]]

MIN_RMS = 0.02        # two rows of one family differ at least this much


def steps(samples: Samples, axis: int) -> list[float]:
    """Absolute steps k -> k + 1 on one axis; the last entry is the seam back to sample 0."""
    n = len(samples)
    return [abs(samples[(k + 1) % n][axis] - samples[k][axis]) for k in range(n)]


def max_step(samples: Samples) -> float:
    return max(max(steps(samples, a)) for a in range(3))


def seam_jump(samples: Samples) -> float:
    """How far the seam step exceeds its neighbours' on the worst axis (0 for a smooth seam).

    A loop that closes smoothly moves across the seam about as fast as in the few pips
    around it (a quick flick may straddle the seam); a reset jump stands out against them.
    """
    worst = 0.0
    for a in range(3):
        st = steps(samples, a)
        seam = st[-1]
        neighbours = max(st[-5:-1] + st[:4])
        worst = max(worst, seam - (2 * neighbours + 0.005))
    return worst


def spans(samples: Samples) -> tuple[float, float, float]:
    return tuple(max(s[a] for s in samples) - min(s[a] for s in samples) for a in range(3))


def peak(samples: Samples) -> float:
    return max(abs(v) for s in samples for v in s)


def resample(samples: Samples, length: int = 1024) -> Samples:
    """Linear resampling of a loop to `length` points over the same phase."""
    n = len(samples)
    out = []
    for j in range(length):
        t = j * n / length
        k = int(t)
        f = t - k
        a, b = samples[k % n], samples[(k + 1) % n]
        out.append(tuple(a[i] + (b[i] - a[i]) * f for i in range(3)))
    return out


def rms_distance(a: Samples, b: Samples, length: int = 1024) -> float:
    ra, rb = resample(a, length), resample(b, length)
    total = sum((p[i] - q[i]) ** 2 for p, q in zip(ra, rb) for i in range(3))
    return math.sqrt(total / (3 * length))


def closest_pair(patterns: dict[str, Samples]) -> tuple[float, str, str]:
    """The two most similar patterns of a group, by RMS distance."""
    names = sorted(patterns)
    res = {n: resample(patterns[n]) for n in names}
    best = (math.inf, "", "")
    for i, m in enumerate(names):
        for n in names[i + 1:]:
            total = sum((p[k] - q[k]) ** 2 for p, q in zip(res[m], res[n]) for k in range(3))
            best = min(best, (math.sqrt(total / (3 * 1024)), m, n))
    return best


def local_extrema(values: list[float], minimum: bool = False) -> list[int]:
    """Indices of cyclic local maxima (or minima) of a lane; plateaus report their first pip."""
    n = len(values)
    sign = -1.0 if minimum else 1.0
    out = []
    for k in range(n):
        v = sign * values[k]
        if v > sign * values[k - 1] and v >= sign * values[(k + 1) % n]:
            out.append(k)
    return out
