"""Rhythm grids: the euclid_, meter_, swing_, poly_, ladder_, necklace_, accent_, triplet_,
rhythm_ and groove_ rows."""

from __future__ import annotations

import math
from fractions import Fraction

from catalogue_data import DataError

from ._rhythm import Event, drift, render, require_apart
from .kit import PIPS_PER_BEAT, Lanes, bump, finish, name_numbers, plain_sum


STEP = 32  # pips per eighth note


def add_bumps(sums: list[list[float]], period: int, events) -> None:
    """Add raised-cosine bumps into per-axis accumulators, in event order.

    Each event is (pip, half_width, vector). The distance from an event is folded into
    [-P/2, P/2) by whole loops, which is exact, so a bump that crosses the end of the loop
    continues at its start. Only the pips a bump touches are visited; an untouched pip would
    only receive zeros, which leave a sum started at +0.0 unchanged.
    """
    half = period / 2
    for at, width, vector in events:
        for pip in range(math.floor(at - width), math.ceil(at + width) + 1):
            k = pip % period
            d = k - at
            if d >= half:
                d -= period
            elif d < -half:
                d += period
            if not -width < d < width:
                continue
            shape = bump(d, width)
            for axis, component in enumerate(vector):
                sums[axis][k] += component * shape


def _sum_events(period: int, events) -> list[list[float]]:
    sums = [[0.0] * period for _ in range(3)]
    add_bumps(sums, period, events)
    return sums


def euclid(row, data):
    onsets, steps = name_numbers(row.name)
    p = row.period_pips
    events = []
    for i in range(onsets):
        side = 1 if i % 2 == 0 else -1
        amplitude, dip = (0.75, 0.32) if i == 0 else (0.5625, 0.24)
        # Onsets at the ceiling of i * n / m steps: evenly spread, the first on the downbeat.
        events.append((STEP * -(-i * steps // onsets), 24, (side * amplitude, dip)))
    x, dips, _ = _sum_events(p, events)
    return [(x[k], -dips[k], 0.0) for k in range(p)]


def meter(row, data):
    groups = name_numbers(row.name)
    p = row.period_pips
    starts = {}
    at = 0
    for j, g in enumerate(groups):
        starts[at] = 1 if j % 2 == 0 else -1
        at += g
    events = []
    for step in range(at):
        if step in starts:
            events.append((STEP * step, 19.2, (starts[step] * 0.72, -0.33, 0.0)))
        else:
            events.append((STEP * step, 32 / 3, (0.0, -0.1134, 0.0504)))
    return list(zip(*_sum_events(p, events)))


def swing(row, data):
    _, word, a, b = row.name.split("_")
    a, b = int(a), int(b)
    score = data["score"][word]
    beat, ghost = data["beat"], data["ghost"]
    offbeat = data["offbeat"][score["offbeat"]]
    rests = set(score["rest_beats"])
    ghosts = set(score["ghost_beats"])
    p = row.period_pips
    events = []
    for j in range(p // PIPS_PER_BEAT):
        side = 1 if j % 2 == 0 else -1
        at, off = PIPS_PER_BEAT * j, PIPS_PER_BEAT * a / b
        if j not in rests:
            g = beat["accent"] if j in beat["accent_beats"] else beat["plain"]
            events.append((at, beat["half_width"],
                           (side * beat["lateral"] * g, beat["drop"] * g, 0.0)))
        if j in score["offbeat_beats"]:
            if "vector" in offbeat:
                vector = offbeat["vector"]
            else:
                vector = (side * offbeat["lateral"], offbeat["drop"], 0.0)
            events.append((at + off, offbeat["half_width"], vector))
        if j in ghosts:
            events.append((at + off / 2, ghost["half_width"], ghost["vector"]))
    x, y, z = _sum_events(p, events)
    if row.dimensions < 3:
        z = [0.0] * p
    return list(zip(x, y, z))


LEFT = (-0.62, -0.26, 0.0)


RIGHT = (0.62, -0.26, 0.22)


def poly(row, data):
    # The lanes meet only on the shared downbeat, which carries the full vector.
    lefts, rights = name_numbers(row.name)
    p = row.period_pips
    events = []
    for count, vector in ((lefts, LEFT), (rights, RIGHT)):
        for i in range(count):
            weight = vector if i == 0 else tuple(0.65 * v for v in vector)
            events.append((p * i / count, 22.4, weight))
    return list(zip(*_sum_events(p, events)))




def ladder(row, data):
    """Four two-beat regions, each split evenly; the region's first pulse is its accent."""
    params = data[row.name]
    counts = params["subdivisions"]
    if counts != name_numbers(row.name) or len(counts) != 4:
        raise ValueError(f"subdivisions {counts} do not match the name")
    region = row.period_pips // 4
    events = []
    for r, (n, strength) in enumerate(zip(counts, params["strength"])):
        side = 1.0 if r % 2 == 0 else -1.0
        spacing = region / n
        # Accents sway laterally; the subdivisions tick in depth, so density reads on z.
        events.append(Event(r * region, 18.0, (side * 0.8 * strength, -0.42 * strength, 0.0),
                            curl=(0.0, side * 0.22 * strength, 0.0)))
        for j in range(1, n):
            tick = 1.0 if j % 2 else -1.0
            events.append(Event(r * region + j * spacing, 0.45 * spacing,
                                (0.0, -0.2, tick * params["tick"]), curl=(0.0, 0.06, 0.0)))
    require_apart(row.period_pips, events, 0, row.name)
    require_apart(row.period_pips, events, 2, row.name)
    out = render(row.period_pips, events)
    # The phrase breathes once over the four regions and leans into depth on the way.
    drift(out, [(1, 1, 0.14, 0.0), (2, 1, 0.12, 1.2)])
    return finish(out, row.dimensions, 0.8)


def necklace(row, data):
    """Accents of the word go right, its complement goes left; a 0 -> 1 rise pushes into depth."""
    word = data[row.name]["word"]
    if set(word) != {"0", "1"}:
        raise ValueError("a necklace word is made of both 0 and 1")
    step = row.period_pips / len(word)
    events = []
    for i, bit in enumerate(word):
        rising = bit == "1" and word[i - 1] == "0"
        falling = bit == "0" and word[i - 1] == "1"
        if bit == "1":
            vec, curl = (0.75, -0.34, 0.6 if rising else 0.0), (0.0, 0.16, 0.0)
        else:
            vec, curl = (-0.45, -0.1, -0.22 if falling else 0.0), (0.0, -0.1, 0.0)
        events.append(Event(i * step, step / 2, vec, curl=curl))
    require_apart(row.period_pips, events, 0, row.name)
    out = render(row.period_pips, events)
    drift(out, [(1, 1, 0.16, 0.5)])
    return finish(out, row.dimensions, 0.78)


def accent(row, data):
    """A steady grid of N pulses a bar; two accents S pulses apart move along it bar by bar."""
    params = data[row.name]
    count, apart = name_numbers(row.name)
    bar = row.period_pips // 4
    spacing = bar / count
    events = []
    for b in range(4):
        first = (params["start"] + b * params["walk"]) % count
        accents = {first: 0, (first + apart) % count: 1}
        for k in range(count):
            at = b * bar + k * spacing
            if k in accents:
                lead = accents[k] == 0
                vec = (0.78 if lead else -0.6, -0.4 if lead else -0.3, 0.0)
                events.append(Event(at, 0.5 * spacing, vec, curl=(0.0, 0.14 if lead else -0.12, 0.0)))
            else:
                tick = 1.0 if (b * count + k) % 2 else -1.0
                events.append(Event(at, 0.45 * spacing, (0.0, -0.12, tick * 0.28)))
    require_apart(row.period_pips, events, 0, row.name)
    out = render(row.period_pips, events)
    # Each bar sways once and the four bars ride one slow depth wave.
    drift(out, [(1, 4, 0.1, 0.0), (2, 1, 0.16, 0.7)])
    return finish(out, row.dimensions, 0.85)


def triplet(row, data):
    """A twelve-slot triplet mask over four beats, then either off-grid answers or a rotation."""
    params = data[row.name.rsplit("_", 1)[0]]
    mask = params["mask"]
    if len(mask) != 12 or set(mask) != {"x", "."}:
        raise ValueError("a triplet mask has twelve slots of x and .")
    slot = PIPS_PER_BEAT / 3
    half_phrase = 12
    answer = row.name.endswith("_answer")
    second = mask if answer else mask[-params["rotate"]:] + mask[:-params["rotate"]]
    events = []
    played = 0
    for half, pattern in enumerate((mask, second)):
        for s, c in enumerate(pattern):
            at = (half * half_phrase + s) * slot
            if c == "x":
                side = 1.0 if played % 2 == 0 else -1.0
                strength = 0.75 if s % 3 == 0 else 0.48
                if half == 1 and not answer:
                    # The rotated half turns the gesture plane from lateral into depth.
                    vec = (side * strength * 0.6, -0.25 * strength, side * strength * 0.75)
                else:
                    vec = (side * strength, -0.25 * strength, 0.0)
                events.append(Event(at, 9.0, vec, curl=(0.0, 0.12 * side, 0.0)))
                played += 1
            elif half == 1 and answer:
                off = float(Fraction(params["offset"]) * PIPS_PER_BEAT)
                events.append(Event(at + off, 7.5, (0.0, 0.18, 0.55)))
    if not answer:
        # A light depth breath through the first half keeps z alive before the rotation.
        events.append(Event(2 * PIPS_PER_BEAT, 2 * PIPS_PER_BEAT, (0.0, 0.0, params["breath"])))
    require_apart(row.period_pips, events, 0, row.name)
    out = render(row.period_pips, events)
    drift(out, [(1, 2, 0.1, 0.3)])
    return finish(out, row.dimensions, 0.8)




AXES = {"x": 0, "y": 1, "z": 2}


SIXTEENTH = 16


def _at_beats(value) -> float:
    return float(Fraction(value) * PIPS_PER_BEAT) if isinstance(value, str) else value * PIPS_PER_BEAT


def rhythm_euclid(row, data):
    p = data[row.name]
    onsets, steps, repeats = p["onsets"], p["steps"], p["repeats"]
    step_pips = row.period_pips / (steps * repeats)
    lanes = Lanes(row.period_pips)
    count = 0
    for r in range(repeats):
        for i in range(onsets):
            # Ceiling division keeps the first onset on the downbeat of every repeat.
            step = r * steps + -(-i * steps // onsets)
            x, y = p["accent"] if i == 0 else p["onset"]
            side = 1.0 if count % 2 == 0 else -1.0
            lanes.bump(step * step_pips, (side * x, y, 0.0), p["half_width"])
            count += 1
    return finish(lanes.samples(), row.dimensions)


def cross_rhythm(row, data):
    p = data[row.name]
    lanes = Lanes(row.period_pips)
    for lane in p["lanes"]:
        axis = AXES[lane["axis"]]
        if axis >= row.dimensions:
            raise DataError(f"{row.name}: lane on {lane['axis']} beyond the row's dimensions")
        hits = lane["hits"]
        for i in range(hits):
            amp = lane["accent"] if i % lane["accent_every"] == 0 else lane["hit"]
            if lane["alternate"] and i % 2:
                amp = -amp
            vector = [0.0, 0.0, 0.0]
            vector[axis] = amp
            # Hit i falls at exactly i/hits of the loop, a fraction of a pip when it must be.
            lanes.bump(row.period_pips * i / hits, vector, lane["half_width"])
    return finish(lanes.samples(), row.dimensions)


def scored_events(row, data):
    """Rows written out event by event: [beats, rise, fall, x, y]."""
    lanes = Lanes(row.period_pips)
    for at, rise, fall, x, y in data[row.name]["events"]:
        lanes.bump(_at_beats(at), (x, y, 0.0), rise, fall)
    return finish(lanes.samples(), row.dimensions)


def eighth_groups(row, data):
    p = data[row.name]
    eighth = PIPS_PER_BEAT / 2
    if plain_sum(p["groups"]) * p["bars"] * eighth != row.period_pips:
        raise DataError(f"{row.name}: the groups do not fill {row.period_pips} pips")
    lanes = Lanes(row.period_pips)
    step = 0
    group = 0
    for _ in range(p["bars"]):
        for length in p["groups"]:
            side = 1.0 if group % 2 == 0 else -1.0
            x, y = p["accent"]
            lanes.bump(step * eighth, (side * x, y, 0.0), p["accent_width"])
            sx, sy = p["sub"]
            for s in range(1, length):
                lanes.bump((step + s) * eighth, (side * sx, sy, 0.0), p["sub_width"])
            step += length
            group += 1
    return finish(lanes.samples(), row.dimensions)


def groove(row, data):
    p = data[row.name]
    instruments = data["instruments"]
    hits = data["excerpts"][p["excerpt"]]["hits"]
    lanes = Lanes(row.period_pips)
    for sixteenth, name, velocity, offset in hits:
        inst = instruments[name]
        at = sixteenth * SIXTEENTH + (offset if p["played"] else 0)
        x, y = inst["vector"]
        lanes.bump(at, (x * velocity, y * velocity, 0.0), inst["rise"], inst["fall"])
    return finish(lanes.samples(), row.dimensions)
