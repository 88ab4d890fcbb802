"""Phrase families: lift-and-hold dwells, oscillation packets, two-lane canons and echoes."""

from __future__ import annotations

import math
from fractions import Fraction

from ._common import PI
from ._rhythm import (Event, beat, drift, finish, fit_halves, keyframes, name_numbers, pips,
                      render, require_apart, row_data)

BEAT = 64


def dwell_keys(params) -> list[tuple[float, tuple]]:
    """Key poses: rest, lift to A and hold, transfer through `via`, lift to B and hold, settle."""
    start, rise1, hold1, transfer, rise2, hold2, settle = (pips(b) for b in params["beats"])
    a, b, via = params["a"], params["b"], params["via"]
    over = params["overshoot"]
    rest = (0.0, 0.0, 0.0)
    keys = [(0.0, rest)]
    t = start
    if t:
        keys.append((t, rest))
    for length, pose in ((rise1, a), (hold1, a), (transfer, via), (rise2, b), (hold2, b),
                         (0.45 * settle, tuple(-over * v for v in b)),
                         (0.3 * settle, tuple(0.3 * over * v for v in b)),
                         (0.25 * settle, rest)):
        t += length
        keys.append((t, tuple(pose)))
    return keys


def dwell(row, data):
    keys = dwell_keys(row_data(row, data))
    if keys[-1][0] > row.period_pips:
        raise ValueError("the phrase runs past the loop")
    if keys[-1][0] < row.period_pips:
        keys.append((float(row.period_pips), keys[-1][1]))
    # Height eases on its own timing, so lifts and transfers travel on arcs.
    lanes = [keyframes(row.period_pips, [(t, p[a]) for t, p in keys], 1.7 if a == 1 else 1.0)
             for a in range(3)]
    return finish(list(zip(*lanes)), row.dimensions, 0.8)


def packet(row, data):
    """n windowed oscillations spaced around the loop, riding a slow shaped side motion."""
    params = row_data(row, data)
    kind = row.name.split("_")[1]
    n = name_numbers(row.name)[0]
    P = row.period_pips
    spacing = P / n
    half = params["width"] * spacing / 2
    events = []
    for i in range(n):
        at = params["offset"] + i * spacing
        amp = params["amplitude"]
        cycle = params["cycle"]
        if kind == "alternating":
            vec = (0.0, amp, 0.0) if i % 2 == 0 else (amp, 0.0, 0.0)
        elif kind == "cascading":
            # Each packet is smaller and quicker than the one before, tilting as it falls.
            fall = i / max(n - 1, 1)
            amp *= 1.0 - 0.45 * fall
            cycle *= 1.0 - 0.35 * fall
            angle = params["tilt"] + 0.6 * fall
            vec = (amp * math.cos(angle), amp * math.sin(angle), 0.0)
        elif kind == "crossing":
            sign = 1.0 if i % 2 == 0 else -1.0
            vec = (amp * 0.72, sign * amp * 0.72, 0.0)
        else:
            vec = (0.15 * amp, 0.0, amp)
        events.append(Event(at, half, vec, cycle=cycle))
    sx, sy = params["side"]
    if kind == "alternating":
        # The body leans to alternate sides in time with the packets (an odd count repeats
        # one side across the loop's end).
        events += [Event(params["offset"] + i * spacing, spacing, (sx if i % 2 else -sx, 0.0, 0.0))
                   for i in range(n)]
    out = render(P, events)
    if kind == "alternating":
        terms = [(1, 1, sy, 0.4)]
    elif kind == "cascading":
        terms = [(0, 1, sx, 0.0), (1, 1, sy, PI / 2), (1, 2, 0.3 * sy, 0.9)]
    elif kind == "crossing":
        terms = [(0, 1, sx, 0.0), (1, 1, sy, PI / 2)]
    else:
        terms = [(0, 1, sx, 0.3), (1, 2, sy, 0.0), (2, 1, 0.25 * sx, 1.1)]
    drift(out, terms)
    return finish(out, row.dimensions, 0.78)


def canon(row, data):
    """A motif in the lateral lane answered in depth; after four beats depth leads and the
    lateral answer comes back altered."""
    params = row_data(row, data, row.name.rsplit("_", 1)[0])
    delay = pips(params["close" if row.name.endswith("_close") else "late"])
    motif = [(pips(t), lvl) for t, lvl in zip(params["motif"], params["levels"])]
    altered = _alter(motif, params["alter"])
    half_phrase = row.period_pips / 2
    events = []
    for lead_at, follow_at, lead_lane, follow_lane, lead, follow in (
            (0.0, delay, 0, 2, motif, motif),
            (half_phrase, half_phrase + delay, 2, 0, motif, altered)):
        for base, lane, notes in ((lead_at, lead_lane, lead), (follow_at, follow_lane, follow)):
            for i, (t, lvl) in enumerate(notes):
                side = 1.0 if i % 2 == 0 else -1.0
                vec = [0.0, -0.28 * abs(lvl), 0.0]
                vec[lane] = side * 0.78 * lvl
                curl = [0.0, 0.12 * side * abs(lvl), 0.0]
                events.append(Event(base + t, 10.0, tuple(vec), curl=tuple(curl)))
    require_apart(row.period_pips, events, 0, row.name)
    require_apart(row.period_pips, events, 2, row.name)
    out = render(row.period_pips, events)
    drift(out, [(1, 2, 0.1, 0.0)])
    return finish(out, row.dimensions, 0.84)


def _alter(motif, how: str):
    """The second-half answer: the motif changed in one audible way."""
    span = motif[-1][0]
    if how == "invert":
        return [(t, -lvl) for t, lvl in motif]
    if how == "retrograde":
        return [(span - t, lvl) for t, lvl in reversed(motif)]
    if how == "drop":
        return motif[:-2] + motif[-1:]
    if how == "displace":
        return motif[:-1] + [(motif[-1][0] + BEAT / 4, motif[-1][1])]
    if how == "swell":
        return [(t, lvl) for (t, _), (_, lvl) in zip(motif, reversed(motif))]
    raise ValueError(f"unknown alteration {how}")


def echo(row, data):
    """A call and its decaying echoes, then an answer in another direction with the same gaps."""
    params = row_data(row, data)
    kind = row.name.split("_")[1]
    gaps = [beat(g) for g in params["gaps"]]
    if len(gaps) != name_numbers(row.name)[0]:
        raise ValueError("one gap per echo")
    _check_spacing(kind, gaps)
    onsets = [Fraction(0)]
    for g in gaps:
        onsets.append(onsets[-1] + g)
    answer_at = beat(params["answer_at"])
    if onsets[-1] + Fraction(1, 4) > answer_at:
        raise ValueError("the echoes run into the answer")
    at, vecs = [], []
    for start, direction in ((Fraction(0), params["call"]), (answer_at, params["answer"])):
        for i, t in enumerate(onsets):
            level = params["decay"] ** i
            flip = -1.0 if kind == "crossed" and i % 2 else 1.0
            at.append(float((start + t) * BEAT))
            vecs.append((flip * direction[0] * level, direction[1] * level, direction[2] * level))
    halves = fit_halves(row.period_pips, at, 14.0)
    events = [Event(p, h, v, curl=(0.0, 0.0, 0.1 * v[0]) if v[2] == 0 else (0.1 * v[2], 0.0, 0.0))
              for p, h, v in zip(at, halves, vecs)]
    for axis in range(3):
        require_apart(row.period_pips, events, axis, row.name)
    # No sway underneath: it would make an echo on one side outgrow the one before it.
    return finish(render(row.period_pips, events), row.dimensions, 0.86)


def _check_spacing(kind: str, gaps: list[Fraction]) -> None:
    pairs = list(zip(gaps, gaps[1:]))
    ok = {"regular": all(a == b for a, b in pairs),
          "shrinking": all(a > b for a, b in pairs),
          "expanding": all(a < b for a, b in pairs),
          "crossed": all(a != b for a, b in pairs)}[kind]
    if not ok:
        raise ValueError(f"gaps {[str(g) for g in gaps]} are not {kind}")


RECIPES = {"dwell": dwell, "packet": packet, "canon": canon, "echo": echo}
