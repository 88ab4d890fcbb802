"""Invariants of the catalogue, checked before anything is written.

Each check raises CatalogueError naming the offending row and its line of the table, so that
a data fault fails the build with a message that points at the line to fix. What a row
declares (the axes that move, its peak, a rule) is read from its line and checked here.
"""

from __future__ import annotations

import math

from catalogue_data import Row

RUDIMENT_NAMES = frozenset({
    "bounce", "sway", "circle", "figure_eight", "step_touch", "box_step", "helix",
    "tamsel_background", "single_stroke_roll", "double_stroke_roll",
    "multiple_bounce_roll", "single_paradiddle", "flam", "drag", "five_stroke_roll",
})

# The peak of the catalogue's scaled families: a row reaches it only where it declares it.
SCALED_PEAK = 0.82
# The whole block spans exactly this: no row goes beyond, and some row reaches each end.
SMALLEST_COMPONENT = -0.92
LARGEST_COMPONENT = 1.0
MAX_PERIOD = 0xFFFF  # period_pips is stored in 16 bits

# The motion bar for every row not fixed by a rule: no jump between neighbouring pips (the
# seam from the last pip back to pip 0 included), and every axis the row claims visibly moves.
MAX_STEP = 0.15
MIN_SPAN = 0.05

NAME_BYTES = frozenset(b"abcdefghijklmnopqrstuvwxyz0123456789_")


class CatalogueError(Exception):
    pass


def _fail(row: Row, message: str) -> None:
    raise CatalogueError(f"{row.where}: row {row.index} {row.name}: {message}")


def check_table(rows: list[Row]) -> None:
    """Names, periods, dimensions and order of the whole table."""
    seen: set[str] = set()
    for row in rows:
        raw = row.name.encode()
        if not 8 <= len(raw) <= 32 or not set(raw) <= NAME_BYTES or not raw[:1].isalpha():
            _fail(row, "a name is 8 to 32 bytes of a-z, 0-9 and _, starting with a letter")
        if row.name in RUDIMENT_NAMES:
            _fail(row, "the name belongs to a rudiment")
        if row.name in seen:
            _fail(row, "the name occurs twice")
        seen.add(row.name)
        if not 1 <= row.period_pips <= MAX_PERIOD:
            _fail(row, f"period {row.period_pips} is not 1 to {MAX_PERIOD} pips")
        if row.dimensions not in (1, 2, 3):
            _fail(row, f"dimensions {row.dimensions} is not 1, 2 or 3")
        if "\n" in row.description or "\r" in row.description or not row.description:
            _fail(row, "a description is one non-empty line")
        family = row.name.split("_")[0]
        if family in ("euclid", "dialogue", "meter"):
            steps = [int(n) for n in row.name.split("_")[1:]]
            eighths = steps[1] if family == "euclid" else sum(steps)
            if row.period_pips != 32 * eighths:
                _fail(row, f"period must be 32 pips per eighth note, {32 * eighths}")
    # The beat studies close the table.
    first = next((i for i, row in enumerate(rows)
                  if row.name.startswith("beat_") or row.recipe == "beat"), len(rows))
    for row in rows[first:]:
        if not row.name.startswith("beat_") or row.recipe != "beat":
            _fail(row, "the rows from the first beat study on are beat studies, named beat_")


def check_samples(row: Row, samples: list[tuple[float, float, float]]) -> None:
    """Range, twelve-decimal values, +0.0 on unused axes, the row's declared axes and peak,
    and the motion bar unless a rule fixes the row."""
    if len(samples) != row.period_pips:
        _fail(row, f"{len(samples)} samples for a period of {row.period_pips}")
    for k, sample in enumerate(samples):
        if len(sample) != 3:
            _fail(row, f"sample {k} does not have three components")
        for axis, v in enumerate(sample):
            if not isinstance(v, float) or not math.isfinite(v) \
                    or not SMALLEST_COMPONENT <= v <= LARGEST_COMPONENT:
                _fail(row, f"sample {k} axis {'xyz'[axis]} is {v!r}, not a finite value in "
                           f"[{SMALLEST_COMPONENT}, {LARGEST_COMPONENT}]")
            if axis >= row.dimensions and (v != 0.0 or math.copysign(1.0, v) < 0):
                _fail(row, f"sample {k} axis {'xyz'[axis]} is {v!r} beyond the row's dimensions")
            if round(v, 12) != v:
                _fail(row, f"sample {k} axis {'xyz'[axis]} is {v!r}, not a twelve-decimal value")
    for axis in range(row.dimensions):
        still = all(s[axis] == 0.0 for s in samples)
        if "xyz"[axis] in row.moving and still:
            _fail(row, f"axis {'xyz'[axis]} never moves")
        if "xyz"[axis] not in row.moving and not still:
            _fail(row, f"axis {'xyz'[axis]} moves, but the row moves only {row.moving}")
    if not row.rule:
        check_motion(row, samples)
    peak = max(abs(v) for s in samples for v in s)
    if row.peak is not None and peak != row.peak:
        _fail(row, f"peaks at {peak!r}, not at the declared {row.peak!r}")
    if row.peak is None and peak == SCALED_PEAK:
        _fail(row, f"peaks at exactly {SCALED_PEAK}, the scaled families' peak, "
                   "without declaring it")


def check_motion(row: Row, samples: list[tuple[float, float, float]]) -> None:
    """The motion bar: steps of at most MAX_STEP, seam included; claimed axes span MIN_SPAN."""
    n = len(samples)
    for axis in range(row.dimensions):
        lane = [s[axis] for s in samples]
        for k in range(n):
            step = abs(lane[(k + 1) % n] - lane[k])
            if step > MAX_STEP:
                _fail(row, f"axis {'xyz'[axis]} steps {step:.6g} from pip {k} to pip "
                           f"{(k + 1) % n}, more than {MAX_STEP}")
        if "xyz"[axis] not in row.moving:
            continue
        span = max(lane) - min(lane)
        if span < MIN_SPAN:
            _fail(row, f"axis {'xyz'[axis]} spans only {span:.6g}, less than {MIN_SPAN}")


def check_block(samples: dict[str, list[tuple[float, float, float]]]) -> None:
    """Facts about the whole sample block, once every row has samples."""
    smallest = min(v for s in samples.values() for p in s for v in p)
    largest = max(v for s in samples.values() for p in s for v in p)
    if smallest != SMALLEST_COMPONENT or largest != LARGEST_COMPONENT:
        raise CatalogueError(
            f"components span {smallest!r} to {largest!r}, not "
            f"{SMALLEST_COMPONENT} to {LARGEST_COMPONENT}")
