"""Eased keyframe loops: every key is a resting point joined to the next by a quintic ease."""

from __future__ import annotations

from catalogue_data import DataError

from ._common import quintic

AXES = ("x", "y", "z")


def _eased_axis(name: str, axis: str, keys: list, period: int) -> list[float]:
    pips = [pip for pip, _ in keys]
    if pips[0] != 0 or pips[-1] != period or any(a >= b for a, b in zip(pips, pips[1:])):
        raise DataError(f"{name}.{axis}: keys must ascend from pip 0 to pip {period}")
    if keys[0][1] != keys[-1][1]:
        raise DataError(f"{name}.{axis}: the loop must end on its first value")
    out = []
    for (ka, va), (kb, vb) in zip(keys, keys[1:]):
        va, vb = float(va), float(vb)
        for k in range(ka, kb):
            out.append(va + (vb - va) * quintic((k - ka) / (kb - ka)))
    return out


def eased_keys(row, data):
    spec = data[row.name]
    unknown = set(spec) - set(AXES[:row.dimensions])
    if unknown:
        raise DataError(f"{row.name}: no axis {', '.join(sorted(unknown))} in {row.dimensions}D")
    p = row.period_pips
    lanes = [_eased_axis(row.name, a, spec[a], p) if a in spec else [0.0] * p for a in AXES]
    return list(zip(*lanes))


RECIPES = {"eased_keys": eased_keys}
