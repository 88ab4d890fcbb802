"""Hundreds of thousands of calls through every entry point, failures included, leave the
resident memory where it was."""

import gc

import pytest

import kinetra
from kinetra import PatternLibrary, SampledPattern, SampledRecording


def resident_kib():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS")


def swallow(fn, *args):
    try:
        fn(*args)
    except (ValueError, TypeError, IndexError):
        pass


def pattern_calls():
    p = SampledPattern("a", "d", [(0.1, 0.2, 0.3)] * 8)
    library = PatternLibrary([p])
    rec = SampledRecording("r", ["x", "y"], [[0.1, 0.2]] * 4, 120.0, 0.0, 0)
    listed = [e["name"] for e in kinetra.catalogue()]

    def once(i):
        kinetra.sample("circle", i).as_tuple()
        kinetra.sample(listed[i % len(listed)], i)
        swallow(kinetra.sample, "no_such_pattern_at_all", i)
        kinetra.helix(i)
        kinetra.flam(-i)
        p.sample(i)
        library.sample("a", i)
        swallow(library.sample, "Missing", i)
        rec.sample(i & 3)
        swallow(rec.sample, 9)
        swallow(kinetra.bounce, 2**40)
        rec.dimensions
    return once


def construction_calls():
    good = [(0.5, 0.0, 0.0)] * 16

    def once(i):
        SampledPattern("p", "x" * (i % 40), good)
        swallow(SampledPattern, "P", "", good)
        swallow(SampledPattern, "p", "", [(2.0, 0.0, 0.0)])
        swallow(SampledPattern, "p", "", [(0.0, 0.0)])
        p = SampledPattern(f"p{i % 7}", "", good)
        PatternLibrary([p]).catalogue() if i % 50 == 0 else PatternLibrary([p])
        swallow(PatternLibrary, [p, p])
        swallow(PatternLibrary, [SampledPattern("bounce", "", good)])
        SampledRecording("r", ["x"], [[0.1]] * 4, 120.0)
        swallow(SampledRecording, "r", ["x", "x"], [[0.1, 0.1]], 120.0)
        swallow(SampledRecording, "r", ["x"], [[0.1], [0.1, 0.2]], 120.0)
        swallow(SampledRecording, "r", ["x"], [[0.1]], float("nan"))
        if i % 100 == 0:
            kinetra.catalogue()
    return once


@pytest.mark.parametrize("make, rounds", [(pattern_calls, 40_000), (construction_calls, 8_000)],
                         ids=["sampling", "construction"])
def test_resident_memory_does_not_grow(make, rounds):
    once = make()
    # A warm-up round lets the allocator and the interpreter's caches settle.
    for i in range(rounds // 4):
        once(i)
    gc.collect()
    before = resident_kib()
    for i in range(rounds):
        once(i)
    gc.collect()
    grown = resident_kib() - before
    # A leak of even one small string a call would add several MiB here.
    assert grown < 1024, f"resident memory grew by {grown} KiB"
