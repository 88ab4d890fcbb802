"""Grid-based accent families: subdivision ladders, accent necklaces, walking accents, triplets."""

from __future__ import annotations

from fractions import Fraction

from ._rhythm import Event, drift, finish, name_numbers, render, require_apart, row_data

BEAT = 64


def ladder(row, data):
    """Four two-beat regions, each split evenly; the region's first pulse is its accent."""
    params = row_data(row, data)
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
    word = row_data(row, data)["word"]
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
    params = row_data(row, data)
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
    params = row_data(row, data, row.name.rsplit("_", 1)[0])
    mask = params["mask"]
    if len(mask) != 12 or set(mask) != {"x", "."}:
        raise ValueError("a triplet mask has twelve slots of x and .")
    slot = BEAT / 3
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
                off = float(Fraction(params["offset"]) * BEAT)
                events.append(Event(at + off, 7.5, (0.0, 0.18, 0.55)))
    if not answer:
        # A light depth breath through the first half keeps z alive before the rotation.
        events.append(Event(2 * BEAT, 2 * BEAT, (0.0, 0.0, params["breath"])))
    require_apart(row.period_pips, events, 0, row.name)
    out = render(row.period_pips, events)
    drift(out, [(1, 2, 0.1, 0.3)])
    return finish(out, row.dimensions, 0.8)


RECIPES = {"ladder": ladder, "necklace": necklace, "accent": accent, "triplet": triplet}
