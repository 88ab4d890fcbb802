"""Authored path families read back through the module: their peak and each family's shape."""

import math
import tomllib

import numpy as np
import pytest

import pattern_bar
from conftest import ROOT, row_samples

FAMILIES = ("gesture", "ribbon", "contour", "spline", "tour", "scan", "reach", "surface", "braid")


def _data(recipe):
    with open(ROOT / "data" / f"{recipe}.toml", "rb") as f:
        return tomllib.load(f)


@pytest.fixture(scope="module")
def loops(catalogue_table):
    """Every row of the families as an array (period, 3), keyed by recipe then name."""
    out = {r: {} for r in FAMILIES}
    for row in catalogue_table:
        if row.recipe in out:
            out[row.recipe][row.name] = (row, np.array(row_samples(row.name, row.period_pips)))
    return out


def test_all_rows_present(loops):
    assert {r: len(v) for r, v in loops.items()} == {r: 16 for r in FAMILIES}


@pytest.mark.parametrize("recipe", FAMILIES)
def test_rows_of_a_family_are_distinct(loops, recipe):
    rows = loops[recipe]
    grid = 1024
    res = {}
    for name, (_, s) in rows.items():
        t = np.arange(grid) * len(s) / grid
        k = t.astype(int)
        f = (t - k)[:, None]
        res[name] = s[k % len(s)] * (1 - f) + s[(k + 1) % len(s)] * f
    names = sorted(res)
    for i, a in enumerate(names):
        for b in names[i + 1:]:
            assert np.sqrt(np.mean((res[a] - res[b]) ** 2)) >= pattern_bar.MIN_RMS, (a, b)


def _winding(xy):
    centre = xy.mean(axis=0)
    ang = np.unwrap(np.arctan2(xy[:, 1] - centre[1], xy[:, 0] - centre[0]))
    closing = math.remainder(ang[0] - ang[-1], math.tau)
    return (ang[-1] - ang[0] + closing) / math.tau


def _dwells(s):
    """The lengths of the tour's slow stretches, in loop order."""
    speed = np.linalg.norm(np.roll(s, -1, axis=0) - s, axis=1)
    slow = speed < 0.5 * np.median(speed)
    lengths = []
    for st in np.flatnonzero(slow & ~np.roll(slow, 1)):
        n = 0
        while slow[(st + n) % len(s)]:
            n += 1
        lengths.append(n)
    return lengths


def test_tours_visit_p_corners_q_apart(loops):
    for name, (row, s) in loops["tour"].items():
        p, q = (int(n) for n in name.split("_")[1:])
        laps = 1 if p % 2 == 0 else 2
        # A star polygon {p/q} winds q times round its centre on each lap...
        assert round(abs(_winding(s[:, :2]))) == q * laps, name
        # ...and slows into each of its p corners.
        assert len(_dwells(s)) == p * laps, name


def test_tour_dwells_alternate_all_the_way_round(loops):
    for name, (row, s) in loops["tour"].items():
        lengths = np.array(_dwells(s))
        # Long and short in turn, across the seam too: every dwell differs from both
        # neighbours in the same sense.
        longer = lengths > np.roll(lengths, 1)
        assert np.all(longer == (lengths > np.roll(lengths, -1))), name
        assert np.all(longer != np.roll(longer, 1)), name


def test_scans_make_n_passes_and_return_outside(loops):
    for name, (row, s) in loops["scan"].items():
        n = int(name.rsplit("_", 1)[1])
        x, y = s[:, 0], s[:, 1]
        crossings = np.flatnonzero(np.sign(x) != np.sign(np.roll(x, -1)))
        # The loop starts on the first pass, so its crossing is the top of the field.
        top = y[crossings[0]]
        in_field = [k for k in crossings if y[k] < top + 0.02]
        assert len(in_field) == n, name
        # The way home runs beyond the ends of the passes.
        assert abs(x[0]) < np.abs(x).max() - 0.05, name


def test_reaches_leave_and_settle_at_the_centre(loops):
    for name, (row, s) in loops["reach"].items():
        n = int(name.rsplit("_", 1)[1])
        radius = np.linalg.norm(s, axis=1)
        rest = radius < 1e-6
        starts = np.flatnonzero(rest & ~np.roll(rest, 1))
        assert len(starts) == n, name
        # Between rests each reach goes well out.
        ends = np.append(starts[1:], starts[0] + len(s))
        for a, b in zip(starts, ends):
            seg = radius[np.arange(a, b) % len(s)]
            assert seg.max() > 0.3, name


def test_gestures_rest_on_their_keys(loops):
    data = _data("gesture")
    for name, (row, s) in loops["gesture"].items():
        for key in data[name]["keys"]:
            k = int(round(key[0] * 64))
            before, after = s[k] - s[k - 1], s[(k + 1) % len(s)] - s[k]
            assert np.abs(before).max() < 2e-3 and np.abs(after).max() < 2e-3, (name, key[0])


def test_splines_pass_their_controls_on_time(loops):
    data = _data("spline")
    for name, (row, s) in loops["spline"].items():
        p = data[name]
        pips = np.concatenate([[0], np.cumsum(p["beats"])[:-1]]) * 64
        controls = np.array([c + [0.0] * (3 - len(c)) for c in p["points"]])
        at = s[pips.astype(int)]
        # One common scale maps every control onto its sample.
        ratio = np.linalg.norm(at, axis=1).sum() / np.linalg.norm(controls, axis=1).sum()
        assert np.allclose(at, controls * ratio, atol=1e-9), name


@pytest.mark.parametrize("recipe, narrow, broad, axis", [
    ("ribbon", "slim", "deep", 2), ("surface", "low", "wide", 1)])
def test_variants_differ_as_named(loops, recipe, narrow, broad, axis):
    for name, (row, s) in loops[recipe].items():
        if name.endswith(narrow):
            other = loops[recipe][name.removesuffix(narrow) + broad][1]
            assert np.ptp(other[:, axis]) > 1.3 * np.ptp(s[:, axis]), name


def test_braid_rolls_at_its_second_frequency(loops):
    for name, (row, s) in loops["braid"].items():
        a, b = (int(n) for n in name.split("_")[1:])
        # The distance from the centreline's middle swings once per roll.
        r = np.linalg.norm(s[:, :2] - s[:, :2].mean(axis=0), axis=1)
        spectrum = np.abs(np.fft.rfft(r - r.mean()))
        assert spectrum[b] > 0.5 * spectrum[1:20].max(), name


def test_low_surfaces_ride_below_the_centre(loops):
    # y points down: a low band keeps under the centre line and reaches toward the bottom.
    low = {n: s for n, (_, s) in loops["surface"].items() if n.endswith("_low")}
    assert len(low) == 8
    for name, s in low.items():
        assert s[:, 1].min() > -0.05 and s[:, 1].max() > 0.6, name


def test_lifts_rise(loops):
    # Every reach of a lift row rises toward -y and none sinks below its rest.
    for name, (row, s) in loops["reach"].items():
        if "_lift_" not in name:
            continue
        n = int(name.rsplit("_", 1)[1])
        assert s[:, 1].max() <= 0.0, name
        slot = len(s) // n
        assert all(s[i * slot:(i + 1) * slot, 1].min() < -0.3 for i in range(n)), name


def _crossings(xy, z):
    """Self-crossings of a closed path in the picture: (where along, z here minus z there)."""
    a, b = xy, np.roll(xy, -1, axis=0)
    d = b - a
    out = []
    for i in range(len(xy)):
        den = d[i, 0] * d[:, 1] - d[i, 1] * d[:, 0]
        with np.errstate(divide="ignore", invalid="ignore"):
            u = ((a[:, 0] - a[i, 0]) * d[:, 1] - (a[:, 1] - a[i, 1]) * d[:, 0]) / den
            v = ((a[:, 0] - a[i, 0]) * d[i, 1] - (a[:, 1] - a[i, 1]) * d[i, 0]) / den
        for j in np.flatnonzero((u >= 0) & (u < 1) & (v >= 0) & (v < 1)):
            if abs(i - j) > 1 and {i, j} != {0, len(xy) - 1}:
                zi = z[i] + (z[(i + 1) % len(z)] - z[i]) * u[j]
                zj = z[j] + (z[(j + 1) % len(z)] - z[j]) * v[j]
                out.append((i + u[j], zi - zj))
    return sorted(out)


def test_every_braid_weaves(loops):
    for name, (_, s) in loops["braid"].items():
        passes = _crossings(s[::2, :2], s[::2, 2])
        # Each crossing is met twice; walking the path it goes over and under in turn.
        assert len(passes) >= 6, name
        over = [dz > 0 for _, dz in passes]
        assert all(o != p for o, p in zip(over, over[1:] + over[:1])), name
        assert min(abs(dz) for _, dz in passes) > 0.2, name
