"""SampledRecording: validation order, limits and the non-looping lookup."""

import math

import pytest

from kinetra import SampledRecording

IDENT = "^Invalid identifier$"
TEMPO = "^A finite positive BPM and beat origin are required$"
SIZE = "^Empty recording or recording resource limit exceeded$"


def rec(name="walk", dims=("x",), rows=((0.0,),), bpm=120.0, origin=0.0, start=0):
    return SampledRecording(name, list(dims), [list(r) for r in rows], bpm, origin, start)


@pytest.mark.parametrize("name", ["a", "x" * 128, "walk_2"])
def test_accepted_names(name):
    assert rec(name).name == name


@pytest.mark.parametrize("name", ["", "x" * 129, "Walk", "9lives", "with-dash", "café"])
def test_refused_names(name):
    with pytest.raises(ValueError, match=IDENT):
        rec(name)


def test_name_is_checked_before_tempo_and_sizes():
    with pytest.raises(ValueError, match=IDENT):
        rec("Bad", bpm=0.0, rows=())


@pytest.mark.parametrize("bpm,origin", [(0.0, 0.0), (-120.0, 0.0), (math.nan, 0.0), (math.inf, 0.0),
                                        (120.0, math.nan), (120.0, math.inf), (1e-320, 0.0)])
def test_refused_tempo(bpm, origin):
    with pytest.raises(ValueError, match=TEMPO):
        rec(bpm=bpm, origin=origin)


def test_properties():
    r = SampledRecording("take", ["x", "y"], [[0.5, -0.5]] * 3, 98.5, -3.5, -64)
    assert (r.name, r.dimensions, r.sample_count, r.bpm, r.beat_zero_seconds, r.start_pip) == (
        "take", ["x", "y"], 3, 98.5, -3.5, -64)
    r2 = SampledRecording("take", ["x"], [[0.0]], bpm=60)
    assert r2.beat_zero_seconds == 0.0 and r2.start_pip == 0


def test_sizes_are_checked_before_axis_names():
    with pytest.raises(ValueError, match=SIZE):
        rec(dims=())
    for dims in (("Bad",), ("x", "x")):
        with pytest.raises(ValueError, match=SIZE):
            rec(dims=dims, rows=())


def test_size_limits():
    assert SampledRecording("a", ["x"], [[0.0]] * 2**23, 120.0).sample_count == 2**23
    with pytest.raises(ValueError, match=SIZE):
        SampledRecording("a", ["x"], [[0.0]] * (2**23 + 1), 120.0)
    assert SampledRecording("a", ["x", "y", "z"], [[0.0] * 3] * 2796202, 120.0).sample_count == 2796202
    with pytest.raises(ValueError, match=SIZE):
        SampledRecording("a", ["x", "y", "z"], [[0.0] * 3] * 2796203, 120.0)


def test_start_pip_bounds():
    assert rec(start=2**31 - 2).sample(2**31 - 2) == [0.0]
    with pytest.raises(ValueError, match=SIZE):
        rec(start=2**31 - 1)
    with pytest.raises(ValueError, match=SIZE):
        rec(start=2**31 - 3, rows=((0.0,),) * 3)
    assert rec(start=-2**31).sample(-2**31) == [0.0]


def test_axis_checks():
    with pytest.raises(ValueError, match="^Duplicate axis$"):
        rec(dims=("x", "x"), rows=((0.0, 0.0),))
    with pytest.raises(ValueError, match=IDENT):
        rec(dims=("x", "X"), rows=((0.0, 0.0),))


def test_row_checks_run_row_by_row():
    with pytest.raises(ValueError, match="^Ragged recording$"):
        rec(dims=("x", "y"), rows=((0.1, 0.2), (0.3,)))
    with pytest.raises(ValueError, match="^Ragged recording$"):
        rec(dims=("x", "y"), rows=((2.0,), (0.1, 0.2)))
    for bad in (1.0000001, -1.5, math.nan, math.inf):
        with pytest.raises(ValueError, match="^Invalid sample$"):
            rec(rows=((0.0,), (bad,)))
    assert rec(rows=((1.0,), (-1.0,))).sample(1) == [-1.0]


def test_sampling_never_wraps():
    r = SampledRecording("m", ["a", "b"], [[0.1, 0.2], [0.3, 0.4], [0.5, 0.6]], 120.0, 0.0, -64)
    assert r.sample(-64) == [0.1, 0.2] and r.sample(-62) == [0.5, 0.6]
    for pip in (-65, -61, 2**31 - 1, -2**31):
        with pytest.raises(IndexError, match="^Pip outside non-looping recording$"):
            r.sample(pip)
    loop = SampledRecording("m", ["a"], [[0.0]] * 64, 120.0)
    with pytest.raises(IndexError):
        loop.sample(64)


def test_conversions():
    with pytest.raises(TypeError):
        SampledRecording("a", "xy", [[0.0, 0.0]], 120.0)  # a str is not a sequence of names here
    with pytest.raises(TypeError):
        SampledRecording("a", ["x"], [["0.5"]], 120.0)
    with pytest.raises(TypeError):
        SampledRecording("a", ["x"], [[0.5]], 120.0, 0.0, 1.5)
