"""The one whole-catalogue check, read back through the built module: every default sampled
pattern is seamless motion on the axes it claims, its seam no faster than the loop around it."""

import numpy as np
import pytest

import pattern_bar
from conftest import row_samples


@pytest.fixture(scope="module")
def loops(catalogue_table):
    return {r.name: (r, row_samples(r.name, r.period_pips)) for r in catalogue_table}


def test_no_jumps_anywhere_seam_included(loops):
    for name, (row, s) in loops.items():
        a = np.array(s)
        assert np.abs(np.diff(np.vstack([a, a[:1]]), axis=0)).max() <= pattern_bar.MAX_STEP, name
        assert pattern_bar.seam_jump(s) <= 0, name


def test_every_claimed_axis_moves_and_no_other(loops):
    for name, (row, s) in loops.items():
        a = np.array(s)
        spans = a.max(axis=0) - a.min(axis=0)
        for axis in range(row.dimensions):
            if "xyz"[axis] not in row.moving:
                assert spans[axis] == 0.0, name
            else:
                assert spans[axis] >= pattern_bar.MIN_SPAN, (name, axis)
        assert not a[:, row.dimensions:].any(), name
