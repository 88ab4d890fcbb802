"""Rhythm studies: every event is a bump that peaks on the pip its rhythm gives."""

from __future__ import annotations

from fractions import Fraction

from catalogue_data import DataError

from ._common import plain_sum, row_params
from ._section import Lanes, finish

PIPS_PER_BEAT = 64
AXES = {"x": 0, "y": 1, "z": 2}
SIXTEENTH = 16


def _at_beats(value) -> float:
    return float(Fraction(value) * PIPS_PER_BEAT) if isinstance(value, str) else value * PIPS_PER_BEAT


def rhythm_euclid(row, data):
    p = row_params(row, data)
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
    return finish(row, lanes.samples())


def cross_rhythm(row, data):
    p = row_params(row, data)
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
    return finish(row, lanes.samples())


def scored_events(row, data):
    """Rows written out event by event: [beats, rise, fall, x, y]."""
    lanes = Lanes(row.period_pips)
    for at, rise, fall, x, y in row_params(row, data)["events"]:
        lanes.bump(_at_beats(at), (x, y, 0.0), rise, fall)
    return finish(row, lanes.samples())


def eighth_groups(row, data):
    p = row_params(row, data)
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
    return finish(row, lanes.samples())


def groove(row, data):
    p = row_params(row, data)
    instruments = data["instruments"]
    hits = data["excerpts"][p["excerpt"]]["hits"]
    lanes = Lanes(row.period_pips)
    for sixteenth, name, velocity, offset in hits:
        inst = instruments[name]
        at = sixteenth * SIXTEENTH + (offset if p["played"] else 0)
        x, y = inst["vector"]
        lanes.bump(at, (x * velocity, y * velocity, 0.0), inst["rise"], inst["fall"])
    return finish(row, lanes.samples())


RECIPES = {
    "rhythm_euclid": rhythm_euclid,
    "cross_rhythm": cross_rhythm,
    "half_time": scored_events,
    "swung_answer": scored_events,
    "eighth_groups": eighth_groups,
    "groove": groove,
}
