"""The Python surface: names, conversions, keywords and the shape of results."""

import sys
import subprocess
import textwrap

import pytest

import kinetra

RUDIMENTS = ["bounce", "sway", "circle", "figure_eight", "step_touch", "box_step", "helix",
             "tamsel_background", "single_stroke_roll", "double_stroke_roll",
             "multiple_bounce_roll", "single_paradiddle", "flam", "drag", "five_stroke_roll"]


class IntLike:
    """Converts with int() but is no index."""

    def __int__(self):
        return 5


class Index:
    def __index__(self):
        return 5


def test_module_attributes_in_registration_order():
    own = [n for n in vars(kinetra) if not n.startswith("__")]
    assert own == ["PIPS_PER_BEAT", "SampledRecording", "Offset3", "SampledPattern",
                   "PatternLibrary", "sample", "catalogue", *RUDIMENTS]
    assert kinetra.__doc__ == "Integer-pip rhythmic position functions"
    assert type(kinetra.PIPS_PER_BEAT) is int and kinetra.PIPS_PER_BEAT == 64


@pytest.mark.parametrize("name", RUDIMENTS)
def test_rudiments_take_any_32_bit_pip_by_position_only(name):
    fn = getattr(kinetra, name)
    for pip in (-2**31, 2**31 - 1, True, Index(), IntLike()):
        assert isinstance(fn(pip), kinetra.Offset3)
    for bad in (2**31, -2**31 - 1, 1.0, "1", None):
        with pytest.raises(TypeError):
            fn(bad)
    with pytest.raises(TypeError):
        fn(pip=0)
    assert fn(True).as_tuple() == fn(1).as_tuple()


def test_sample_keywords_and_conversion():
    assert kinetra.sample("bounce", pip_count=5).as_tuple() == kinetra.bounce(5).as_tuple()
    assert kinetra.sample(name="bounce", pip_count=IntLike()).as_tuple() == kinetra.bounce(5).as_tuple()
    assert kinetra.sample(b"bounce", 5).as_tuple() == kinetra.bounce(5).as_tuple()
    with pytest.raises(TypeError):
        kinetra.sample("bounce", pip=5)
    with pytest.raises(TypeError):
        kinetra.sample("bounce", 2.5)
    with pytest.raises(TypeError):
        kinetra.sample("bounce", 2**31)


def test_no_convert_pips_refuse_what_only_int_accepts():
    pattern = kinetra.SampledPattern("p", "", [[0.5, 0, 0]])
    library = kinetra.PatternLibrary([pattern])
    recording = kinetra.SampledRecording("r", ["x"], [[0.25]] * 8, 120.0)
    for call in (lambda p: pattern.sample(p), lambda p: library.sample("p", p),
                 lambda p: recording.sample(p)):
        assert call(Index()) is not None and call(True) is not None
        for bad in (IntLike(), 1.0, 2**31):
            with pytest.raises(TypeError):
                call(bad)
    with pytest.raises(TypeError):
        pattern.sample(pip=0)
    assert pattern.sample(pip_count=3).as_tuple() == (0.5, 0.0, 0.0)
    assert recording.sample(pip=3) == [0.25]


def test_offset3_is_a_read_only_value_without_constructor():
    with pytest.raises(TypeError, match=r"^kinetra\.Offset3: No constructor defined!$"):
        kinetra.Offset3()
    o = kinetra.bounce(0)
    with pytest.raises(AttributeError):
        o.x = 1.0
    with pytest.raises(AttributeError):
        o.w = 1
    assert o.as_tuple() == (-1.0, 0.0, 0.0)
    assert all(type(v) is float for v in o.as_tuple())
    # Identity semantics: every call is a new object and there is no value equality.
    assert kinetra.bounce(0) != kinetra.bounce(0)
    assert kinetra.bounce(0).as_tuple() == kinetra.bounce(0).as_tuple()


@pytest.mark.parametrize("cls", ["SampledRecording", "Offset3", "SampledPattern", "PatternLibrary"])
def test_classes_have_no_extras(cls):
    c = getattr(kinetra, cls)
    assert c.__module__ == "kinetra"
    for extra in ("__dict__", "__getstate__", "__reduce_ex__"):
        assert extra not in vars(c)
    assert "__repr__" not in vars(c) and "__eq__" not in vars(c) and "__hash__" not in vars(c)

    class Sub(c):  # not final
        pass


def test_properties_are_read_only_and_fresh():
    r = kinetra.SampledRecording("r", ["x", "y"], [[0.0, 0.1]], 120.0)
    dims = r.dimensions
    dims.append("z")
    assert r.dimensions == ["x", "y"] and r.dimensions is not r.dimensions
    for obj, prop in ((r, "bpm"), (r, "name"), (kinetra.SampledPattern("a", "", [[0, 0, 0]]), "period_pips")):
        with pytest.raises(AttributeError):
            setattr(obj, prop, 1)


def test_reimport_returns_the_same_populated_module():
    first = kinetra
    del sys.modules["kinetra"]
    import kinetra as again
    assert again is first and again.bounce(0).as_tuple() == (-1.0, 0.0, 0.0)
    sys.modules["kinetra"] = first


def test_signatures_render_qualified_names():
    assert kinetra.sample.__doc__.startswith(
        "sample(name: str, pip_count: typing.SupportsInt | typing.SupportsIndex) -> kinetra.Offset3")
    assert "kinetra.SampledPattern" in kinetra.PatternLibrary.__init__.__doc__


def test_module_runs_in_a_fresh_interpreter_without_building_the_registry():
    code = textwrap.dedent("""
        import kinetra
        kinetra.sample("circle", 5)
        print(len(kinetra.catalogue()))
    """)
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert int(out.stdout) == len(kinetra.catalogue())


def test_instances_made_without_init_are_empty_not_garbage():
    """__new__ alone never reads uninitialised memory: such objects are empty."""
    blank = kinetra.SampledPattern.__new__(kinetra.SampledPattern)
    with pytest.raises(RuntimeError, match="^Cannot sample a moved-from pattern$"):
        blank.sample(0)
    assert (blank.name, blank.description, blank.period_pips) == ("", "", 0)
    with pytest.raises(ValueError, match="^Empty/moved-from pattern$"):
        kinetra.PatternLibrary([blank])
    library = kinetra.PatternLibrary.__new__(kinetra.PatternLibrary)
    assert library.catalogue() == kinetra.catalogue()
    assert library.sample("bounce", 3).as_tuple() == kinetra.bounce(3).as_tuple()
    recording = kinetra.SampledRecording.__new__(kinetra.SampledRecording)
    assert (recording.sample_count, recording.dimensions, recording.bpm) == (0, [], 0.0)
    with pytest.raises(IndexError):
        recording.sample(0)
    assert kinetra.Offset3.__new__(kinetra.Offset3).as_tuple() == (0.0, 0.0, 0.0)
