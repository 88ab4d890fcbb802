"""Authored waves, mechanisms, arms, sticking studies, sequences and noise paths."""

import math
import tomllib

import pytest

import pattern_bar
from conftest import ROOT, row_samples

RECIPES = ("wave", "mech", "arm", "stick", "seq", "noise")


def data(recipe):
    with (ROOT / "data" / f"{recipe}.toml").open("rb") as f:
        return tomllib.load(f)


@pytest.fixture(scope="module")
def rows(catalogue_table):
    return {r.name: (r, row_samples(r.name, r.period_pips))
            for r in catalogue_table if r.recipe in RECIPES}


@pytest.mark.parametrize("recipe", RECIPES)
def test_rows_of_a_family_differ(rows, recipe):
    chosen = {n: v for n, v in rows.items() if v[0].recipe == recipe}
    assert len(chosen) == (4 if recipe == "wave" else 14 if recipe == "mech" else 16)
    distance, a, b = pattern_bar.closest_pair({n: v[1] for n, v in chosen.items()})
    assert distance >= pattern_bar.MIN_RMS, (a, b)


def test_sticking_answer_swaps_hands_and_strokes_peak_on_time(rows):
    params = data("stick")
    for name, (row, s) in rows.items():
        if row.recipe != "stick":
            continue
        half = row.period_pips // 2
        for k in range(half):
            assert s[k + half][0] == pytest.approx(-s[k][0], abs=1e-11), (name, k)
            assert s[k + half][1] == pytest.approx(s[k][1], abs=1e-11), (name, k)
        groups = params[name]["sticking"].split()
        slots = "".join(groups)
        spacing = half / len(slots)
        leads = {sum(len(g) for g in groups[:i]) for i in range(len(groups))}
        for i, hand in enumerate(slots):
            if hand == "-":
                continue
            centre = i * spacing + params["legato"] * spacing / 2
            lane = [(1 if hand == "R" else -1) * s[int(centre) + d][0] for d in range(-4, 5)]
            assert abs(lane.index(max(lane)) - 4 - (centre - int(centre))) <= 1, (name, i)
            height = params[name]["accent" if i in leads else "tap"]
            assert max(lane) == pytest.approx(height, abs=0.02), (name, i)


def test_sequences_hold_each_target_for_their_timing(rows):
    params = data("seq")
    for name, (row, s) in rows.items():
        if row.recipe != "seq":
            continue
        kind = params[name.removeprefix("seq_").rsplit("_", 1)[0]]
        count = len(kind["targets"])
        lengths = ([row.period_pips // count] * count if name.endswith("_even")
                   else [kind["lilt"][i % len(kind["lilt"])] for i in range(count)])
        scale = 0.82 / max(abs(v) for t in kind["targets"] for v in t)
        start = 0
        for (tx, ty), length in zip(kind["targets"], lengths):
            # Reached after the glide and held still until the next segment begins.
            for k in range(start + params["glide"], start + length):
                assert s[k][:2] == pytest.approx((tx * scale, ty * scale), abs=1e-11), (name, k)
            start += length
        if name.endswith("_lilt"):
            assert len(set(lengths)) > 1


def winding(s):
    turned = 0.0
    for (ax, ay, _), (bx, by, _) in zip(s, s[1:] + s[:1]):
        turned += math.remainder(math.atan2(by, bx) - math.atan2(ay, ax), math.tau)
    return round(turned / math.tau)


def test_noise_paths_read_as_their_words(rows):
    for name, (row, s) in rows.items():
        if row.recipe != "noise":
            continue
        word, count = name.split("_")[1], int(name.split("_")[2])
        if word == "orbit":
            assert abs(winding(s)) == 1, name
        if word == "ripple":
            ys = [p[1] for p in s]
            assert len(pattern_bar.local_extrema(ys)) >= count // 2, name
        if word == "depth":
            assert row.dimensions == 3 and pattern_bar.spans(s)[2] >= 0.5, name


def test_mechanisms_keep_their_timing(rows):
    # The quick return: the ram's slow stroke takes clearly longer than its return.
    ram = [p[0] for p in rows["mech_whitworth"][1]]
    top, bottom = ram.index(max(ram)), ram.index(min(ram))
    out, back = (top - bottom) % 512, (bottom - top) % 512
    assert max(out, back) / min(out, back) > 1.3

    # The escape wheel stands still for part of every beat, one tooth further on each time.
    wheel = rows["mech_escapement"][1]
    rests = [wheel[64 * b + 63] for b in range(8)]
    for b in range(8):
        assert all(wheel[64 * b + k] == rests[b] for k in range(50, 64)), b
    angles = [math.atan2(x, y) for x, y, _ in rests]
    steps = {round(math.remainder(b - a, math.tau), 9) for a, b in zip(angles, angles[1:] + angles[:1])}
    assert len(steps) == 1 and abs(steps.pop()) == round(math.tau / 8, 9)

    # Rise, dwell, return, dwell: the follower is still through both dwells.
    p = data("mech")["mech_cam_return"]
    cam = rows["mech_cam_return"][1]
    for first, last in ((p["rise"], p["rise"] + p["dwell"]), (p["rise"] + p["dwell"] + p["fall"], 360)):
        held = cam[math.ceil(first / 360 * 512) + 1:int(last / 360 * 512)]
        assert len(set(held)) == 1
