"""Grouped-phrase families: eighth-note group dialogues and subdivided bursts."""

from __future__ import annotations

from ._rhythm import Event, drift, finish, name_numbers, pips, render, require_apart, row_data

EIGHTH = 32
PICKUP_DELAY = 8  # a pickup sounds a thirty-second late on its group's last eighth


def dialogue(row, data):
    """Each group speaks in its own direction; its last eighth is a late pickup into the next."""
    params = row_data(row, data)
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
    drift(out, [(1, 1, 0.1, params.get("lean", 0.0))])
    return finish(out, row.dimensions, 0.84)


def burst(row, data):
    """Three bursts of even hits in their own directions, gaps between, then a late settle."""
    params = row_data(row, data)
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
    curl = tuple(s.get("curl", (0.0, 0.0, 0.0)))
    for i, (delay, half, *v) in enumerate(s["moves"]):
        events.append(Event(at + delay, float(half), tuple(v), curl=curl if i == 0 else (0.0, 0.0, 0.0)))
    for axis in range(3):
        require_apart(row.period_pips, events, axis, row.name)
    return finish(render(row.period_pips, events + leans), row.dimensions, 0.86)


def _along(direction, amount, dip):
    """A gesture of `amount` along a direction, with a vertical dip added."""
    return (direction[0] * amount, direction[1] * amount + dip, direction[2] * amount)


RECIPES = {"dialogue": dialogue, "burst": burst}
