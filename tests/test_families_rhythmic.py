"""The rhythmic authored families: their peaks, their differences, and events on their pips."""

import tomllib
from fractions import Fraction
from pathlib import Path

import numpy as np
import pytest

import pattern_bar
from conftest import row_samples

DATA = Path(__file__).resolve().parent.parent / "data"
FAMILIES = ("dwell_", "packet_", "canon_", "echo_", "ladder_", "necklace_", "accent_",
            "triplet_", "dialogue_", "burst_")


@pytest.fixture(scope="module")
def rows(catalogue_table):
    chosen = [r for r in catalogue_table if r.name.startswith(FAMILIES)]
    return {r.name: (r, np.array(row_samples(r.name, r.period_pips))) for r in chosen}


def data(recipe):
    with (DATA / f"{recipe}.toml").open("rb") as f:
        return tomllib.load(f)


def peak_near(lane, pip, radius, sign=1.0):
    """The pip of the lane's extreme (max for sign +1, min for -1) within radius of `pip`."""
    n = len(lane)
    centre = round(pip)
    window = [(centre + d) % n for d in range(-radius, radius + 1)]
    best = max(window, key=lambda k: sign * lane[k])
    return centre + ((best - centre + n // 2) % n - n // 2)


def assert_peaks(lane, pips, radius, sign=None, what=""):
    for p in pips:
        s = sign if sign is not None else (1.0 if lane[round(p) % len(lane)] >= 0 else -1.0)
        assert abs(peak_near(lane, p, radius, s) - p) <= 1.0, f"{what}: event at {p}"


@pytest.mark.parametrize("family", FAMILIES)
def test_rows_of_a_family_differ(rows, family):
    members = {n: v for n, v in rows.items() if n.startswith(family)}
    assert len(members) == 16
    d, a, b = pattern_bar.closest_pair({n: [tuple(p) for p in s] for n, (_, s) in members.items()})
    assert d >= pattern_bar.MIN_RMS, (a, b)


def test_ladder_accents_and_subdivisions(rows):
    for name in ("ladder_2_3_4_6", "ladder_7_3_5_2", "ladder_4_6_7_5"):
        _, s = rows[name]
        counts = [int(n) for n in name.split("_")[1:]]
        assert_peaks(s[:, 0], [128 * r for r in range(4)], 10, what=name)
        ticks = [128 * r + 128 * j / n for r, n in enumerate(counts) for j in range(1, n)]
        assert_peaks(s[:, 2], ticks, 4, what=name)
        # Denser regions carry more depth ticks: count z turning points per region.
        turns = [sum(1 for k in range(128 * r, 128 * r + 128)
                     if (s[k, 2] - s[k - 1, 2]) * (s[(k + 1) % 512, 2] - s[k, 2]) < 0)
                 for r in range(4)]
        assert np.argsort(turns).tolist() == np.argsort(counts, kind="stable").tolist(), name


def test_necklace_word_and_complement_take_opposite_sides(rows):
    for name, p in data("necklace").items():
        word = p["word"]
        _, s = rows[name]
        step = 512 / len(word)
        for i, bit in enumerate(word):
            sign = 1.0 if bit == "1" else -1.0
            assert abs(peak_near(s[:, 0], i * step, int(step / 2), sign) - i * step) <= 1, name
            assert sign * s[round(i * step) % 512, 0] > 0.2, name
        rises = [i for i, b in enumerate(word) if b == "1" and word[i - 1] == "0"]
        assert_peaks(s[:, 2], [i * step for i in rises], int(step / 2), 1.0, name)


def test_accent_motif_walks_over_a_steady_grid(rows):
    for name, p in data("accent").items():
        count, apart = (int(n) for n in name.split("_")[2:])
        _, s = rows[name]
        spacing = 256 / count
        firsts = []
        for bar in range(4):
            lane = s[256 * bar:256 * bar + 256, 0]
            lead, answer = int(np.argmax(lane)), int(np.argmin(lane))
            k_lead, k_answer = round(lead / spacing), round(answer / spacing)
            assert abs(lead - k_lead * spacing) <= 1 and abs(answer - k_answer * spacing) <= 1, name
            assert (k_answer - k_lead) % count == apart, name
            firsts.append(k_lead)
        assert len(set(firsts)) > 1, f"{name}: the motif never moves"
        assert firsts == [(p["start"] + b * p["walk"]) % count for b in range(4)], name


def test_triplet_hits_stay_on_the_grid_and_answers_leave_it(rows):
    slot = 64 / 3
    for key, p in data("triplet").items():
        _, s = rows[key + "_answer"]
        hits = [(h * 12 + i) * slot for h in range(2) for i, c in enumerate(p["mask"]) if c == "x"]
        assert_peaks(s[:, 0], hits, 8, what=key)
        gaps = [(12 + i) * slot + float(Fraction(p["offset"])) * 64
                for i, c in enumerate(p["mask"]) if c == "."]
        assert_peaks(s[:, 2], gaps, 5, 1.0, key)
        assert all(min(g % slot, slot - g % slot) >= 2.5 for g in gaps)
        turned = rows[key + "_turnaround"][1]
        assert not np.allclose(turned[256:, 0], turned[:256, 0], atol=0.05), key


def test_dialogue_groups_and_late_pickups(rows):
    for name in ("dialogue_3_4_5", "dialogue_2_5_3_5", "dialogue_4_3_2"):
        row, s = rows[name]
        mag = np.linalg.norm(s, axis=1)
        starts = np.cumsum([0] + [int(n) for n in name.split("_")[1:]])
        assert starts[-1] * 32 == row.period_pips
        assert_peaks(mag, [32 * g for g in starts[:-1]], 8, 1.0, name)
        assert_peaks(mag, [32 * (g - 1) + 8 for g in starts[1:]], 6, 1.0, name)


def test_bursts_hit_their_subdivisions_then_settle_late(rows):
    for name, p in data("burst").items():
        _, s = rows[name]
        counts = [int(n) for n in name.split("_")[1:]]
        mag = np.linalg.norm(s, axis=1)
        for n, b in zip(counts, p["bursts"]):
            at, length = float(Fraction(b["at"])) * 64, float(Fraction(b["length"])) * 64
            assert_peaks(mag, [at + j * length / n for j in range(n)], 3, 1.0, name)
        settle = float(Fraction(p["settle"]["at"])) * 64
        assert settle >= 6 * 64 and abs(peak_near(mag, settle, 12) - settle) <= 1, name


def test_echoes_decay_at_their_fractions_and_the_answer_turns(rows):
    for name, p in data("echo").items():
        _, s = rows[name]
        mag = np.linalg.norm(s, axis=1)
        onsets = np.cumsum([Fraction(0)] + [Fraction(g) for g in p["gaps"]])
        for start in (Fraction(0), Fraction(p["answer_at"])):
            at = [float((start + t) * 64) for t in onsets]
            assert_peaks(mag, at, 4, 1.0, name)
            heights = [mag[round(a) % 512] for a in at]
            assert all(h1 > h2 for h1, h2 in zip(heights, heights[1:])), name
        call, answer = s[0], s[round(float(Fraction(p["answer_at"]) * 64))]
        cos = call @ answer / (np.linalg.norm(call) * np.linalg.norm(answer))
        assert cos < 0.8, f"{name}: the answer goes the call's way"


def test_canon_lanes_enter_close_or_late(rows):
    for key, p in data("canon").items():
        motif = [float(Fraction(t)) * 64 for t in p["motif"]]
        for entry in ("close", "late"):
            _, s = rows[f"{key}_{entry}"]
            delay = float(Fraction(p[entry])) * 64
            assert_peaks(s[:, 0], motif, 6, what=key)
            assert_peaks(s[:, 2], [delay + t for t in motif], 6, what=key)
            assert_peaks(s[:, 2], [256 + t for t in motif], 6, what=key)


def test_dwell_holds_are_finite_and_unequal(rows):
    for name in data("dwell"):
        _, s = rows[name]
        still = np.all(np.abs(np.diff(s, axis=0)) == 0.0, axis=1)
        holds, run = [], 0
        for k, flat in enumerate(still):
            if flat:
                run += 1
            elif run:
                holds.append((run, tuple(s[k])))
                run = 0
        poses = [(length, pose) for length, pose in holds if np.abs(pose).max() > 0.1]
        assert len(poses) == 2, name
        assert poses[0][0] != poses[1][0] or poses[0][1] != poses[1][1], name
        assert all(length >= 31 for length, _ in poses), name
        assert np.abs(s[0]).max() == 0.0, f"{name}: the phrase does not settle back to rest"
