"""Lane builders for the beat motions: eased bumps, keyed paths, warped phase, a driven spring.

A lane is a list of `period` floats, value k at pip k of the loop. Every builder closes the
loop: an event near the end continues at the start.
"""

from __future__ import annotations

import math
from contextlib import contextmanager
from contextvars import ContextVar

from ..kit import TAU, add_bump, bump, closed_keys, eased_lane, plain_sum, quintic

# Largest step a scaled lane may take between neighbouring pips, seam included.
STEP_LIMIT = 0.148
# Largest change a keyed segment may make per pip, under the catalogue's 0.15 step bar.
KEY_SLOPE = 0.14
# Peak slope of the quintic ease relative to its mean slope.
QUINTIC_PEAK = 1.875
# Largest size of a hit's bump per pip of its shorter flank: a hit crowded by its neighbours
# has no time to travel far, so it moves less rather than faster.
BUMP_SLOPE = 0.07


# The factor the lanes being built will be scaled by: every gesture is sized so that the
# scaled lane keeps its steps within STEP_LIMIT, whatever was placed on the lane before it.
# None builds them free, to see how large they come out before their factor is known.
_gain: ContextVar[float | None] = ContextVar("gain", default=1.0)


@contextmanager
def scaled_by(gain: float | None):
    """Build lanes that will be scaled by `gain`, or free of the step limit for None."""
    token = _gain.set(gain)
    try:
        yield
    finally:
        _gain.reset(token)


def _limit(slope: float) -> float:
    gain = _gain.get()
    return math.inf if gain is None else slope / gain


def key_slope() -> float:
    return _limit(KEY_SLOPE)


def add_fitted(lane: list[float], shape: dict[int, float], amp: float) -> None:
    """Add amp times `shape` (lane index -> weight), made smaller only as far as keeps every
    step of the lane within the scaled limit.

    A gesture laid on a steep stretch of the lane (a hat on a kick's stroke, a swing on a
    plunge) gives way there instead of the whole row shrinking to let it through.
    """
    period = len(lane)
    limit = _limit(STEP_LIMIT)
    size = abs(amp)
    for k in set(shape) | {(k + 1) % period for k in shape}:
        d = lane[k] - lane[k - 1]
        e = math.copysign(1.0, amp) * (shape.get(k, 0.0) - shape.get((k - 1) % period, 0.0))
        if e > 0.0:
            size = min(size, (limit - d) / e)
        elif e < 0.0:
            size = min(size, (limit + d) / -e)
    a = math.copysign(max(size, 0.0), amp)
    for k, w in shape.items():
        lane[k] += a * w


def zeros(period: int) -> list[float]:
    return [0.0] * period


def add_tremor(lane: list[float], pip: float, amp: float, length: float, cycles: float) -> None:
    """Add a short windowed oscillation starting at `pip`: a hat's shiver."""
    period = len(lane)
    shape: dict[int, float] = {}
    for k in range(math.ceil(pip), math.floor(pip + length) + 1):
        u = (k - pip) / length
        window = 0.5 - 0.5 * math.cos(TAU * u)
        shape[k % period] = shape.get(k % period, 0.0) + window * math.sin(TAU * cycles * u)
    add_fitted(lane, shape, amp)


def _bump_shape(period: int, pip: float, attack: float, release: float) -> dict[int, float]:
    shape: dict[int, float] = {}
    for k in range(math.floor(pip - attack) + 1, math.ceil(pip + release)):
        shape[k % period] = shape.get(k % period, 0.0) + bump(k - pip, attack, release)
    return shape


def gap_after(hits: list[tuple[int, float]], i: int, period: int) -> int:
    """Pips from hit i to the next hit, across the seam for the last one."""
    nxt = hits[(i + 1) % len(hits)][0]
    return (nxt - hits[i][0]) % period or period


def gap_before(hits: list[tuple[int, float]], i: int, period: int) -> int:
    return gap_after(hits, i - 1, period)


def _sized(hits, period: int, amp, attack: float, release: float, sides):
    """(size, index, signed amplitude, pip, attack, release) of each hit, the largest first.

    The attack may take most of the room since the hit before, where that hit's release has
    eased off; the release never reaches past the next hit.
    """
    out = []
    for i, (pip, vel) in enumerate(hits):
        a = amp(i, vel) if callable(amp) else amp * vel
        if sides is not None:
            a *= sides(i)
        rel = max(min(release, gap_after(hits, i, period)), 4.0)
        att = max(min(attack, 0.75 * gap_before(hits, i, period)), 3.0)
        out.append((abs(a), i, a, pip, att, rel))
    out.sort(key=lambda h: (-h[0], h[1]))
    return out


def add_hits(lane: list[float], hits, period: int, amp, attack: float, release: float,
             sides=None) -> None:
    """One bump per hit, scaled by velocity.

    `amp` is a number or a function of (index, velocity); `sides` an optional sign per index.
    A crowded hit moves less (BUMP_SLOPE): the larger hits take their room first and the
    smaller fit around them.
    """
    for size, _, a, pip, att, rel in _sized(hits, period, amp, attack, release, sides):
        size = min(size, BUMP_SLOPE * min(att, rel))
        add_fitted(lane, _bump_shape(period, pip, att, rel), math.copysign(size, a))


def add_pushes(lane: list[float], hits, period: int, amp, omega: float, damping: float,
               sides=None) -> None:
    """Each hit gives a damped spring a short push (3 pips rising, up to 5 falling); the
    lane gains the loop's ringing from it, fitted like a bump, so a push that would whip an
    already ringing spring past the step bar pushes less. `amp` and `sides` as in add_hits."""
    rings: dict[tuple[float, float], list[float]] = {}
    for _, _, a, pip, att, rel in _sized(hits, period, amp, 3, 5, sides):
        if (att, rel) not in rings:
            force = zeros(period)
            add_bump(force, 0, 1.0, att, rel)
            rings[att, rel] = driven_spring(period, force, omega, damping)
        ring = rings[att, rel]
        add_fitted(lane, {k: ring[(k - pip) % period] for k in range(period)}, a)


def add_notes(lane: list[float], notes, period: int, amp: float, attack: float,
              release: float, sides=None) -> None:
    """Like add_hits for held notes: each rises to its pip, holds for its length and bends
    by its slide over the slide's last pips. Pitch sets the size, an octave up half as large
    again and an octave down half as large, so an octave line is heard in the motion."""
    for i, note in enumerate(notes):
        a = amp * note.velocity * (sides(i) if sides is not None else 1.0)
        end = note.pip + note.length
        nxt = notes[(i + 1) % len(notes)].pip
        gap = (nxt - end) % period if len(notes) > 1 else period - note.length
        rel = max(min(release, gap), 4.0)
        att = max(min(attack, 0.5 * gap_before([(n.pip, 0) for n in notes], i, period)), 3.0)
        level = 1.0 + note.pitch / 24.0
        bend = note.slide / 24.0
        a = math.copysign(min(abs(a), BUMP_SLOPE * min(att, rel) / max(1.0, level,
                                                                      level + bend)), a)
        first = math.floor(note.pip - att) + 1
        last = math.ceil(end + rel) - 1
        shape: dict[int, float] = {}
        for k in range(first, last + 1):
            w = bump(k - note.pip, att) if k < note.pip else bump(max(0, k - end), att, rel)
            if note.slide_pips and k > end - note.slide_pips:
                w = w * (level + bend * quintic(min(1.0, (k - end + note.slide_pips)
                                                      / note.slide_pips)))
            else:
                w = w * level
            shape[k % period] = shape.get(k % period, 0.0) + w
        add_fitted(lane, shape, a)


def alternate(i: int) -> float:
    return 1.0 if i % 2 == 0 else -1.0


def limit_keys(keys: list[list], period: int) -> None:
    """Shrink key values until every segment's eased slope stays under the scaled KEY_SLOPE.

    Keys are [pip, value, priority] in pip order; of two keys too far apart in value for
    their spacing, the lower-priority one gives way (both, when equal).
    """
    for _ in range(64):
        changed = False
        for i in range(len(keys)):
            a, b = keys[i], keys[(i + 1) % len(keys)]
            span = (b[0] - a[0]) % period or period
            room = key_slope() * span / QUINTIC_PEAK
            excess = abs(b[1] - a[1]) - room
            if excess <= 1e-12:
                continue
            changed = True
            towards = 1.0 if b[1] > a[1] else -1.0
            if a[2] < b[2]:
                a[1] += towards * excess
            elif b[2] < a[2]:
                b[1] -= towards * excess
            else:
                a[1] += towards * excess / 2
                b[1] -= towards * excess / 2
        if not changed:
            return


def keyed(period: int, keys: list[tuple[float, float]]) -> list[float]:
    """A closed lane through (pip, value) keys, eased by the quintic between neighbours.

    Every key is a resting point: the lane reaches it with zero slope, so a key whose
    neighbours lie on one side of it is an exact local extremum at its pip.
    """
    return eased_lane(closed_keys(keys, period), period)


def warped_phase(period: int, turns: float, events, depth: float, width: float) -> list[float]:
    """A phase that runs `turns` full turns over the loop, hurrying through weighted events.

    The speed is 1 plus an eased bump of `depth` times each event's weight, so the phase is
    smooth and the loop closes on exactly `turns` turns. Events on one pip hurry once, by
    the chance that any of them would (1 minus the product of 1 minus each weight): a chord
    of hits is one accent, at most a whole one, not a leap.
    """
    calm: dict[int, float] = {}
    for pip, w in events:
        calm[pip] = calm.get(pip, 1.0) * (1.0 - w)
    speed = [1.0] * period
    for pip in sorted(calm):
        add_bump(speed, pip, depth * (1.0 - calm[pip]), width, width * 1.5)
    total = plain_sum(speed)
    phase = []
    run = 0.0
    for k in range(period):
        phase.append(TAU * turns * run / total)
        run += speed[k]
    return phase


def driven_spring(period: int, force: list[float], omega: float, damping: float) -> list[float]:
    """The periodic response of a damped spring to a looping force.

    The spring starts from rest at every push and rings down; its state at the seam is the
    one the loop returns to (the ringing of every earlier pass summed), found exactly from
    the loop's transfer, so the path closes without a seam.
    """
    sub = 4
    h = 1.0 / sub
    k2 = omega * omega
    c = 2.0 * damping * omega

    def run(x: float, v: float, out: list[float] | None, pips: int, drive: bool = True):
        for k in range(pips):
            if out is not None:
                out.append(x)
            f = force[k] if drive else 0.0
            f2 = force[(k + 1) % period] if drive else 0.0
            for s in range(sub):
                t = s / sub
                v += h * ((1 - t) * f + t * f2 - k2 * x - c * v)
                x += h * v
        return x, v

    # One loop is affine in the state: s1 = M s0 + b, M the free pip step raised to the
    # loop's length. The periodic state solves s0 = M s0 + b.
    a11, a21 = run(1.0, 0.0, None, 1, False)
    a12, a22 = run(0.0, 1.0, None, 1, False)
    m = (1.0, 0.0, 0.0, 1.0)
    power, n = (a11, a12, a21, a22), period
    while n:
        if n & 1:
            m = _mul(m, power)
        power = _mul(power, power)
        n >>= 1
    bx, bv = run(0.0, 0.0, None, period)
    i11, i12, i21, i22 = 1 - m[0], -m[1], -m[2], 1 - m[3]
    det = i11 * i22 - i12 * i21
    out: list[float] = []
    run((i22 * bx - i12 * bv) / det, (i11 * bv - i21 * bx) / det, out, period)
    return out


def _mul(a, b):
    return (a[0] * b[0] + a[1] * b[2], a[0] * b[1] + a[1] * b[3],
            a[2] * b[0] + a[3] * b[2], a[2] * b[1] + a[3] * b[3])
