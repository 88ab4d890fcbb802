"""Phrases: the dwell_, packet_, canon_, echo_, dialogue_, burst_, gesture_ and seq_ rows."""

from __future__ import annotations

import math

from fractions import Fraction

from catalogue_data import DataError

from ._paths import eased_keys, point
from ._rhythm import Event, beat, drift, fit_halves, keyframes, pips, render, require_apart
from .kit import PEAK, PI, PIPS_PER_BEAT, finish, name_numbers, plain_sum, quintic, scale_to_peak




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
    keys = dwell_keys(data[row.name])
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
    params = data[row.name]
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
    params = data[row.name.rsplit("_", 1)[0]]
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
        return motif[:-1] + [(motif[-1][0] + PIPS_PER_BEAT / 4, motif[-1][1])]
    if how == "swell":
        return [(t, lvl) for (t, _), (_, lvl) in zip(motif, reversed(motif))]
    raise ValueError(f"unknown alteration {how}")


def echo(row, data):
    """A call and its decaying echoes, then an answer in another direction with the same gaps."""
    params = data[row.name]
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
            at.append(float((start + t) * PIPS_PER_BEAT))
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


EIGHTH = 32


PICKUP_DELAY = 8  # a pickup sounds a thirty-second late on its group's last eighth


def dialogue(row, data):
    """Each group speaks in its own direction; its last eighth is a late pickup into the next."""
    params = data[row.name]
    groups = name_numbers(row.name)
    directions = params["directions"]
    if len(directions) != len(groups):
        raise ValueError("one direction per group")
    events = []
    start = 0
    for j, g in enumerate(groups):
        here, ahead = directions[j], directions[(j + 1) % len(groups)]
        # The accent swings out lifted (toward -y), already turning towards the next voice.
        events.append(Event(start * EIGHTH, 12.0, _along(here, 0.8, -0.36),
                            curl=_along(ahead, 0.12, 0.2)))
        for i in range(1, g - 1):
            fade = 0.34 * (1.0 - 0.18 * (i - 1))
            events.append(Event((start + i) * EIGHTH, 10.0, _along(here, fade, -0.12),
                                curl=(0.0, 0.08, 0.0)))
        events.append(Event((start + g - 1) * EIGHTH + PICKUP_DELAY, 10.0, _along(ahead, 0.42, -0.2),
                            curl=_along(here, -0.1, -0.1)))
        start += g
    for axis in range(3):
        require_apart(row.period_pips, events, axis, row.name)
    out = render(row.period_pips, events)
    drift(out, [(1, 1, 0.1, params["lean"])])
    return finish(out, row.dimensions, 0.84)


def burst(row, data):
    """Three bursts of even hits in their own directions, gaps between, then a late settle."""
    params = data[row.name]
    counts = name_numbers(row.name)
    bursts = params["bursts"]
    if len(bursts) != 3 or len(counts) != 3:
        raise ValueError("a burst row has three bursts")
    events, leans = [], []
    for n, b in zip(counts, bursts):
        at, length = pips(b["at"]), pips(b["length"])
        d = b["direction"]
        spacing = length / n
        # Each hit loops across its direction, so a burst reads as a flurry, not a line.
        across = (-d[1], d[0], 0.0) if abs(d[0]) >= abs(d[2]) else (d[2], 0.0, -d[0])
        for j in range(n):
            # Hits swell towards the burst's last stroke, which the gap then lets ring.
            level = 0.45 + 0.45 * (j / (n - 1) if n > 1 else 1.0)
            side = 0.25 * level * (1.0 if j % 2 == 0 else -1.0)
            events.append(Event(at + j * spacing, min(13.0, 0.5 * spacing),
                                tuple(v * level for v in d), curl=tuple(v * side for v in across)))
        # The whole burst leans along its direction and lets go in the gap.
        leans.append(Event(at + length / 2, length / 2 + 24.0, tuple(0.3 * v for v in d)))
    # Each row settles its own way: a list of moves after the settle's time, the first of
    # which may curl into a loop.
    s = params["settle"]
    at = pips(s["at"])
    curl = tuple(s["curl"])
    for i, (delay, half, *v) in enumerate(s["moves"]):
        events.append(Event(at + delay, float(half), tuple(v), curl=curl if i == 0 else (0.0, 0.0, 0.0)))
    for axis in range(3):
        require_apart(row.period_pips, events, axis, row.name)
    return finish(render(row.period_pips, events + leans), row.dimensions, 0.86)


def _along(direction, amount, dip):
    """A gesture of `amount` along a direction, with a vertical dip added."""
    return (direction[0] * amount, direction[1] * amount + dip, direction[2] * amount)




def gesture(row, data):
    p = data[row.name]
    keys = [(k[0] * PIPS_PER_BEAT, point(k[1:])) for k in p["keys"]]
    if keys[0][0] != 0 or any(b[0] <= a[0] for a, b in zip(keys, keys[1:])) \
            or keys[-1][0] >= row.period_pips:
        raise ValueError("gesture keys must start at beat 0 and rise strictly within the loop")
    bows = {int(b[0]): point(b[1:]) for b in p["bows"]}
    if any(not 0 <= s < len(keys) for s in bows):
        raise ValueError("a bow names a segment the gesture does not have")
    return finish(eased_keys(keys, row.period_pips, bows), row.dimensions, PEAK)


def durations(row, kind, count):
    """Pip length of each segment: equal for `_even` rows, the lilt cycle for `_lilt` rows."""
    n = row.period_pips
    if row.name.endswith("_even"):
        out = [n // count] * count
    else:
        lilt = kind["lilt"]
        out = [lilt[i % len(lilt)] for i in range(count)]
    if plain_sum(out) != n:
        raise DataError(f"{row.name}: segments last {plain_sum(out)} pips, not {n}")
    return out


def seq(row, data):
    kind = data[row.name.removeprefix("seq_").rsplit("_", 1)[0]]
    targets = kind["targets"]
    glide = data["glide"]
    samples = []
    for i, length in enumerate(durations(row, kind, len(targets))):
        (ax, ay), (bx, by) = targets[i - 1], targets[i]
        for d in range(length):
            q = quintic(min(d / glide, 1.0))
            samples.append((ax + (bx - ax) * q, ay + (by - ay) * q, 0.0))
    return scale_to_peak(samples)
