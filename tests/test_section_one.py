"""The individually authored catalogue rows: their peaks and what each row claims."""

import math
import re

import pytest

import pattern_bar
from conftest import row_samples

RECIPES = {"lfo_ratchet", "lfo_morph", "lfo_flower", "rhythm_euclid", "cross_rhythm", "half_time",
           "sticking", "flam_accent", "ease", "ease_elastic", "akwf", "groove",
           "lfo_sweep_ratchet", "lfo_triplet_wobble", "lfo_breathing_orbit", "seeded_drift",
           "lfo_pendulum_dwell", "bowed_diamond", "orbit_dwell", "torus_path", "woven_3d",
           "swung_answer", "eighth_groups"}


@pytest.fixture(scope="module")
def rows(catalogue_table):
    mine = [r for r in catalogue_table if r.recipe in RECIPES]
    assert len(mine) == 40
    return {r.name: (r, row_samples(r.name, r.period_pips)) for r in mine}


def lane(samples, axis=0):
    return [s[axis] for s in samples]


def peaks_near(values, pip, reach):
    """Pip of the largest |value| within `reach` pips of `pip`, as a signed offset."""
    n = len(values)
    best = max(range(-reach, reach + 1), key=lambda d: abs(values[(round(pip) + d) % n]))
    return round(pip) + best - pip


def test_rows_of_one_recipe_differ(rows):
    by_recipe = {}
    for name, (row, s) in rows.items():
        by_recipe.setdefault(row.recipe, {})[name] = s
    for group in by_recipe.values():
        if len(group) > 1:
            assert pattern_bar.closest_pair(group)[0] >= pattern_bar.MIN_RMS


def test_euclidean_onsets_follow_the_name(rows):
    for name in ("rhythm_euclid_3_8", "rhythm_euclid_5_12", "rhythm_euclid_7_16", "rhythm_euclid_5_16"):
        row, s = rows[name]
        m, n = map(int, name.split("_")[-2:])
        repeats = row.period_pips // 256
        step = row.period_pips / (n * repeats)
        x = lane(s)
        onsets = [(r * n + math.ceil(i * n / m)) * step for r in range(repeats) for i in range(m)]
        for j, t in enumerate(onsets):
            assert abs(peaks_near(x, t, 8)) <= 1, (name, t)
            assert (x[round(t)] > 0) == (j % 2 == 0), (name, t)
        assert len(pattern_bar.local_extrema([abs(v) for v in x])) == len(onsets), name


def test_cross_rhythm_lanes_hit_exact_fractions(rows):
    counts = {"rhythm_three_two": (3, 2), "rhythm_five_four": (10, 8),
              "rhythm_seven_four": (14, 8), "rhythm_three_four_five": (3, 4, 5)}
    for name, per_axis in counts.items():
        row, s = rows[name]
        for axis, hits in enumerate(per_axis):
            values = lane(s, axis)
            for i in range(hits):
                assert abs(peaks_near(values, row.period_pips * i / hits, 6)) <= 1, (name, axis, i)
            big = [k for k in pattern_bar.local_extrema([abs(v) for v in values]) if abs(values[k]) > 0.2]
            assert len(big) == hits, (name, axis)


@pytest.mark.parametrize("name", ["rudiment_double_paradiddle", "rudiment_paradiddle_diddle",
                                  "rudiment_six_stroke"])
def test_sticking_plays_the_described_hands(rows, name):
    row, s = rows[name]
    hands = re.search(r"study ([RL]{6}) ([RL]{6})", row.description).group(1, 2)
    sticking = "".join(hands)
    x, y = lane(s), lane(s, 1)
    for i, hand in enumerate(sticking):
        k = round(i * 256 / 12)
        assert (x[k] > 0.3) if hand == "R" else (x[k] < -0.3), (name, i)
        assert y[k] > 0.3  # the downstroke
    # The leading stroke of each six is accented above every unaccented stroke.
    strokes = [abs(x[round(i * 256 / 12)]) for i in range(12)]
    assert strokes[0] == strokes[6] == max(strokes)


def test_flam_accent_grace_leads_from_the_other_hand(rows):
    x = lane(rows["rudiment_flam_accent"][1])
    for beat in range(4):
        primary = x[64 * beat]
        assert abs(primary) >= 0.85 and (primary > 0) == (beat % 2 == 0)
        # The grace sits between the previous tap and the primary, on the opposite side.
        assert primary * x[(64 * beat - 12) % 256] < 0


def test_swung_call_and_answer(rows):
    x = lane(rows["rhythm_swung_answer"][1])
    times = [64 * b + o for b in range(4) for o in (0, 64 * 2 / 3)]
    for j, t in enumerate(times):
        assert abs(peaks_near(x, t, 6)) <= 1
        assert (x[round(t)] > 0) == (j < 4)


@pytest.mark.parametrize("name", ["rhythm_group_332", "rhythm_group_223"])
def test_group_starts_alternate(rows, name):
    row, s = rows[name]
    groups = [int(c) for c in name.rsplit("_", 1)[1]] * 2
    starts = [32 * sum(groups[:j]) for j in range(len(groups))]
    x = lane(s)
    for j, t in enumerate(starts):
        assert abs(peaks_near(x, t, 6)) == 0 and (x[t] > 0.6 if j % 2 == 0 else x[t] < -0.6)


def test_grid_grooves_are_quantised_and_played_ones_are_not(rows):
    for excerpt in "ab":
        grid = lane(rows[f"groove_{excerpt}_grid"][1], 1)
        played = lane(rows[f"groove_{excerpt}_played"][1], 1)
        hits_grid = [k for k in pattern_bar.local_extrema(grid) if grid[k] > 0.2]
        hits_played = [k for k in pattern_bar.local_extrema(played) if played[k] > 0.2]
        assert len(hits_grid) >= 10 and all(k % 16 == 0 for k in hits_grid)
        assert sum(k % 16 != 0 for k in hits_played) >= len(hits_played) // 2


def test_easing_loops_have_their_character(rows):
    rebound = lane(rows["ease_rebound"][1])
    assert len([k for k in pattern_bar.local_extrema(rebound[:128]) if rebound[k] > 0.3]) >= 3
    anticipate = lane(rows["ease_anticipate"][1])
    assert min(anticipate[:128]) < anticipate[0] - 0.1 and anticipate[127] > 0.65
    overshoot = lane(rows["ease_overshoot"][1])
    assert max(overshoot[:128]) > overshoot[128] + 0.1
    elastic = lane(rows["ease_elastic"][1])
    swings = [abs(elastic[k]) for k in pattern_bar.local_extrema([abs(v) for v in elastic])]
    big = swings.index(max(swings))
    assert all(a > b for a, b in zip(swings[big:], swings[big + 1:]) if a > 0.01)


def test_paths_turn_as_described(rows):
    diamond = rows["path_bowed_diamond"][1]
    speed = [math.dist(diamond[k][:2], diamond[(k + 1) % 512][:2]) for k in range(512)]
    assert max(speed[k] for k in (0, 127, 128, 255, 256, 383, 384, 511)) < 0.1 * max(speed)
    dwell = rows["path_orbit_dwell"][1]
    wide, tall = (max(abs(p[a]) for p in dwell) for a in (0, 1))
    phase = [math.atan2(p[1] / tall, p[0] / wide) for p in dwell]
    turn = [(phase[(k + 1) % 512] - phase[k]) % (2 * math.pi) for k in range(512)]
    assert turn[0] < 0.01 * turn[256] and max(turn) == pytest.approx(turn[256], rel=0.01)
    knot = rows["path_torus_knot"][1]
    turns = sum((math.atan2(knot[(k + 1) % 1024][1], knot[(k + 1) % 1024][0])
                 - math.atan2(knot[k][1], knot[k][0]) + math.pi) % (2 * math.pi) - math.pi
                for k in range(1024)) / (2 * math.pi)
    assert round(turns) == 2
    crossings = lambda v: sum((v[k] > 0) != (v[(k + 1) % len(v)] > 0) for k in range(len(v)))
    assert crossings(lane(knot, 2)) == 6
    woven = rows["path_woven_3d"][1]
    assert [crossings(lane(woven, a)) for a in range(3)] == [4, 6, 10]


def test_lfo_rows_do_what_they_say(rows):
    ratchet = rows["lfo_ratchet"][1]
    x = lane(ratchet)
    pushes = [x[k] for k in (0, 32, 64, 96)]
    assert pushes == sorted(pushes, reverse=True) and all(v == 0.0 for v in x[120:240])
    y = lane(ratchet, 1)
    assert y[0] > y[32] > y[64] > y[96] and y[248] == 0.0
    sweep = rows["lfo_sweep_ratchet"][1]
    sx, sy = lane(sweep), lane(sweep, 1)
    assert all(a <= b for a, b in zip(sx[:320], sx[1:321]))
    dips = [sy[k] for k in (320, 384, 448)]
    assert dips == sorted(dips) and all(v == 0.0 for v in sy[:300])
    wobble = lane(rows["lfo_triplet_wobble"][1])
    assert sum((wobble[k] > 0) != (wobble[k + 1] > 0) for k in range(511)) >= 23
    assert max(wobble[192:320]) > 2 * max(wobble[:64])
    pendulum = rows["lfo_pendulum_dwell"][1]
    near_sides = sum(abs(p[0]) > 0.7 * 0.85 for p in pendulum) / 512
    assert near_sides > 0.6  # a plain sine spends about half its time there
    # The bob hangs lowest (largest y) at the centre of its swing.
    assert max(pendulum, key=lambda p: p[1])[0] == pytest.approx(0, abs=0.05)
    drift = rows["lfo_seeded_drift"][1]
    assert pattern_bar.local_extrema(lane(drift)) != pattern_bar.local_extrema(lane(drift, 1))
