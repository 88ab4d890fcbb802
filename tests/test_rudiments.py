"""Values of the fifteen procedural rudiments, exact where their arithmetic is exact."""

import math

import pytest

import kinetra

PERIODS = {"bounce": 64, "sway": 128, "circle": 64, "figure_eight": 128, "step_touch": 128,
           "box_step": 256, "helix": 256, "tamsel_background": 256, "single_stroke_roll": 64,
           "double_stroke_roll": 64, "multiple_bounce_roll": 64, "single_paradiddle": 128,
           "flam": 64, "drag": 64, "five_stroke_roll": 128}
DIMENSIONS = {"bounce": 1, "sway": 1, "helix": 3}


def at(name, pip):
    return getattr(kinetra, name)(pip).as_tuple()


@pytest.mark.parametrize("name", PERIODS)
def test_loops_exactly_by_floor_modulo(name):
    p = PERIODS[name]
    for pip in range(-2 * p, 2 * p, 7):
        assert at(name, pip) == at(name, pip % p) == at(name, pip + p)
    assert at(name, -2**31) == at(name, (-2**31) % p)
    assert at(name, 2**31 - 1) == at(name, (2**31 - 1) % p)


@pytest.mark.parametrize("name", PERIODS)
def test_stays_in_range_and_off_unused_axes(name):
    dims = DIMENSIONS.get(name, 2)
    for pip in range(PERIODS[name]):
        v = at(name, pip)
        assert all(-1.0 <= c <= 1.0 for c in v)
        # Unused axes are exactly +0.0.
        assert all(c == 0.0 and math.copysign(1, c) > 0 for c in v[dims:])


def test_bounce_is_an_exact_triangle():
    assert [at("bounce", p)[0] for p in (0, 16, 32, 48, 63)] == [-1.0, 0.0, 1.0, 0.0, -0.9375]
    assert at("bounce", -1) == at("bounce", 63)
    assert at("bounce", -2**31)[0] == -1.0 and at("bounce", 2**31 - 1)[0] == -0.9375
    assert all(at("bounce", p + 1)[0] - at("bounce", p)[0] == 0.0625 for p in range(32))


def test_sine_and_circle_motions():
    assert at("sway", 32)[0] == 1.0
    assert at("sway", 64)[0] == math.sin(math.pi)
    assert at("circle", 0) == (math.cos(-math.pi / 2), -1.0, 0.0)
    assert at("circle", 16) == (1.0, 0.0, 0.0)
    assert at("circle", -16) == at("circle", 48) and at("circle", 48)[0] == -1.0
    assert at("figure_eight", 16)[1] == 1.0 and at("figure_eight", 16)[0] == pytest.approx(0.70711, abs=1e-5)
    assert at("helix", 64)[0] == -1.0 and at("helix", 64)[2] == 1.0 and at("helix", 192)[2] == -1.0


def test_step_touch_stops_and_lift():
    x, y, _ = at("step_touch", 0)
    assert (x, y) == (-1.0, 0.0) and math.copysign(1, y) < 0  # -0.0 at every stop
    assert at("step_touch", 16)[:2] == (-0.5, -0.35)
    assert at("step_touch", 64)[0] == 1.0 and math.copysign(1, at("step_touch", 64)[1]) < 0
    assert at("step_touch", 8)[0] == -0.84375
    assert at("step_touch", -1) == at("step_touch", 127)


def test_box_step_corners_and_edges():
    corners = [at("box_step", p)[:2] for p in (0, 64, 128, 192)]
    assert corners == [(-1.0, -1.0), (1.0, -1.0), (1.0, 1.0), (-1.0, 1.0)]
    assert at("box_step", 32)[:2] == (0.0, -1.0)
    assert at("box_step", 255)[:2] == (-1.0, -0.9985504150390625)


def test_background_drift_keys():
    assert at("tamsel_background", 0) == (0.0, 0.0, 0.0) == at("tamsel_background", 256)
    assert at("tamsel_background", 23) == (2 / 14, -0.1, 0.0)
    # A key's own pip ends the segment before it, so the last bit may differ from the key.
    assert at("tamsel_background", 100) == (-1.0, 0.8999999999999999, 0.0)
    assert at("tamsel_background", 169) == (12 / 14, 1.0, 0.0)


def test_drum_strokes():
    assert at("single_stroke_roll", 0) == (0.0, 0.0, 0.0) == at("single_stroke_roll", 8)
    assert at("single_stroke_roll", 4) == (0.92, -0.6624, 0.0)
    assert at("single_stroke_roll", 12) == (-0.92, -0.6624, 0.0)
    assert at("single_stroke_roll", -4) == at("single_stroke_roll", 60) == at("single_stroke_roll", 12)
    assert at("double_stroke_roll", 4) == (0.88, -0.6335999999999999, 0.0)
    assert at("five_stroke_roll", -21) == at("five_stroke_roll", 107) == (-1.0, -0.72, 0.0)
    assert at("single_paradiddle", 4) == (1.0, -0.72, 0.0)
    assert at("single_paradiddle", 12) == (-0.72, -0.5184, 0.0)
    assert at("single_paradiddle", 36) == (-1.0, -0.72, 0.0)
    assert all(at("multiple_bounce_roll", p) == (0.0, 0.0, 0.0) for p in range(24, 32))
    assert [at("multiple_bounce_roll", p)[0] for p in (3, 9, 15, 21)] == [0.92, 0.68, 0.48, 0.32]
    assert at("flam", 5) == (-0.34, -(0.34 * 0.72), 0.0)
    assert at("flam", 12) == (0.9, -0.648, 0.0)
    assert all(at("flam", p) == (0.0, 0.0, 0.0) for p in range(19, 33))
    assert at("drag", 4) == (-0.28, -0.2016, 0.0)
    assert at("drag", 17) == (0.88, -(0.88 * 0.72), 0.0)


def test_sample_by_name_matches_each_rudiment_bit_for_bit():
    for name, p in PERIODS.items():
        for pip in (-2**31, -1, 0, 5, p - 1, p, 2**31 - 1):
            assert kinetra.sample(name, pip).as_tuple() == at(name, pip)
