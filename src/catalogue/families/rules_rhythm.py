"""Rhythm rows built from summed raised-cosine events: euclidean accents, meter groupings,
swing scores and two-lane pulse trains."""

from __future__ import annotations

from ._rules import add_bumps, name_numbers

STEP = 32  # pips per eighth note


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
    rests = set(score.get("rest_beats", ()))
    ghosts = set(score.get("ghost_beats", ()))
    p = row.period_pips
    events = []
    for j in range(p // 64):
        side = 1 if j % 2 == 0 else -1
        if j not in rests:
            g = beat["accent"] if j in beat["accent_beats"] else beat["plain"]
            events.append((64 * j, beat["half_width"],
                           (side * beat["lateral"] * g, beat["drop"] * g, 0.0)))
        if j in score["offbeat_beats"]:
            if "vector" in offbeat:
                vector = offbeat["vector"]
            else:
                vector = (side * offbeat["lateral"], offbeat["drop"], 0.0)
            events.append((64 * j + 64 * a / b, offbeat["half_width"], vector))
        if j in ghosts:
            events.append((64 * j + 64 * a / b / 2, ghost["half_width"], ghost["vector"]))
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


RECIPES = {"euclid": euclid, "meter": meter, "swing": swing, "poly": poly}
