"""Invariants of the catalogue, checked before anything is written.

Each check raises CatalogueError naming the offending row, so that a data fault fails the
build with a message that points at the line to fix.
"""

from __future__ import annotations

import math
from collections import Counter

from catalogue_data import Row

RUDIMENT_NAMES = frozenset({
    "bounce", "sway", "circle", "figure_eight", "step_touch", "box_step", "helix",
    "tamsel_background", "single_stroke_roll", "double_stroke_roll",
    "multiple_bounce_roll", "single_paradiddle", "flam", "drag", "five_stroke_roll",
})

ROW_COUNT = 1716
SAMPLE_COUNT = 1_022_912
PERIOD_COUNTS = {160: 3, 224: 5, 256: 41, 288: 5, 320: 4, 352: 6, 384: 4, 416: 6, 448: 6,
                 480: 5, 512: 1304, 544: 1, 608: 1, 640: 1, 768: 17, 1024: 307}
DIMENSION_COUNTS = {1: 29, 2: 321, 3: 1366}
SECTION_SIZES = (52, 36 * 16, 68 * 16)

# Peak scaling is a catalogue-wide convention: these families always peak at exactly 0.82.
PEAK = 0.82
PEAK_ROW_COUNT = 307
PEAK_FAMILIES = ("wave_", "seq_", "noise_", "orbit_", "weave_", "polar_", "spiro_", "space_",
                 "mech_", "gesture_", "ribbon_", "tour_", "scan_", "surface_")
SMALLEST_COMPONENT = -0.92
LARGEST_COMPONENT = 1.0

# The only rows of dimensions 2 whose x stays at zero: only y moves.
Y_ONLY_ROWS = frozenset({"lfo_double_pump", "beat_four_floor_bounce"} | {
    f"env_{n}" for n in (
        "lift_hold_drop", "inhale_exhale", "triple_swell", "rising_echo", "falling_echo",
        "anticipation", "plateau_scoop", "hesitant", "double_hold", "swell_recoil",
        "late_release", "split_attack", "suspended", "valley_peaks", "four_breaths",
        "return_stair")})

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
        if row.period_pips not in PERIOD_COUNTS:
            _fail(row, f"period {row.period_pips} is not a catalogue period")
        if row.dimensions not in DIMENSION_COUNTS:
            _fail(row, f"dimensions {row.dimensions} is not 1, 2 or 3")
        if "\n" in row.description or "\r" in row.description or not row.description:
            _fail(row, "a description is one non-empty line")
        family = row.name.split("_")[0]
        if family in ("euclid", "dialogue", "meter"):
            steps = [int(n) for n in row.name.split("_")[1:]]
            eighths = steps[1] if family == "euclid" else sum(steps)
            if row.period_pips != 32 * eighths:
                _fail(row, f"period must be 32 pips per eighth note, {32 * eighths}")
    if len(rows) != ROW_COUNT:
        raise CatalogueError(f"the table holds {len(rows)} rows, not {ROW_COUNT}")
    for counted, expected, what in (
        (Counter(r.period_pips for r in rows), PERIOD_COUNTS, "periods"),
        (Counter(r.dimensions for r in rows), DIMENSION_COUNTS, "dimensions"),
    ):
        if dict(counted) != expected:
            raise CatalogueError(f"the table's {what} are {dict(sorted(counted.items()))}")
    beat_start = SECTION_SIZES[0] + SECTION_SIZES[1]
    for row in rows[beat_start:]:
        if not row.name.startswith("beat_") or row.recipe != "beat":
            _fail(row, "rows of the beat section are beat studies")
    for row in rows[:beat_start]:
        if row.name.startswith("beat_"):
            _fail(row, "beat studies belong to the last section")


def check_samples(row: Row, samples: list[tuple[float, float, float]], rule: bool) -> None:
    """Range, twelve-decimal values and +0.0 on unused axes, and the motion bar unless `rule`."""
    if len(samples) != row.period_pips:
        _fail(row, f"{len(samples)} samples for a period of {row.period_pips}")
    for k, sample in enumerate(samples):
        if len(sample) != 3:
            _fail(row, f"sample {k} does not have three components")
        for axis, v in enumerate(sample):
            if not isinstance(v, float) or not math.isfinite(v) or not -1.0 <= v <= 1.0:
                _fail(row, f"sample {k} axis {'xyz'[axis]} is {v!r}, not a finite value in [-1, 1]")
            if axis >= row.dimensions and (v != 0.0 or math.copysign(1.0, v) < 0):
                _fail(row, f"sample {k} axis {'xyz'[axis]} is {v!r} beyond the row's dimensions")
            if round(v, 12) != v:
                _fail(row, f"sample {k} axis {'xyz'[axis]} is {v!r}, not a twelve-decimal value")
    for axis in range(row.dimensions):
        if all(s[axis] == 0.0 for s in samples) and not (axis == 0 and row.name in Y_ONLY_ROWS):
            _fail(row, f"axis {'xyz'[axis]} never moves")
    if not rule:
        check_motion(row, samples)
    peak = max(abs(v) for s in samples for v in s)
    if row.name.startswith(PEAK_FAMILIES) and peak != PEAK:
        _fail(row, f"peaks at {peak!r}; the family peaks at exactly {PEAK}")
    if row.name in Y_ONLY_ROWS and any(s[0] != 0.0 for s in samples):
        _fail(row, "x must stay at zero in this row")


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
        if axis == 0 and row.name in Y_ONLY_ROWS:
            continue
        span = max(lane) - min(lane)
        if span < MIN_SPAN:
            _fail(row, f"axis {'xyz'[axis]} spans only {span:.6g}, less than {MIN_SPAN}")


def check_block(rows: list[Row], samples: dict[str, list[tuple[float, float, float]]]) -> None:
    """Facts about the whole sample block, once every row has samples."""
    total = sum(len(s) for s in samples.values())
    if total != SAMPLE_COUNT:
        raise CatalogueError(f"the block holds {total} samples, not {SAMPLE_COUNT}")
    smallest = min(v for s in samples.values() for p in s for v in p)
    largest = max(v for s in samples.values() for p in s for v in p)
    if smallest != SMALLEST_COMPONENT or largest != LARGEST_COMPONENT:
        raise CatalogueError(
            f"components span {smallest!r} to {largest!r}, not "
            f"{SMALLEST_COMPONENT} to {LARGEST_COMPONENT}")
    peaked = [r.name for r in rows if max(abs(v) for p in samples[r.name] for v in p) == PEAK]
    if len(peaked) != PEAK_ROW_COUNT:
        raise CatalogueError(f"{len(peaked)} rows peak at exactly {PEAK}, not {PEAK_ROW_COUNT}")
    flat_x = {r.name for r in rows
              if r.dimensions == 2 and all(p[0] == 0.0 for p in samples[r.name])}
    if flat_x != Y_ONLY_ROWS:
        extra = sorted(flat_x - Y_ONLY_ROWS)
        raise CatalogueError(f"rows of dimensions 2 with x zero throughout differ: {extra}")
