"""Authored single-point gestures: eased moves between resting key points over eight beats."""

from __future__ import annotations

from catalogue_data import RecipeMissing

from ._paths import eased_keys, finish, point

PIPS_PER_BEAT = 64


def gesture(row, data):
    if row.name not in data:
        raise RecipeMissing(row.name)
    p = data[row.name]
    keys = [(k[0] * PIPS_PER_BEAT, point(k[1:])) for k in p["keys"]]
    if keys[0][0] != 0 or any(b[0] <= a[0] for a, b in zip(keys, keys[1:])) \
            or keys[-1][0] >= row.period_pips:
        raise ValueError("gesture keys must start at beat 0 and rise strictly within the loop")
    bows = {int(b[0]): point(b[1:]) for b in p.get("bows", [])}
    if any(not 0 <= s < len(keys) for s in bows):
        raise ValueError("a bow names a segment the gesture does not have")
    return finish(eased_keys(keys, row.period_pips, bows), row.dimensions)


RECIPES = {"gesture": gesture}
