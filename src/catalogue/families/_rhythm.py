"""Rhythmic building blocks: smooth events summed over a loop, eased key frames, finishing."""

from __future__ import annotations

import math
from fractions import Fraction
from typing import NamedTuple

from .kit import PI, PIPS_PER_BEAT, TAU, bump, eased_lane

class Event(NamedTuple):
    """A raised-cosine bump of `vec` centred on `pip`; with a cycle, an oscillation packet.

    `curl` adds an odd swing (out one way, back the other) that turns the gesture's straight
    out-and-back into a loop without moving its peak.
    """

    pip: float
    half: float
    vec: tuple[float, float, float]
    cycle: float = 0.0
    curl: tuple[float, float, float] = (0.0, 0.0, 0.0)


def beat(value) -> Fraction:
    """A beat position or length as written in the data: a number or a fraction such as "3/4"."""
    return Fraction(value) if isinstance(value, (str, int)) else Fraction(str(value))


def pips(beats) -> float:
    return float(beat(beats) * PIPS_PER_BEAT)


def render(period: int, events: list[Event]) -> list[list[float]]:
    """Sum the events over one loop; an event crossing the loop's end continues at its start."""
    out = [[0.0, 0.0, 0.0] for _ in range(period)]
    for e in events:
        for k in range(math.ceil(e.pip - e.half), math.floor(e.pip + e.half) + 1):
            d = k - e.pip
            w = bump(d, e.half)
            if w == 0.0:
                continue
            odd = w * math.sin(PI * d / e.half)
            if e.cycle:
                w *= math.cos(TAU * d / e.cycle)
            s = out[k % period]
            for a in range(3):
                s[a] += e.vec[a] * w + e.curl[a] * odd
    return out


def drift(samples: list[list[float]], terms: list[tuple[int, int, float, float]]) -> None:
    """Add slow closed sway under the events: (axis, cycles per loop, amplitude, phase)."""
    period = len(samples)
    for axis, cycles, amp, phase in terms:
        for k, s in enumerate(samples):
            s[axis] += amp * math.sin(TAU * cycles * k / period + phase)


def require_apart(period: int, events: list[Event], axis: int, what: str) -> None:
    """Fail unless the events that move `axis` never overlap, so each peaks on its own pip."""
    lane = sorted((e for e in events if e.vec[axis] != 0.0 or e.curl[axis] != 0.0),
                  key=lambda e: e.pip % period)
    for i, e in enumerate(lane):
        nxt = lane[(i + 1) % len(lane)]
        gap = (nxt.pip - e.pip) % period if len(lane) > 1 else period
        if gap < e.half + nxt.half - 1e-9:
            raise ValueError(f"{what}: events at pips {e.pip:g} and {nxt.pip:g} overlap "
                             f"on axis {'xyz'[axis]}")


def fit_halves(period: int, at: list[float], cap: float, share: float = 0.49) -> list[float]:
    """Half-widths for a sequence of event pips: at most `cap`, and never reaching a neighbour."""
    order = sorted(range(len(at)), key=lambda i: at[i] % period)
    halves = [cap] * len(at)
    for j, i in enumerate(order):
        prev, nxt = at[order[j - 1]], at[order[(j + 1) % len(order)]]
        room = min((at[i] - prev) % period, (nxt - at[i]) % period) if len(at) > 1 else period
        halves[i] = min(cap, share * room)
    return halves


def keyframes(period: int, keys: list[tuple[float, float]], bow: float = 1.0) -> list[float]:
    """An eased lane (kit.eased_lane) that must close on its first value."""
    if keys[0][1] != keys[-1][1]:
        raise ValueError("keys must close on the first value")
    return eased_lane(keys, period, bow)
