"""The catalogue rows whose content follows from closed rules, read back through the module."""

import math
from functools import cache

import pytest
from conftest import row_samples

import pattern_bar

@pytest.fixture(scope="module")
def rule_rows(catalogue_table):
    return {r.name: r for r in catalogue_table if r.rule}


@cache
def loop(name, period):
    return row_samples(name, period)


def lane(name, period, axis):
    return [s[axis] for s in loop(name, period)]


def test_reference_sine_and_an_exact_tie():
    x = lane("lfo_breathe", 256, 0)
    assert x[:5] == [0.0, 0.019632982818, 0.039254139462, 0.05885165088, 0.078413712264]
    assert (x[64], x[128], x[192]) == (0.8, 0.0, -0.8)
    # -0.7935791015625 is exactly halfway between two twelve-decimal values: ties go to even.
    assert lane("lfo_glide_stair", 256, 0)[36] == -0.793579101562


def test_axes_zeros_and_overall_range(rule_rows):
    low = high = 0.0
    for row in rule_rows.values():
        samples = loop(row.name, row.period_pips)
        for axis in range(row.dimensions, 3):
            assert all(math.copysign(1, s[axis]) == 1 and s[axis] == 0 for s in samples), row.name
        low = min(low, *(min(s) for s in samples))
        high = max(high, *(max(s) for s in samples))
    assert (low, high) == (-0.85, 0.82)
    # A zero sum negated on a used axis stays a negative zero.
    quiet = loop("euclid_2_5", 160)[48]
    assert quiet == (0.0, 0.0, 0.0) and math.copysign(1, quiet[1]) == -1


def test_keyframes_rest_on_their_keys(rule_rows):
    y_only = [n for n, r in rule_rows.items() if r.moving == "y"]
    assert len(y_only) == 17
    for name in y_only:
        assert not any(lane(name, rule_rows[name].period_pips, 0)), name
    pump = lane("lfo_double_pump", 256, 1)
    assert (pump[32], pump[96], pump[0], pump[200]) == (-0.85, -0.55, 0.0, 0.0)
    gate = lane("lfo_soft_gate", 256, 0)
    assert set(gate[32:129]) == {0.8} and set(gate[160:]) == {-0.8}
    stair = lane("lfo_glide_stair", 256, 0)
    assert [stair[k] for k in range(0, 193, 32)] == [-0.8, -0.8, -0.4, 0.0, 0.4, 0.8, 0.8]
    # The return to the first key crosses the centre halfway, as every eased span does.
    assert stair[224] == 0.0


@pytest.mark.parametrize("prefix", ["weave_", "spiro_", "orbit_harmonic_", "space_torus_", "wave_"])
def test_scaled_families_peak_at_exactly_082(rule_rows, prefix):
    names = [n for n, r in rule_rows.items() if n.startswith(prefix)]
    assert len(names) in (12, 16, 8)
    for name in names:
        assert pattern_bar.peak(loop(name, rule_rows[name].period_pips)) == 0.82, name


def test_silhouettes_never_exceed_their_scale(rule_rows):
    # The scale counts peaks between samples, so a row's samples may stay just below 0.82.
    peaks = [pattern_bar.peak(loop(n, 1024)) for n in rule_rows if n.startswith("silhouette_")]
    assert len(peaks) == 16 and all(0.8199 < p <= 0.82 for p in peaks)
    assert peaks.count(0.82) >= 8


def test_polar_shapes(rule_rows):
    for name, row in rule_rows.items():
        if not name.startswith(("polar_", "path_rose_")):
            continue
        radius = [math.hypot(x, y) for x, y, _ in loop(name, row.period_pips)]
        n = int(name.rsplit("_", 1)[1])
        if "scallop" in name:
            assert 0.34 - 1e-9 <= min(radius) and max(radius) <= 0.82 + 1e-9, name
        else:
            # One petal per radius peak; each petal passes through the centre.
            assert len(pattern_bar.local_extrema(radius)) == n, name
            assert min(radius) < 0.01 and max(radius) == pytest.approx(0.82, abs=1e-12), name


def test_crank_strokes():
    for name, period, stroke in (("path_crank_slider", 256, 0.78), ("mech_piston_short", 512, 0.82),
                                 ("mech_piston_long", 512, 0.82)):
        x = lane(name, period, 0)
        assert (x[0], x[period // 2]) == (stroke, -stroke)
        assert max(x) == stroke and min(x) == -stroke


def test_euclid_onsets_peak_on_their_pips(rule_rows):
    for name, row in rule_rows.items():
        if not name.startswith("euclid_"):
            continue
        m, n = map(int, name.split("_")[1:])
        samples = loop(name, row.period_pips)
        onsets = [32 * math.ceil(i * n / m) for i in range(m)]
        assert samples[0][:2] == (0.75, -0.32)
        for i, o in enumerate(onsets[1:], start=1):
            assert samples[o][:2] == ((0.5625 if i % 2 == 0 else -0.5625), -0.24), (name, i)
        assert sorted(pattern_bar.local_extrema([s[1] for s in samples], minimum=True)) == onsets


def test_meter_groups_accent_their_starts(rule_rows):
    for name, row in rule_rows.items():
        if not name.startswith("meter_"):
            continue
        samples = loop(name, row.period_pips)
        starts = [0]
        for g in map(int, name.split("_")[1:-1]):
            starts.append(starts[-1] + g)
        for step in range(row.period_pips // 32):
            if step in starts:
                side = 0.72 if starts.index(step) % 2 == 0 else -0.72
                assert samples[32 * step] == (side, -0.33, 0.0), (name, step)
            else:
                assert samples[32 * step] == (0.0, -0.1134, 0.0504), (name, step)


def test_swing_scores():
    push, skip = loop("swing_push_3_4", 512), loop("swing_skip_3_4", 512)
    answer, shuffle = loop("swing_answer_3_4", 512), loop("swing_shuffle_3_4", 512)
    for j in range(8):
        g = 0.9 if j in (0, 4) else 0.65
        beat = ((1 if j % 2 == 0 else -1) * 0.65 * g, -0.24 * g, 0.0)
        assert push[64 * j] == pytest.approx(beat, abs=1e-12)
        assert skip[64 * j] == ((0.0, 0.0, 0.0) if j in (2, 6) else push[64 * j])
        assert push[64 * j + 48] == (0.075, -0.15, 0.09)
        assert answer[64 * j + 48] == ((0.0, 0.0, 0.0) if j < 4 else shuffle[64 * j + 48])
    assert shuffle[64 * 3 + 24] == (0.0525, -0.105, 0.063) and shuffle[64 * 2 + 24] == (0, 0, 0)


def test_pulse_trains_meet_on_the_downbeat(rule_rows):
    for name, row in rule_rows.items():
        if not name.startswith("poly_"):
            continue
        b = int(name.split("_")[2])
        samples = loop(name, 512)
        assert samples[0] == (0.0, -0.52, 0.22)
        # Only the right lane lifts z, so its pulses are its peaks.
        assert len(pattern_bar.local_extrema([s[2] for s in samples])) == b, name
