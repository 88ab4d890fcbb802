"""The default registry, the name lookup and the two listings, against the pattern data."""

import math
import subprocess
import sys
from collections import Counter

import pytest

import kinetra
from conftest import ROOT, row_samples

RUDIMENT_ROWS = [
    ("bounce", "One-beat vertical bounce", 64, 1),
    ("sway", "Two-beat side-to-side sway", 128, 1),
    ("circle", "One-beat circular orbit", 64, 2),
    ("figure_eight", "Two-beat figure eight", 128, 2),
    ("step_touch", "Two-beat side step with a small lift", 128, 2),
    ("box_step", "Four-beat softened square path", 256, 2),
    ("helix", "Four-beat double-turn helix", 256, 3),
    ("tamsel_background", "Tamsel/Brevin four-beat accented background drift", 256, 2),
    ("single_stroke_roll", "Alternating R/L strokes with smooth attack and decay", 64, 2),
    ("double_stroke_roll", "RRLL strokes with a softer second motion", 64, 2),
    ("multiple_bounce_roll", "Decaying same-hand bounce clusters", 64, 2),
    ("single_paradiddle", "RLRR LRLL with accented lead strokes", 128, 2),
    ("flam", "Grace motion flowing into an opposite-hand primary motion", 64, 2),
    ("drag", "Two grace motions flowing into an opposite-hand primary motion", 64, 2),
    ("five_stroke_roll", "Two diddles resolving to an accented fifth motion", 128, 2),
]


def test_listing_is_the_rudiments_then_the_table(catalogue_table):
    listing = kinetra.catalogue()
    expected = [dict(zip(("name", "description", "period_pips", "dimensions"), r)) for r in RUDIMENT_ROWS]
    expected += [{"name": r.name, "description": r.description, "period_pips": r.period_pips,
                  "dimensions": r.dimensions} for r in catalogue_table]
    assert listing == expected
    assert len(listing) == 1731
    assert all(list(d) == ["name", "description", "period_pips", "dimensions"] for d in listing)
    assert listing[15]["name"] == "lfo_breathe" and listing[-1]["name"] == "beat_dembow_push_ricochet"
    assert listing[-1]["period_pips"] == 512 and listing[-1]["dimensions"] == 3


def test_listings_are_fresh_objects():
    a, b = kinetra.catalogue(), kinetra.catalogue()
    assert a == b and a is not b and a[0] is not b[0]
    a[0]["name"] = "changed"
    a.pop()
    assert kinetra.catalogue() == b


def test_descriptions_keep_their_exact_bytes():
    by_name = {d["name"]: d["description"] for d in kinetra.catalogue()}
    assert by_name["beat_house_classic_bounce"] == "House / kick-clap-offbeat hat — Kick-led bounce. "
    assert by_name["beat_four_floor_bounce"].endswith("not itself a complete genre.")
    assert by_name["beat_jersey_five_glide"].startswith("Jersey / five-kick foundation — Bass / phrase glide.")
    assert "4–12" in by_name["groove_a_played"]


def test_every_name_is_found_and_near_misses_are_not(catalogue_table):
    for row in catalogue_table:
        assert kinetra.sample(row.name, 0).as_tuple() == kinetra.sample(row.name, row.period_pips).as_tuple()
    for name in ("Circle", "circle ", "circl", "", "lfo_breath", "lfo_breathe_", "accent_walk_10_",
                 "weave_5_9x", "zzz", "é"):
        with pytest.raises(ValueError) as err:
            kinetra.sample(name, 0)
        assert str(err.value) == "Unknown kinetra: " + name
    # A name is its exact bytes: an embedded NUL makes another name. (The message text ends at
    # the NUL, since the binding library passes messages on as C strings.)
    for name in ("bounce\x00", "lfo_breathe\x00x"):
        with pytest.raises(ValueError, match="^Unknown kinetra: "):
            kinetra.sample(name, 0)
    assert kinetra.sample("meter_2_3", 0) is not None and kinetra.sample("meter_2_3_2", 0) is not None


def test_index_order_is_unsigned_byte_order(catalogue_table):
    names = sorted((r.name for r in catalogue_table), key=str.encode)
    assert names[0] == "accent_walk_10_3" and names[-1] == "weave_5_9"
    assert names.index("euclid_3_10") < names.index("euclid_3_7")
    assert names.index("meter_2_3") < names.index("meter_2_3_2") < names.index("meter_2_3_2_2")


@pytest.mark.parametrize("name,period,pips", [
    ("lfo_breathe", 256, {-1: 255, 256: 0}),
    ("euclid_2_5", 160, {-1: 159, 160: 0, -2**31: 32, 2**31 - 1: 127}),
    ("euclid_7_15", 480, {-2**31: 352}),
    ("beat_techno_polymeter_bounce", 768, {-2**31: 256}),
])
def test_accessors_fold_by_floor_modulo(name, period, pips):
    for pip, k in pips.items():
        assert kinetra.sample(name, pip).as_tuple() == kinetra.sample(name, k).as_tuple()


def test_unused_axes_are_positive_zero(catalogue_table):
    for row in catalogue_table[::7]:
        for k in range(0, row.period_pips, 5):
            for v in kinetra.sample(row.name, k).as_tuple()[row.dimensions:]:
                assert v == 0.0 and math.copysign(1.0, v) > 0


def test_every_row_matches_its_committed_digest(catalogue_table):
    import generated_sources

    listed = generated_sources.read_digest_list((ROOT / generated_sources.DIGESTS).read_text())
    built = {row.name: generated_sources.row_digest(row_samples(row.name, row.period_pips))
             for row in catalogue_table}
    changes = generated_sources.moved_rows(listed, built)
    assert not changes, (f"run python {generated_sources.DIGEST_TOOL} after changing the data, "
                         f"and check that these are the rows you meant to change: {changes}")
    assert list(listed) == list(built)


def test_the_table_holds_the_documented_catalogue(catalogue_table):
    # Fixed by the catalogue's own description: no retuning moves these, only a new row would.
    rows = catalogue_table
    assert len(rows) == 1716 == 52 + 36 * 16 + 68 * 16
    assert Counter(r.period_pips for r in rows) == {
        160: 3, 224: 5, 256: 41, 288: 5, 320: 4, 352: 6, 384: 4, 416: 6, 448: 6, 480: 5,
        512: 1304, 544: 1, 608: 1, 640: 1, 768: 17, 1024: 307}
    assert Counter(r.dimensions for r in rows) == {1: 29, 2: 299, 3: 1388}
    assert sum(r.period_pips for r in rows) == 1_022_912
    assert [r.recipe == "beat" for r in rows] == [False] * 628 + [True] * 1088
    assert sum(r.rule for r in rows) == 202
    assert {r.name for r in rows if r.moving == "y"} == {"lfo_double_pump", "beat_four_floor_bounce"} | {
        r.name for r in rows if r.name.startswith("env_")}
    assert all(r.moving == "xyz"[:r.dimensions] for r in rows if r.moving != "y")
    scaled = [r for r in rows if r.peak == 0.82]
    assert len(scaled) == 307
    families = ("wave_", "seq_", "noise_", "orbit_", "weave_", "polar_", "spiro_", "space_",
                "mech_", "gesture_", "ribbon_", "tour_", "scan_", "surface_")
    assert {r.name for r in rows if r.name.startswith(families)} <= {r.name for r in scaled}


def test_whole_block_facts(catalogue_table):
    values = [kinetra.sample(r.name, k).as_tuple() for r in catalogue_table for k in range(r.period_pips)]
    assert len(values) == 1_022_912
    flat = [v for s in values for v in s]
    assert min(flat) == -0.92 and max(flat) == 1.0
    assert all(round(v, 12) == v for v in flat)


def test_first_use_from_many_threads_builds_one_registry():
    code = (
        "import threading, kinetra\n"
        "out = []\n"
        "ts = [threading.Thread(target=lambda: out.append(kinetra.catalogue())) for _ in range(8)]\n"
        "[t.start() for t in ts]; [t.join() for t in ts]\n"
        "assert all(o == out[0] for o in out) and len(out[0]) == 1731\n"
    )
    subprocess.run([sys.executable, "-c", code], check=True)
