"""Authored rows read as their names say: smooth joins, visible mechanisms, distinct shapes."""

import csv
import math
import tomllib
from fractions import Fraction
from pathlib import Path

import pytest

import pattern_bar
from conftest import ROOT, row_samples

@pytest.fixture(scope="module")
def rows(catalogue_table):
    wanted = ("ease_", "mech_", "gesture_", "spline_", "burst_")
    return {r.name: row_samples(r.name, r.period_pips)
            for r in catalogue_table if r.name.startswith(wanted)}


def _xy_rms(a, b):
    ra, rb = pattern_bar.resample(a), pattern_bar.resample(b)
    return math.sqrt(sum((p[i] - q[i]) ** 2 for p, q in zip(ra, rb) for i in (0, 1)) / (2 * len(ra)))


@pytest.mark.parametrize("name", ["ease_anticipate", "ease_overshoot"])
def test_eases_join_with_continuous_speed(rows, name):
    x = [p[0] for p in rows[name]]
    n = len(x)
    velocity = [x[(k + 1) % n] - x[k] for k in range(n)]
    assert max(abs(velocity[(k + 1) % n] - velocity[k]) for k in range(n)) <= 0.01


def test_mechanisms_show_their_mechanism(rows):
    # The offset slider: the working stroke takes clearly longer than the quick return.
    slider = [p[0] for p in rows["mech_offset_crank"]]
    out = (slider.index(max(slider)) - slider.index(min(slider))) % 512
    assert max(out, 512 - out) / min(out, 512 - out) > 1.5

    # The elliptic cam: two lifts (toward -y) of equal height, each well clear of the dwells.
    lift = [p[1] for p in rows["mech_elliptic_cam"]]
    tops = pattern_bar.local_extrema(lift, minimum=True)
    dips = pattern_bar.local_extrema(lift)
    assert len(tops) == 2 and lift[tops[0]] == pytest.approx(lift[tops[1]], abs=1e-9)
    assert min(lift[k] for k in dips) - lift[tops[0]] > 0.5

    # The coupled cranks: the coupler point's distance from the middle varies widely, far
    # from the even circle that two cranks turning in step would trace.
    radius = [math.hypot(x, y) for x, y, _ in rows["mech_coupled_cranks"]]
    assert min(radius) < 0.5 * max(radius)


def test_box_gesture_draws_all_four_sides(rows):
    path = rows["gesture_box_return"]
    xs, ys = [p[0] for p in path], [p[1] for p in path]
    left, right, top, bottom = min(xs), max(xs), min(ys), max(ys)
    mid_x, mid_y = (left + right) / 2, (top + bottom) / 2
    for side in ((left, mid_y), (right, mid_y), (mid_x, top), (mid_x, bottom)):
        assert min(math.dist(side, p[:2]) for p in path) < 0.02, side


def test_splines_differ_in_the_picture_plane(rows):
    splines = {n: s for n, s in rows.items() if n.startswith("spline_")}
    names = sorted(splines)
    for i, a in enumerate(names):
        for b in names[i + 1:]:
            assert _xy_rms(splines[a], splines[b]) >= 0.15, (a, b)


def test_bursts_settle_in_distinct_ways(rows):
    with (ROOT / "data" / "burst.toml").open("rb") as f:
        settles = {n: p["settle"] for n, p in tomllib.load(f).items()}
    shapes = {}
    for name, settle in settles.items():
        s = rows[name]
        at = int(Fraction(settle["at"]) * 64)
        window = [s[(at + d) % 512] for d in range(-24, 72)]
        moved = [tuple(v - w for v, w in zip(p, window[0])) for p in window]
        size = max(math.hypot(*p) for p in moved)
        shapes[name] = [tuple(v / size for v in p) for p in moved]
    names = sorted(shapes)
    for i, a in enumerate(names):
        for b in names[i + 1:]:
            d = math.sqrt(sum((p[k] - q[k]) ** 2 for p, q in zip(shapes[a], shapes[b]) for k in range(3))
                          / (3 * len(shapes[a])))
            assert d >= 0.1, (a, b)


@pytest.mark.parametrize("name, axis, sign", [
    ("gesture_high_arc", 1, -1), ("gesture_hop_answer", 1, -1), ("gesture_low_scoop", 1, 1),
    ("gesture_duck_sway", 1, 1), ("spline_crown", 1, -1)])
def test_named_directions_follow_the_axis_convention(rows, name, axis, sign):
    # Negative y is up: a row named for going up or down reaches furthest that way.
    lane = [sign * p[axis] for p in rows[name]]
    assert max(lane) > 1.3 * -min(lane)


def _akwf_data():
    with (ROOT / "data" / "akwf.toml").open("rb") as f:
        data = tomllib.load(f)
    defaults = data.pop("defaults")
    return {name: {**defaults, **p} for name, p in data.items()}


def test_waveform_rows_play_the_collections_samples(catalogue_table):
    rows = {r.name: r for r in catalogue_table if r.recipe == "akwf"}
    data = _akwf_data()
    assert set(data) == set(rows)
    for name, p in data.items():
        assert rows[name].description.startswith(p["waveform"] + ":")
        wave = [v / 32768 for v in p["samples"]]
        scale = p["peak"] / max(abs(v) for v in wave)
        x = [s[0] for s in row_samples(name, 256)]
        assert max(abs(v) for v in x) == p["peak"], name
        if p["timing"] == [[0, 0], [256, 256]]:
            assert x == [round(scale * v, 12) for v in wave], name
        else:
            # Re-timed: each pip still reads the wave between samples a few pips from it
            # (within the little that reading between samples moves the row's own peak).
            for k, v in enumerate(x):
                near = [scale * wave[j % 256] for j in range(k - 8, k + 9)]
                assert min(near) - 1e-3 <= v <= max(near) + 1e-3, (name, k)


def test_waveform_data_is_the_collections_own():
    source = Path("/work/shared/waveforms")
    if not source.is_dir():
        pytest.skip("the public-domain waveform collection is not on this machine")
    for name, p in _akwf_data().items():
        with (source / f"{p['waveform']}.csv").open(newline="") as f:
            stored = [int(r["int16"]) for r in csv.DictReader(f)]
        assert p["samples"] == stored, name


def test_pendulums_hang(catalogue_table):
    # The bob is lowest (largest y) at the centre of the swing and rises toward the sides.
    pendulums = [r for r in catalogue_table if "pendulum" in r.name]
    assert len(pendulums) > 3
    for row in pendulums:
        s = row_samples(row.name, row.period_pips)
        reach = max(abs(p[0]) for p in s)
        centre = [p[1] for p in s if abs(p[0]) < 0.2 * reach]
        sides = [p[1] for p in s if abs(p[0]) > 0.8 * reach]
        assert sum(centre) / len(centre) > sum(sides) / len(sides) + 0.1, row.name


def test_burst_endings_are_their_own(rows):
    # Over the last two beats no two rows are near copies, and few end on a lift to the top.
    tails = {n: s[384:] for n, s in rows.items() if n.startswith("burst_")}
    names = sorted(tails)
    for i, a in enumerate(names):
        for b in names[i + 1:]:
            d = math.sqrt(sum(math.dist(p, q) ** 2 for p, q in zip(tails[a], tails[b])) / 128)
            assert d >= 0.3, (a, b)
    lifted = [n for n in names if min(p[1] for p in tails[n]) < -0.75]
    assert len(lifted) <= 3, lifted


def _y(name, period):
    return [s[1] for s in row_samples(name, period)]


def test_every_authored_hit_comes_down(catalogue_table):
    # Strokes only ever add downward (+y) motion, and each one is seen.
    strokes = [r for r in catalogue_table if r.recipe in ("stick", "sticking", "flam_accent")]
    assert len(strokes) == 20
    for row in strokes:
        y = _y(row.name, row.period_pips)
        assert min(y) >= 0.0 and max(y) > 0.3, row.name
    with (ROOT / "data" / "groove.toml").open("rb") as f:
        groove = tomllib.load(f)
    for row in catalogue_table:
        if row.recipe == "groove":
            hits = groove["excerpts"][groove[row.name]["excerpt"]]["hits"]
            y = _y(row.name, row.period_pips)
            for sixteenth, instrument, *_ in hits:
                if instrument in ("kick", "snare"):
                    k = 16 * sixteenth
                    assert max(y[(k + d) % len(y)] for d in range(-4, 5)) > 0.1, (row.name, sixteenth)
    assert _y("rhythm_half_time", 256)[0] > 0.5
