"""Beat studies: each style's score driving sixteen motions, checked through the built module."""

import math
import tomllib

import numpy as np
import pytest

from conftest import ROOT, row_samples

SCORES = {p.stem: tomllib.loads(p.read_text()) for p in sorted((ROOT / "data" / "beat").glob("*.toml"))}
MOTIONS = ("bounce", "step", "orbit", "glide", "surge", "recoil", "flutter", "dive", "pendulum",
           "figure8", "box", "corkscrew", "spiral", "slalom", "spring", "ricochet")
GHOST = 0.45

@pytest.fixture(scope="module")
def beat_rows(catalogue_table):
    """Every beat row whose style has a score: name -> (row, samples as an array)."""
    if not SCORES:
        pytest.skip("no beat scores written yet")
    out = {}
    for row in catalogue_table:
        if row.recipe != "beat":
            continue
        style = row.name[len("beat_"):].rpartition("_")[0]
        if style in SCORES:
            out[row.name] = (row, np.array(row_samples(row.name, row.period_pips)))
    return out


def style_of(name):
    return name[len("beat_"):].rpartition("_")[0]


def resampled(samples, length=1024):
    """Linear resampling of a loop onto `length` points, as the family distance measures it."""
    n = len(samples)
    t = np.arange(length) * n / length
    k = t.astype(int)
    f = (t - k)[:, None]
    return samples[k % n] + (samples[(k + 1) % n] - samples[k % n]) * f


def closest(patterns):
    names = sorted(patterns)
    flat = np.array([resampled(patterns[n]).ravel() for n in names])
    sq = (flat ** 2).sum(axis=1)
    d2 = np.maximum(sq[:, None] + sq[None, :] - 2 * flat @ flat.T, 0) / flat.shape[1]
    np.fill_diagonal(d2, np.inf)
    i, j = np.unravel_index(np.argmin(d2), d2.shape)
    return math.sqrt(d2[i, j]), names[i], names[j]


def test_every_style_has_its_sixteen_rows(beat_rows):
    for style in SCORES:
        assert all(f"beat_{style}_{m}" in beat_rows for m in MOTIONS), style


def test_depth_follows_the_lanes_each_motion_reads(beat_rows):
    depth = {"bass", "log_drum", "crash"}
    for style, score in SCORES.items():
        lanes = {k for k, v in score["lanes"].items() if v}
        for motion in ("bounce", "step"):
            row, _ = beat_rows[f"beat_{style}_{motion}"]
            assert (row.dimensions == 3) == bool(lanes & depth), (style, motion)
        row, _ = beat_rows[f"beat_{style}_orbit"]
        assert (row.dimensions == 3) == bool(lanes - {"kick"}), style


def _near(indices, pip, period, reach=2):
    return any(min((i - pip) % period, (pip - i) % period) <= reach for i in indices)


def _extrema(lane, minimum):
    sign = -1.0 if minimum else 1.0
    v = sign * lane
    return np.flatnonzero((v > np.roll(v, 1)) & (v >= np.roll(v, -1)))


def test_kicks_land_downstrokes_and_backbeats_side_accents(beat_rows):
    for style, score in SCORES.items():
        lanes = score["lanes"]
        _, bounce = beat_rows[f"beat_{style}_bounce"]
        period = len(bounce)
        # y points down: a downstroke is a maximum of y.
        lowest = _extrema(bounce[:, 1], minimum=False)
        for pip, _ in lanes.get("kick", []):
            assert _near(lowest, pip, period), (style, "kick", pip)
        _, step = beat_rows[f"beat_{style}_step"]
        extrema = np.concatenate([_extrema(step[:, 0], False), _extrema(step[:, 0], True)])
        back = lanes.get("snare") or lanes.get("clap") or []
        for pip, vel in back:
            if vel >= GHOST:
                assert _near(extrema, pip, period), (style, "backbeat", pip)


def test_motions_go_the_way_their_titles_say_with_y_down(beat_rows):
    for style, score in SCORES.items():
        recoil = beat_rows[f"beat_{style}_recoil"][1]
        assert all(recoil[pip, 1] > 0 for pip, vel in score["lanes"].get("kick", [])
                   if vel >= 0.8), style  # kicks counter downward
        surge = beat_rows[f"beat_{style}_surge"][1]
        assert all(surge[pip, 1] < 0 for pip in _strong_backbeats(score)), style  # snare lift
        # The pendulum hangs: the further it swings out, the higher it rises.
        pendulum = beat_rows[f"beat_{style}_pendulum"][1]
        assert np.corrcoef(np.abs(pendulum[:, 0]), pendulum[:, 1])[0, 1] < -0.5, style


def _strong_backbeats(score):
    """Snare, clap and rim hits loud enough to be backbeats, on a beat after the one."""
    lanes = score["lanes"]
    return sorted({hit[0] for name in ("snare", "clap", "rim") for hit in lanes.get(name, [])
                   if hit[1] >= GHOST and hit[0] % 64 == 0 and hit[0] % 256})


def _answer(lane, pip, before, after, share):
    """The pip of the lane's largest extreme within the window around `pip` reaching `share`
    of the lane's peak, or None."""
    n = len(lane)
    best = None
    for k in range(pip - before, pip + after + 1):
        v, a, b = lane[k % n], lane[(k - 1) % n], lane[(k + 1) % n]
        if abs(v) >= share * np.abs(lane).max() and (v - a) * (v - b) >= 0 and v != a:
            if best is None or abs(v) > abs(lane[best % n]):
                best = k
    return best


def test_every_strong_backbeat_is_answered_sideways(beat_rows):
    missed = []
    for style, score in SCORES.items():
        for pip in _strong_backbeats(score):
            for motion, after, share in (("step", 4, 0.5), ("bounce", 6, 0.3)):
                lane = beat_rows[f"beat_{style}_{motion}"][1][:, 0]
                if _answer(lane, pip, 2, after, share) is None:
                    missed.append((style, motion, pip))
    assert not missed


def test_hats_and_shakers_leave_the_backbeat_answers_in_place():
    from families.beat.motions import motion_lanes
    from families.beat.score import FLUTTER, Score

    for style, raw in SCORES.items():
        bare = dict(raw, lanes={k: v for k, v in raw["lanes"].items() if k not in FLUTTER})
        if len(bare["lanes"]) == len(raw["lanes"]) or not _strong_backbeats(raw):
            continue
        for motion, after, share in (("step", 4, 0.5), ("bounce", 6, 0.3)):
            lanes = [np.array(motion_lanes(motion, Score(style, r, r["period_pips"]))[0])
                     for r in (raw, bare)]
            for pip in _strong_backbeats(raw):
                at = [_answer(lane, pip, 2, after, share) for lane in lanes]
                assert at[0] == at[1], (style, motion, pip, at)
                assert abs(lanes[0][at[0]]) >= 0.9 * abs(lanes[1][at[1]]), (style, motion, pip)


def test_every_beat_row_moves_broadly(beat_rows):
    small = {name: np.abs(s).max() for name, (_, s) in beat_rows.items() if np.abs(s).max() < 0.6}
    assert not small


def test_the_strongest_hits_place_the_catalogue_extremes(beat_rows):
    lowest = min(s.min() for _, s in beat_rows.values())
    highest = max(s.max() for _, s in beat_rows.values())
    assert lowest == -0.92 and highest == 1.0
    for style, score in SCORES.items():
        _, bounce = beat_rows[f"beat_{style}_bounce"]
        for pip, vel in score["lanes"].get("kick", []):
            if vel == 1.0:
                assert bounce[pip, 1] == 0.92, (style, pip)
    # An extreme is the crest of a broad gesture, held on at least one side: no lone spike.
    for name, (_, s) in beat_rows.items():
        for value in (-0.92, 0.92, 1.0):
            for k, axis in zip(*np.nonzero(s == value)):
                before = s[np.arange(k - 2, k) % len(s), axis]
                after = s[np.arange(k + 1, k + 3) % len(s), axis]
                broad = min(np.abs(before - value).max(), np.abs(after - value).max())
                assert broad < 0.05, (name, k)


def test_styles_and_motions_are_distinct(beat_rows):
    for motion in MOTIONS:
        group = {n: s for n, (_, s) in beat_rows.items() if n.rpartition("_")[2] == motion}
        if len(group) > 1:
            d, a, b = closest(group)
            assert d >= 0.05, (a, b, d)
    for style in SCORES:
        group = {n: s for n, (_, s) in beat_rows.items() if style_of(n) == style}
        d, a, b = closest(group)
        assert d >= 0.05, (a, b, d)


def _score(**lanes):
    from families.beat.score import Score

    return Score("test", {"period_pips": 256, "bpm": 120, "lanes": lanes}, 256)


@pytest.mark.parametrize("lanes, fault", [
    ({"kick": [[0, 1.0], [0, 0.5]]}, "ascend"),
    ({"kick": [[64, 1.0], [0, 0.5]]}, "ascend"),
    ({"kick": [[256, 1.0]]}, "outside"),
    ({"kick": [[0, 0.0]]}, "outside"),
    ({"kick": [[0.5, 1.0]]}, "[pip, velocity]"),
    ({"cowbell": [[0, 1.0]]}, "unknown lane"),
    ({"kick": []}, "empty"),
    ({"kick": [[0, 1.0, 32]]}, "[pip, velocity]"),
    ({"bass": [[0, 1.0, 96], [64, 0.8]]}, "lasts past the next"),
    ({"bass": [[0, 1.0, 32], [192, 1.0, 96]]}, "lasts past the first"),
    ({"bass": [[0, 1.0, 32, 0.0, 5.0, 0]]}, "both a target and a time"),
    ({"bass": [[0, 1.0, 32, 0.0, 5.0, 48]]}, "at most the note's length"),
    ({"bass": [[0, 1.0, 32, 0.0, 5]]}, "slide_pips]"),
    ({"bass": [[0, 1.0, 32, 5.0, 0]]}, "slide_pips]"),
    ({"bass": [[0, 1.0, 32, "12"]]}, "slide_pips]"),
    ({"bass": [[0, 1.0, 32, -13.0]]}, "pitch and slide stay within"),
    ({"bass": [[0, 1.0, 32, 12.0, 13.0, 8]]}, "pitch and slide stay within"),
])
def test_a_faulty_score_fails_with_a_message(lanes, fault):
    from catalogue_data import DataError

    with pytest.raises(DataError, match=fault.replace("[", r"\[").replace("]", r"\]")):
        _score(**lanes)


@pytest.mark.parametrize("variant", ["test", 3, "nothing"])
def test_a_variant_names_another_existing_style(variant):
    from catalogue_data import DataError, Row
    from families.beat.recipe import beat

    row = Row(0, "beat_test_step", 256, 2, "beat", "")
    data = {"test": {"period_pips": 256, "bpm": 120, "variant_of": variant,
                     "lanes": {"kick": [[0, 1.0]]}}}
    with pytest.raises(DataError, match="variant_of"):
        beat(row, data)


def test_a_score_of_the_wrong_length_is_refused():
    from catalogue_data import DataError
    from families.beat.score import Score

    with pytest.raises(DataError, match="period_pips"):
        Score("test", {"period_pips": 512, "lanes": {"kick": [[0, 1.0]]}}, 256)


def test_a_depth_lane_in_a_two_dimension_row_is_a_data_fault():
    from catalogue_data import DataError, Row
    from families.beat.recipe import beat

    row = Row(0, "beat_test_bounce", 256, 2, "beat", "")
    data = {"test": {"period_pips": 256, "bpm": 120,
                     "lanes": {"kick": [[0, 1.0]], "bass": [[32, 0.8]]}}}
    with pytest.raises(DataError, match="depth"):
        beat(row, data)


def test_the_spring_rests_until_pushed_and_closes_its_loop():
    from families.beat.lanes import add_pushes, zeros

    x = zeros(512)
    add_pushes(x, [(100, 1.0)], 512, 1.0, 2 * math.pi / 40, 0.12)
    # Ringing from the last pass has died down long before the push comes round again.
    assert max(abs(v) for v in x[90:97]) < 1e-3 * max(abs(v) for v in x)
    assert max(abs(v) for v in x[100:140]) == max(abs(v) for v in x)
    # Stepping on from the last pip lands on the first: no seam.
    assert abs(x[0] - x[-1]) <= max(abs(x[k] - x[k - 1]) for k in range(1, 512)) * 1.05


@pytest.mark.parametrize("gain", [1.0, 2.5])
def test_a_gesture_gives_way_only_where_the_lane_is_already_steep(gain):
    from families.beat.lanes import STEP_LIMIT, add_hits, scaled_by, zeros

    limit = STEP_LIMIT / gain
    # A climb at nine tenths of the limit, then a flat stretch.
    ramp = [0.9 * limit * min(k, 80 - k) for k in range(80)]
    lane = ramp + zeros(176)
    with scaled_by(gain):
        add_hits(lane, [(20, 1.0), (168, 1.0)], 256, 0.3 / gain, 12, 12)
    on_ramp = max(abs(lane[k] - ramp[k]) for k in range(80))
    assert max(abs(lane[k] - lane[k - 1]) for k in range(256)) <= limit * (1 + 1e-12)
    assert 0 < on_ramp < 0.5 * 0.3 / gain
    assert max(lane[120:]) == pytest.approx(0.3 / gain)


# Axes on which a motion's words say it alternates or cycles: the step's lateral steps, the
# dive's counterweight and the ricochet's series of targets.
TAKES_TURNS = {"step": (0,), "dive": (0,), "ricochet": (0, 1, 2)}


def test_identical_hits_get_the_same_answer(monkeypatch):
    """Each struck hit is answered once, by what it is: a hit that recurs with the same lanes
    and velocities bends every axis the same way each time, but where the motion's words say
    it alternates. A hit's answer on an axis is the bend of the lane at it, its value against
    the mean of its neighbours four pips away. The motions that travel a path are held at one
    point of it, so that what bends at a hit is the answer, not the path turning under it.
    The held lanes, whose swells overlap, are left out."""
    from families.beat import motions
    from families.beat.motions import MOTIONS, motion_lanes
    from families.beat.score import DEPTH, Score

    monkeypatch.setattr(motions, "warped_phase", lambda period, *_: [1.0] * period)
    mixed = []
    for style, raw in SCORES.items():
        bare = dict(raw, lanes={k: v for k, v in raw["lanes"].items() if k not in DEPTH})
        played = {}
        for name, hits in bare["lanes"].items():
            for pip, *what in hits:
                played.setdefault(pip, []).append((name, *what))
        score = Score(style, bare, raw["period_pips"])
        # A hit right beside another bends with its neighbour's answer as well as its own.
        pips = sorted(played)
        apart = {pip for i, pip in enumerate(pips)
                 if min((pip - pips[i - 1]) % score.period,
                        (pips[(i + 1) % len(pips)] - pip) % score.period) >= 16}
        for motion in MOTIONS:
            for axis, lane in enumerate(motion_lanes(motion, score)):
                if axis in TAKES_TURNS.get(motion, ()):
                    continue
                lane = np.array(lane)
                bend = lane - (np.roll(lane, 4) + np.roll(lane, -4)) / 2
                ways = {}
                for pip, notes in played.items():
                    if abs(bend[pip]) > 0.1 * np.abs(lane).max() and pip in apart:
                        ways.setdefault(tuple(sorted(notes)), set()).add(bool(bend[pip] > 0))
                mixed += [(style, motion, axis, sig) for sig, way in ways.items()
                          if len(way) > 1]
    assert not mixed


def test_a_note_an_octave_up_moves_further_than_the_root():
    from families.beat.motions import motion_lanes

    lines = [_score(kick=[[0, 1.0]], bass=[[64, 0.8, 48, pitch]]) for pitch in (0.0, 12.0)]
    depth = [np.abs(motion_lanes("glide", s)[2]).max() for s in lines]
    assert depth[1] > 1.2 * depth[0]


def test_every_dive_plunges_and_surfaces(beat_rows):
    held = []
    for name, (_, s) in beat_rows.items():
        if name.endswith("_dive"):
            z = s[:, 2]
            if z.min() > -0.6 or (np.abs(z) < 0.1).mean() < 0.3:
                held.append((name, round(z.min(), 2), round((np.abs(z) < 0.1).mean(), 2)))
    assert not held


def test_every_spring_comes_to_rest_between_pushes(beat_rows):
    restless = []
    for name, (row, s) in beat_rows.items():
        if name.endswith("_spring"):
            speed = np.abs(np.roll(s, -1, axis=0) - s)[:, :row.dimensions]
            still = (speed < 0.002).mean(axis=0)
            if still.min() < 0.05:
                restless.append((name, still.round(3).tolist()))
    assert not restless


def test_every_slalom_travels_an_s(beat_rows):
    """Along its travel in y the slalom swings out to one side and then the other: x follows
    one sine period of the height, as the gates of an S, not a figure eight."""
    crooked = []
    for name, (_, s) in beat_rows.items():
        if name.endswith("_slalom"):
            x, y = s[:, 0], s[:, 1]
            height = (y - (y.max() + y.min()) / 2) / ((y.max() - y.min()) / 2)
            bend = abs(np.corrcoef(x, np.sin(np.pi * height))[0, 1])
            if bend < 0.6:
                crooked.append((name, round(bend, 2)))
    assert not crooked
