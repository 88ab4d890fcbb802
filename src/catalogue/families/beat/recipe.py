"""Beat studies: one style's score driving one of sixteen motions.

A row `beat_<style>_<motion>` reads the style's score (data/beat/<style>.toml), lets the
motion turn it into three lanes and brings them to the motion's reach. The lanes are built
for the size they will have, each gesture shaped where it is made so that no step between
neighbouring pips exceeds what the catalogue allows; nothing is limited afterwards.
"""

from __future__ import annotations

from catalogue_data import DataError

from .lanes import STEP_LIMIT, scaled_by
from .motions import MOTIONS, PINNED, REACH, motion_lanes
from .score import Score

# Unpinned axes of the pinned motions stay inside this.
SIDE_REACH = 0.9
# Rounds of building a motion for the scale it will be given, and the margin each round
# allows for the peak to fall once more.
GAIN_ROUNDS = 6
GAIN_MARGIN = 1.02


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
    """One factor for all lanes, bringing the peak to `reach`."""
    s = reach / max(_peak(lane) for lane in lanes)
    return [[v * s for v in lane] for lane in lanes]


def _built_at_reach(motion: str, score: Score):
    """The lanes built for the factor that brings them to the motion's reach, so that each
    gesture is shaped for the size it will have and the scaled lanes keep within STEP_LIMIT.
    The factor comes from a free build; a gesture that gave way lowers the peak a little,
    hence a few rounds, each built for a little more than it needs."""
    with scaled_by(None):
        lanes = motion_lanes(motion, score)
    for _ in range(GAIN_ROUNDS):
        gain = REACH[motion] / max(_peak(lane) for lane in lanes)
        if gain * max(_largest_step(lane) for lane in lanes) <= STEP_LIMIT:
            break
        with scaled_by(gain * GAIN_MARGIN):
            lanes = motion_lanes(motion, score)
    return lanes


def _fit_sides(lanes, pinned: int):
    """Leave the pinned axis as placed; shrink another axis only where it would overreach."""
    out = []
    for axis, lane in enumerate(lanes):
        peak = _peak(lane)
        if axis == pinned or peak == 0.0:
            out.append(list(lane))
            continue
        s = min(1.0, SIDE_REACH / peak)
        out.append([v * s for v in lane])
    return out


def beat(row, data):
    style, motion = split_name(row.name)
    score = Score(style, data[style], row.period_pips)
    if score.variant_of is not None and score.variant_of not in data:
        raise DataError(f"score {style}: variant_of names no style: {score.variant_of!r}")
    if motion in PINNED:
        xs, ys, zs = _fit_sides(motion_lanes(motion, score), PINNED[motion])
    else:
        lanes = _built_at_reach(motion, score)
        xs, ys, zs = _fit(lanes, REACH[motion])
    if row.dimensions < 3:
        if any(zs):
            raise DataError(f"{row.name}: the score of {style} moves depth, "
                            "but the row has two dimensions")
        zs = [0.0] * row.period_pips
    return list(zip(xs, ys, zs))


RECIPES = {"beat": beat}
