"""Programmed position sequences: targets reached by eased glides, then held."""

from __future__ import annotations

from catalogue_data import DataError, RecipeMissing

from ._common import plain_sum, quintic, scale_to_peak


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
    kind = data.get(row.name.removeprefix("seq_").rsplit("_", 1)[0])
    if kind is None:
        raise RecipeMissing(row.name)
    targets = kind["targets"]
    glide = data["glide"]
    samples = []
    for i, length in enumerate(durations(row, kind, len(targets))):
        (ax, ay), (bx, by) = targets[i - 1], targets[i]
        for d in range(length):
            q = quintic(min(d / glide, 1.0))
            samples.append((ax + (bx - ax) * q, ay + (by - ay) * q, 0.0))
    return scale_to_peak(samples)


RECIPES = {"seq": seq}
