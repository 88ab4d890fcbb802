"""Beat studies: one style's score driving one of sixteen motions.

A row `beat_<style>_<motion>` reads the style's score (data/beat/<style>.toml), lets the
motion turn it into three lanes and brings them to the motion's reach without ever
stepping more than the catalogue allows between neighbouring pips.
"""

from __future__ import annotations

from catalogue_data import DataError

from .motions import MOTIONS, PINNED, REACH, motion_lanes
from .score import Score

# Largest step a scaled lane may take between neighbouring pips, seam included.
STEP_LIMIT = 0.148
# Unpinned axes of the pinned motions stay inside this.
SIDE_REACH = 0.9


def split_name(name: str) -> tuple[str, str]:
    """(style, motion) of a row name `beat_<style>_<motion>`; styles may contain `_`."""
    stem, _, motion = name.removeprefix("beat_").rpartition("_")
    if not name.startswith("beat_") or not stem or motion not in MOTIONS:
        raise DataError(f"{name}: not a beat study name")
    return stem, motion


def _peak(lane: list[float]) -> float:
    return max(abs(v) for v in lane)


def _largest_step(lane: list[float]) -> float:
    return max(abs(lane[k] - lane[k - 1]) for k in range(len(lane)))


def _fit(lanes, reach: float):
    """One factor for all lanes: up to `reach` at the peak, within the step limit."""
    peak = max(_peak(lane) for lane in lanes)
    step = max(_largest_step(lane) for lane in lanes)
    s = min(reach / peak, STEP_LIMIT / step) if step > 0 else reach / peak
    return [[v * s for v in lane] for lane in lanes]


def _fit_sides(lanes, pinned: int):
    """Leave the pinned axis as placed; shrink another axis only where it would overreach."""
    out = []
    for axis, lane in enumerate(lanes):
        peak = _peak(lane)
        if axis == pinned or peak == 0.0:
            out.append(list(lane))
            continue
        s = min(1.0, SIDE_REACH / peak, STEP_LIMIT / _largest_step(lane))
        out.append([v * s for v in lane])
    return out


def beat(row, data):
    style, motion = split_name(row.name)
    score = Score(style, data[style], row.period_pips)
    if score.variant_of is not None and score.variant_of not in data:
        raise DataError(f"score {style}: variant_of names no style: {score.variant_of!r}")
    lanes = motion_lanes(motion, score)
    if motion in PINNED:
        xs, ys, zs = _fit_sides(lanes, PINNED[motion])
    else:
        xs, ys, zs = _fit(lanes, REACH[motion])
    if row.dimensions < 3:
        if any(zs):
            raise DataError(f"{row.name}: the score of {style} moves depth, "
                            "but the row has two dimensions")
        zs = [0.0] * row.period_pips
    return list(zip(xs, ys, zs))


RECIPES = {"beat": beat}
