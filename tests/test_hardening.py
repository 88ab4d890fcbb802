"""Random input for every constructor and sample operation: each call succeeds with values in
[-1, 1] or raises the documented exception with its exact message, and never changes what it
was given."""

import copy
import math
import re

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import kinetra
from kinetra import PatternLibrary, SampledPattern, SampledRecording

SETTINGS = settings(max_examples=250, deadline=None, suppress_health_check=[HealthCheck.too_slow])
I32 = (-2**31, 2**31 - 1)
IDENT = re.compile(rb"[a-z][a-z0-9_]{0,127}")


def names_listed():
    return [e["name"] for e in kinetra.catalogue()]


pips = st.one_of(st.integers(*I32), st.integers(-2**70, 2**70),
                 st.sampled_from([I32[0], I32[1], I32[0] - 1, I32[1] + 1, 0, -1]))
identifiers = st.from_regex(r"\A[a-z][a-z0-9_]{0,12}\Z")
any_name = st.one_of(identifiers, st.text(max_size=12), st.binary(max_size=12),
                     st.sampled_from(["bounce", "Circle", "circl", "circle ", "", "a" * 128, "a" * 129]))
components = st.one_of(st.floats(allow_nan=True, allow_infinity=True), st.floats(-1, 1),
                       st.sampled_from([-1.0, 1.0, -0.0, 1.0000001, -1.0000001]), st.integers(-2, 2))


def in_range(values):
    return all(isinstance(v, float) and -1.0 <= v <= 1.0 for v in values)


def as_bytes(name):
    return name if isinstance(name, bytes) else name.encode()


def encodable(name):
    try:
        as_bytes(name)
    except UnicodeEncodeError:
        return False
    return True


def check_unknown(excinfo, name):
    # The message travels as a C string: it ends at a NUL byte, and bytes that are not UTF-8
    # surface as the decoding error, which is itself a ValueError.
    raw = as_bytes(name).split(b"\0")[0]
    try:
        expected = "Unknown kinetra: " + raw.decode()
    except UnicodeDecodeError:
        assert isinstance(excinfo.value, UnicodeDecodeError)
        return
    assert str(excinfo.value) == expected


@SETTINGS
@given(name=st.one_of(any_name, st.sampled_from(["circle", "helix", "flam", "lfo_breathe"])), pip=pips)
def test_module_sample_by_name(name, pip):
    if not encodable(name) or not I32[0] <= pip <= I32[1]:
        with pytest.raises(TypeError):
            kinetra.sample(name, pip)
        return
    known = {n.encode(): e for n, e in zip(names_listed(), kinetra.catalogue())}
    entry = known.get(as_bytes(name))
    if entry is None:
        with pytest.raises(ValueError) as excinfo:
            kinetra.sample(name, pip)
        check_unknown(excinfo, name)
        return
    values = kinetra.sample(name, pip).as_tuple()
    assert in_range(values)
    assert all(math.copysign(1.0, v) == 1.0 and v == 0.0 for v in values[entry["dimensions"]:])
    assert values == kinetra.sample(name, pip % entry["period_pips"]).as_tuple()


@SETTINGS
@given(pip=pips, which=st.sampled_from(names_listed()[:15]))
def test_rudiments_take_every_32_bit_pip_and_refuse_the_rest(pip, which):
    fn = getattr(kinetra, which)
    if I32[0] <= pip <= I32[1]:
        assert in_range(fn(pip).as_tuple())
    else:
        with pytest.raises(TypeError):
            fn(pip)


# --- SampledPattern -------------------------------------------------------------------------

good_sample = st.tuples(components, components, components)
any_sample = st.one_of(good_sample, st.lists(components, min_size=3, max_size=3),
                       st.lists(components, max_size=5), st.just("abc"), st.none(),
                       st.tuples(components, st.text(max_size=2), components))


def is_triple(s):
    return (isinstance(s, (list, tuple)) and len(s) == 3
            and all(isinstance(v, (int, float)) for v in s))


def pattern_error(name, samples):
    if not IDENT.fullmatch(as_bytes(name)):
        return "Invalid pattern name"
    if not 1 <= len(samples) <= 65535:
        return "A pattern requires 1..65535 samples (one per pip)"
    if any(not (math.isfinite(v) and -1.0 <= v <= 1.0) for s in samples for v in s):
        return "Pattern samples must be finite and within [-1, 1]"
    return None


@SETTINGS
@given(name=any_name, description=st.one_of(st.text(max_size=8), st.binary(max_size=8)),
       samples=st.one_of(st.lists(good_sample, max_size=6), st.lists(any_sample, max_size=4),
                         st.tuples(good_sample)),
       pip=pips)
def test_sampled_pattern_construction(name, description, samples, pip):
    before = copy.deepcopy(samples)
    if not (encodable(name) and encodable(description)) or not all(is_triple(s) for s in samples):
        with pytest.raises(TypeError):
            SampledPattern(name, description, samples)
    elif (expected := pattern_error(name, samples)) is not None:
        with pytest.raises(ValueError) as excinfo:
            SampledPattern(name, description, samples)
        assert str(excinfo.value) == expected
    else:
        p = SampledPattern(name, description, samples)
        assert p.period_pips == len(samples)
        assert p.name == as_bytes(name).decode()
        if I32[0] <= pip <= I32[1]:
            got = p.sample(pip).as_tuple()
            assert in_range(got) and got == tuple(float(v) for v in samples[pip % len(samples)])
        else:
            with pytest.raises(TypeError):
                p.sample(pip)
    assert repr(samples) == repr(before)


def test_uninitialised_subclasses_are_refused_before_any_native_use():
    for cls in (SampledPattern, PatternLibrary, SampledRecording):
        skipper = type("Skipper", (cls,), {"__init__": lambda self, *a: None})
        with pytest.raises(TypeError, match=r"__init__\(\) must be called when overriding __init__"):
            skipper()
    with pytest.raises(TypeError, match="^Sub: No constructor defined!$"):
        type("Sub", (kinetra.Offset3,), {})()
    # A subclass that does call the base constructor is a full pattern.
    sub = type("Sub", (SampledPattern,), {})("s", "", [(0.5, 0.0, 0.0)])
    assert PatternLibrary([sub]).sample("s", 1).as_tuple() == (0.5, 0.0, 0.0)


# --- PatternLibrary -------------------------------------------------------------------------

def bounce_copy():
    return SampledPattern("bounce", "One-beat vertical bounce",
                          [kinetra.bounce(k).as_tuple() for k in range(64)])


POOL = {
    "a": lambda: SampledPattern("a", "", [(0.1, 0.0, 0.0)] * 3),
    "a_again": lambda: SampledPattern("a", "other", [(0.2, 0.2, 0.0)]),
    "b": lambda: SampledPattern("b", "b", [(0.0, 0.0, -1.0)] * 5),
    "bounce_copy": bounce_copy,
    "bounce_fake": lambda: SampledPattern("bounce", "One-beat vertical bounce", [(0.0, 0.0, 0.0)] * 64),
    "circle_short": lambda: SampledPattern("circle", "One-beat circular orbit", [(0.0, -1.0, 0.0)] * 63),
}


def library_error(pack):
    seen = set()
    defaults = {e["name"]: e for e in kinetra.catalogue()}
    for key, p in pack:
        if p.name in seen:
            return "Duplicate pattern name: " + p.name
        seen.add(p.name)
        if p.name in defaults and key != "bounce_copy":
            return "Cannot override default pattern: " + p.name
    return None


@SETTINGS
@given(keys=st.lists(st.sampled_from(sorted(POOL)), max_size=5),
       intruder=st.sampled_from([None, "a", 1, None, (0.0, 0.0, 0.0), kinetra.bounce(0)]),
       pip=st.integers(*I32))
def test_pattern_library_construction(keys, intruder, pip):
    pack = [(k, POOL[k]()) for k in keys]
    given_list = [p for _, p in pack] + ([intruder] if intruder is not None else [])
    facts = [(p.name, p.description, p.period_pips, [p.sample(i).as_tuple() for i in range(p.period_pips)])
             for _, p in pack]
    if intruder is not None:
        with pytest.raises(TypeError):
            PatternLibrary(given_list)
    elif (expected := library_error(pack)) is not None:
        with pytest.raises(ValueError) as excinfo:
            PatternLibrary(tuple(given_list))
        assert str(excinfo.value) == expected
    else:
        library = PatternLibrary(given_list)
        for _, p in pack:
            assert in_range(library.sample(p.name, pip).as_tuple())
        stored = [p.name for k, p in pack if k != "bounce_copy"]
        assert [e["name"] for e in library.catalogue()[len(kinetra.catalogue()):]] == stored
    assert facts == [(p.name, p.description, p.period_pips, [p.sample(i).as_tuple() for i in range(p.period_pips)])
                     for _, p in pack]


@SETTINGS
@given(name=any_name, pip=pips)
def test_library_sample_falls_back_to_the_defaults(name, pip):
    library = PatternLibrary([POOL["a"]()])
    if not encodable(name) or not I32[0] <= pip <= I32[1]:
        with pytest.raises(TypeError):
            library.sample(name, pip)
    elif as_bytes(name) == b"a":
        assert library.sample(name, pip).as_tuple() == (0.1, 0.0, 0.0)
    else:
        try:
            expected = kinetra.sample(name, pip).as_tuple()
        except ValueError:
            with pytest.raises(ValueError) as excinfo:
                library.sample(name, pip)
            check_unknown(excinfo, name)
        else:
            assert library.sample(name, pip).as_tuple() == expected


# --- SampledRecording -----------------------------------------------------------------------

def recording_error(name, dims, rows, bpm, zero, start):
    if not IDENT.fullmatch(as_bytes(name)):
        return "Invalid identifier"
    spb = 60.0 / bpm if math.isfinite(bpm) and bpm > 0 else math.inf
    if not (math.isfinite(spb) and spb * 0.015625 > 0 and math.isfinite(zero)):
        return "A finite positive BPM and beat origin are required"
    if not dims or not rows or len(rows) > 2**23 // len(dims) or start + len(rows) > I32[1]:
        return "Empty recording or recording resource limit exceeded"
    seen = set()
    for d in dims:
        if not IDENT.fullmatch(as_bytes(d)):
            return "Invalid identifier"
        if as_bytes(d) in seen:
            return "Duplicate axis"
        seen.add(as_bytes(d))
    for row in rows:
        if len(row) != len(dims):
            return "Ragged recording"
        if any(not math.isfinite(v) or abs(v) > 1.0 for v in row):
            return "Invalid sample"
    return None


floats_wide = st.one_of(st.floats(), st.sampled_from([0.0, -120.0, 1e-320, 5e-324, 120.0, 2.5]))


@SETTINGS
@given(name=st.one_of(identifiers, any_name),
       dims=st.lists(st.one_of(st.sampled_from(["x", "y", "z", "X"]), identifiers, st.text(max_size=3)), max_size=4),
       rows=st.lists(st.lists(components, max_size=4), max_size=4),
       bpm=floats_wide, zero=floats_wide,
       start=st.one_of(st.integers(*I32), st.sampled_from([I32[1] - 1, I32[1], I32[0]])),
       pip=pips)
def test_sampled_recording_construction(name, dims, rows, bpm, zero, start, pip):
    before = copy.deepcopy((dims, rows))
    args = (name, dims, rows, bpm, zero, start)
    if not encodable(name) or not all(encodable(d) for d in dims):
        with pytest.raises(TypeError):
            SampledRecording(*args)
    elif (expected := recording_error(*args)) is not None:
        with pytest.raises(ValueError) as excinfo:
            SampledRecording(*args)
        assert str(excinfo.value) == expected
    else:
        rec = SampledRecording(*args)
        assert rec.sample_count == len(rows)
        if not I32[0] <= pip <= I32[1]:
            with pytest.raises(TypeError):
                rec.sample(pip)
        elif start <= pip < start + len(rows):
            got = rec.sample(pip)
            assert in_range(got) and got == [float(v) for v in rows[pip - start]]
        else:
            with pytest.raises(IndexError, match="^Pip outside non-looping recording$"):
                rec.sample(pip)
        assert in_range(rec.sample(start))
    assert repr((dims, rows)) == repr(before)


def test_oversized_input_is_refused_with_the_documented_messages():
    with pytest.raises(ValueError, match=r"^A pattern requires 1\.\.65535 samples \(one per pip\)$"):
        SampledPattern("a", "", [(0.0, 0.0, 0.0)] * 65536)
    one = SampledPattern("a", "", [(0.0, 0.0, 0.0)])
    with pytest.raises(ValueError, match="^Too many patterns$"):
        PatternLibrary([one] * 1025)
    with pytest.raises(ValueError, match="^Empty recording or recording resource limit exceeded$"):
        SampledRecording("r", ["a", "b", "c"], [[0.0] * 3] * 2796203, 120.0)
    assert in_range(kinetra.sample("circle", 0).as_tuple())


def test_names_too_long_for_a_key_are_compared_whole():
    name = "beat_jungle_switchback_corkscrew"  # the one catalogue name of 32 bytes
    assert kinetra.sample(name, 7).as_tuple() == kinetra.sample(name, 7 + 512).as_tuple()
    for other in (name[:-1] + "x", name[:-1], name + "_", name[:31] + "\x00", name + "x" * 40,
                  "beat_jungle_switchback_pendulum\x00"):
        with pytest.raises(ValueError, match="^Unknown kinetra: "):
            kinetra.sample(other, 0)


# --- The companion's show files and packs ---------------------------------------------------

SHOW = {
    "fps": 44, "on_stop": "park",
    "clock": {"source": "internal", "bpm": 124, "tempo_changes": [[64, "127.5"]],
              "latency_ms": 20},
    "fixture": [
        {"name": "head_1", "pattern": "circle", "phase_pips": 3, "speed": "3/2",
         "scale": [0.5, 1, 1], "invert": [True, False, False], "swap": "xy",
         "rotate_degrees": 30, "park": [0, -1, 0],
         "crossfade": {"to": "sway", "at_beat": 4, "beats": 2},
         "dmx": {"universe": 1, "pan": 1, "tilt": 3, "bits": 16, "pan_range": [0.2, 0.8]}},
        {"name": "wash", "pattern": "figure_eight", "osc_address": "/wash/pos",
         "midi": {"channel": 2, "cc": [20, 21], "bits": 14}},
    ],
    "group": [{"name": "all", "fixtures": ["head_1", "wash"], "spread": "wings",
               "spread_pips": 8}],
    "output": [{"kind": "osc", "name": "osc", "address": "127.0.0.1:9000", "prefix": "/k"},
               {"kind": "sacn", "name": "stage", "address": "127.0.0.1", "universe": 1},
               {"kind": "artnet", "address": "[::1]:6454", "universe": 1},
               {"kind": "midi", "address": "a port"}],
}

hostile = st.recursive(
    st.one_of(st.integers(), st.integers(-10**400, 10**400), st.floats(), st.booleans(),
              st.text(max_size=8), st.none(),
              st.sampled_from(["1e999999999", "1/0", "²", "٩٠٠٠", "127.0.0.1:²", "*", "/a/*",
                               "a\nb", "\x1b[2J", "x" * 5000, "3/2", "-0", "1e-400", "circle",
                               "[::1]", "h:0", "wings", 2**31, -2**31 - 1, 1e308, 10**4000])),
    lambda inner: st.one_of(st.lists(inner, max_size=4),
                            st.dictionaries(st.text(max_size=6), inner, max_size=3)),
    max_leaves=8)


def _places(node, path=()):
    """Every (container, key) of a document, so one can be replaced or removed."""
    items = node.items() if isinstance(node, dict) else enumerate(node)
    for key, value in items:
        yield path + (key,)
        if isinstance(value, (dict, list)):
            yield from _places(value, path + (key,))


def _mutated(template, data):
    document = copy.deepcopy(template)
    for _ in range(data.draw(st.integers(1, 3))):
        path = data.draw(st.sampled_from(list(_places(document))))
        parent = document
        for key in path[:-1]:
            parent = parent[key]
        action = data.draw(st.sampled_from(["replace", "replace", "remove", "add"]))
        if action == "remove" and isinstance(parent, dict):
            del parent[path[-1]]
        elif action == "add" and isinstance(parent, dict):
            parent[data.draw(st.text(max_size=8))] = data.draw(hostile)
        else:
            parent[path[-1]] = data.draw(hostile)
    return document


def _clean(message: str) -> bool:
    return message.isprintable() and len(message) <= 500


@settings(max_examples=300, deadline=None, suppress_health_check=list(HealthCheck))
@given(data=st.data())
def test_any_show_document_is_a_show_or_one_clean_show_error(data):
    from kinetra_live.sampler import Sampler
    from kinetra_live.show import ShowError, parse_show

    document = _mutated(SHOW, data)
    try:
        show = parse_show(document)
    except ShowError as exc:
        assert _clean(str(exc)), str(exc)
        return
    sampler = Sampler(show)
    for pip in (0, data.draw(st.integers(-2**70, 2**70))):
        for state in sampler.frame(pip).fixtures:
            assert all(-1 <= v <= 1 for v in state.out)
    show.quantum, show.clock.tempo_map().pip_at(10**6)


PACK = {"patterns": [{"name": "user_nod", "description": "A nod",
                      "samples": [[0, 0.5, 0], [0.25, -1, 0.5]]}],
        "recordings": [{"name": "take", "axes": ["pan", "tilt"], "samples": [[0.1, 0.2]] * 3,
                        "bpm": 120, "beat_zero_seconds": 0.5, "start_pip": -4}]}


@settings(max_examples=150, deadline=None, suppress_health_check=list(HealthCheck))
@given(data=st.data())
def test_any_pack_is_a_pack_or_one_clean_pack_error(data, tmp_path_factory):
    import json

    from kinetra_live import names, packs

    path = tmp_path_factory.mktemp("pack") / "pack.json"
    try:
        path.write_text(json.dumps(_mutated(PACK, data)))
    except ValueError:          # json cannot write every hostile value (a 4,000-digit integer)
        return
    try:
        pack = packs.read_pack(path)
    except packs.PackError as exc:
        assert _clean(str(exc)), str(exc)
        return
    for entry in pack.patterns + pack.recordings:
        sample = names.source(names.resolve(entry.name, pack), pack)
        got = sample(data.draw(st.integers(-2**70, 2**70)))
        assert got is None or (len(got) == 3 and all(-1 <= v <= 1 for v in got))


@pytest.mark.parametrize("text", ["1e999999999", "1" * 65, "1e-401", "٣", "1/0", "0x1f"])
def test_exact_refuses_text_it_cannot_read_quickly(text):
    from kinetra_live.timebase import exact

    with pytest.raises(ValueError, match="^where: expected "):
        exact(text, "where")
