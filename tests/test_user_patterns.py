"""SampledPattern validation and sampling, and PatternLibrary's build, lookup and listing."""

import math
import re

import pytest

import kinetra
from kinetra import PatternLibrary, SampledPattern

NAME = "Invalid pattern name"
COUNT = "A pattern requires 1..65535 samples (one per pip)"


def pattern(name="p", n=4, value=(0.0, 0.0, 0.0), description=""):
    return SampledPattern(name, description, [value] * n)


def default_copy(name):
    entry = next(e for e in kinetra.catalogue() if e["name"] == name)
    samples = [kinetra.sample(name, k).as_tuple() for k in range(entry["period_pips"])]
    return SampledPattern(name, entry["description"], samples)


@pytest.mark.parametrize("name", ["a", "a9", "a_", "x" * 128, "bounce"])
def test_accepted_names(name):
    assert pattern(name).name == name


@pytest.mark.parametrize("name", ["", "x" * 129, "9a", "_a", "aB", "a-b", "a b", "a.b", "café", "\x00"])
def test_refused_names(name):
    with pytest.raises(ValueError, match=f"^{NAME}$"):
        pattern(name)


def test_validation_order_and_limits():
    with pytest.raises(ValueError, match=f"^{NAME}$"):
        SampledPattern("Bad", "", [])
    with pytest.raises(ValueError, match=f"^{re.escape(COUNT)}$"):
        SampledPattern("a", "", [])
    assert pattern(n=65535).period_pips == 65535
    with pytest.raises(ValueError, match=f"^{re.escape(COUNT)}$"):
        SampledPattern("a", "", [(0, 0, 0)] * 65535 + [(math.nan, 0, 0)])
    with pytest.raises(ValueError, match=f"^{re.escape(COUNT)}$"):
        pattern(n=65536)


@pytest.mark.parametrize("bad", [1.0000001, -1.0000001, math.nan, math.inf, -math.inf])
@pytest.mark.parametrize("where", [0, 1, 2])
def test_refused_values_anywhere(bad, where):
    samples = [[0.0, 0.0, 0.0] for _ in range(3)]
    samples[where][where] = bad
    with pytest.raises(ValueError, match=r"^Pattern samples must be finite and within \[-1, 1\]$"):
        SampledPattern("a", "", samples)


def test_conversion_of_samples():
    assert SampledPattern("a", "", [[0, 0, 0]]).sample(0).as_tuple() == (0.0, 0.0, 0.0)
    assert SampledPattern("a", "", ((-1, 1.0, 0.5),)).sample(0).as_tuple() == (-1.0, 1.0, 0.5)
    for bad in ([[0, 0]], [[0, 0, 0, 0]], [["0", 0, 0]], [None], "abc"):
        with pytest.raises(TypeError):
            SampledPattern("a", "", bad)


def test_sampling_wraps_by_length():
    p = SampledPattern("a", "d", [(0.1 * k, 0.0, 0.0) for k in range(7)])
    assert p.period_pips == 7 and p.description == "d"
    assert p.sample(7).as_tuple() == p.sample(0).as_tuple()
    assert p.sample(-1).as_tuple() == p.sample(6).as_tuple()
    assert p.sample(-2**31).as_tuple() == p.sample((-2**31) % 7).as_tuple()


def test_description_bytes_are_kept_unchecked():
    p = SampledPattern("a", b"\xff\xfe", [(0.5, 0, 0)])
    with pytest.raises(UnicodeDecodeError):
        p.description
    assert p.period_pips == 1 and p.sample(3).as_tuple() == (0.5, 0.0, 0.0)
    library = PatternLibrary([p])
    with pytest.raises(UnicodeDecodeError):
        library.catalogue()
    assert library.sample("a", 0).as_tuple() == (0.5, 0.0, 0.0)


def dims_of(samples):
    lib = PatternLibrary([SampledPattern("user_p", "", samples)])
    return lib.catalogue()[-1]["dimensions"]


def test_dimensions_follow_the_samples():
    assert dims_of([(0.7, 0.0, 0.0)]) == 1
    assert dims_of([(0.0, 0.0, 0.0)]) == 1
    assert dims_of([(0.0, -0.0, -0.0)]) == 1
    assert dims_of([(0.0, 0.2, 0.0), (0.0, 0.0, 0.0)]) == 2
    assert dims_of([(0.0, 0.0, 0.3), (0.0, 0.2, 0.0)]) == 3
    assert dims_of([(0.0, 0.0, 0.3)]) == 3


def test_empty_library_is_the_defaults():
    for lib in (PatternLibrary(), PatternLibrary([]), PatternLibrary(patterns=())):
        assert lib.catalogue() == kinetra.catalogue()
        for name in ("bounce", "five_stroke_roll"):
            for pip in (-7, 0, 99):
                assert lib.sample(name, pip).as_tuple() == kinetra.sample(name, pip).as_tuple()


def test_pack_limits():
    assert len(PatternLibrary([pattern(f"p{i}", 1) for i in range(1024)]).catalogue()) == len(kinetra.catalogue()) + 1024
    with pytest.raises(ValueError, match="^Too many patterns$"):
        PatternLibrary([pattern("same", 0 + 1)] * 1025)
    big = [pattern(f"big{i}", 65535) for i in range(16)]
    PatternLibrary(big + [pattern("extra", 16)])
    with pytest.raises(ValueError, match="^Pattern pack is too large$"):
        PatternLibrary(big + [pattern("extra", 17)])


def test_duplicates_and_overrides():
    with pytest.raises(ValueError, match="^Duplicate pattern name: twin$"):
        PatternLibrary([pattern("twin"), pattern("twin")])
    with pytest.raises(ValueError, match="^Cannot override default pattern: bounce$"):
        PatternLibrary([pattern("bounce", 64, description="One-beat vertical bounce")])
    good = default_copy("bounce")
    assert PatternLibrary([good]).catalogue() == kinetra.catalogue()
    with pytest.raises(ValueError, match="^Duplicate pattern name: bounce$"):
        PatternLibrary([good, default_copy("bounce")])
    samples = [kinetra.bounce(k).as_tuple() for k in range(64)]
    for changed in (
        SampledPattern("bounce", "other", samples),
        SampledPattern("bounce", "One-beat vertical bounce", samples[:63]),
        SampledPattern("bounce", "One-beat vertical bounce", samples[:40] + [(0.0, 0.0, 1e-300)] + samples[41:]),
    ):
        with pytest.raises(ValueError, match="^Cannot override default pattern: bounce$"):
            PatternLibrary([changed])
    # The first offending pattern in pack order decides the message.
    with pytest.raises(ValueError, match="^Duplicate pattern name: a$"):
        PatternLibrary([pattern("a"), pattern("a"), SampledPattern("bounce", "x", samples)])


def test_exact_copies_count_towards_the_total():
    copies = [default_copy("box_step")]  # 256 samples
    fill = [pattern(f"f{i}", 65535) for i in range(15)] + [pattern("g", 2**20 - 256 - 15 * 65535)]
    PatternLibrary(copies + fill)
    with pytest.raises(ValueError, match="^Pattern pack is too large$"):
        PatternLibrary(copies + fill + [pattern("h", 1)])


def test_library_sampling_and_listing():
    p1 = SampledPattern("user_a", "first", [(0.1, 0, 0), (0.2, 0, 0), (0.3, 0, 0)])
    p2 = SampledPattern("user_b", "second", [(0.0, 0.5, 0.25)] * 5)
    lib = PatternLibrary([p1, default_copy("circle"), p2])
    listing = lib.catalogue()
    assert len(listing) == len(kinetra.catalogue()) + 2
    assert listing[-2:] == [
        {"name": "user_a", "description": "first", "period_pips": 3, "dimensions": 1},
        {"name": "user_b", "description": "second", "period_pips": 5, "dimensions": 3},
    ]
    assert lib.sample("user_a", 3).as_tuple() == (0.1, 0.0, 0.0)
    assert lib.sample("user_a", -1).as_tuple() == (0.3, 0.0, 0.0)
    assert lib.sample("circle", 5).as_tuple() == kinetra.circle(5).as_tuple()
    for unknown in ("User_a", "nothing_here", ""):
        with pytest.raises(ValueError, match=f"^Unknown kinetra: {unknown}$"):
            lib.sample(unknown, 0)
    # The caller's patterns are copies: unchanged and still usable.
    assert p1.name == "user_a" and p1.period_pips == 3 and p1.sample(1).as_tuple() == (0.2, 0.0, 0.0)


def test_library_refuses_non_patterns():
    for bad in ([1], ["bounce"], [None], 5):
        with pytest.raises(TypeError):
            PatternLibrary(bad)
