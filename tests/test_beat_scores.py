"""The drum scores of the beat studies, read straight from data/beat/*.toml."""

import math
import tomllib
from pathlib import Path

import pytest

SCORES = Path(__file__).resolve().parent.parent / "data" / "beat"

LANES = {"kick", "snare", "clap", "rim", "closed_hat", "open_hat", "ride", "crash", "shaker",
         "tom_low", "tom_mid", "tom_high", "conga", "bell", "clave", "perc", "bass", "log_drum"}
DEPTH = {"bass", "log_drum", "crash"}
HELD = {"bass", "log_drum"}
GHOST = 0.45
BEAT, BAR = 64, 256


@pytest.fixture(scope="module")
def styles(catalogue_table):
    """style -> (period, bounce dimensions, orbit dimensions), from the table's beat rows."""
    out = {}
    for row in catalogue_table:
        if row.recipe == "beat" and row.name.endswith("_bounce"):
            out[row.name.removeprefix("beat_").removesuffix("_bounce")] = [row.period_pips,
                                                                           row.dimensions]
    for row in catalogue_table:
        if row.recipe == "beat" and row.name.endswith("_orbit"):
            style = row.name.removeprefix("beat_").removesuffix("_orbit")
            out[style].append(row.dimensions)
    return {k: tuple(v) for k, v in out.items()}


@pytest.fixture(scope="module")
def scores():
    return {p.stem: tomllib.loads(p.read_text(encoding="utf-8")) for p in SCORES.glob("*.toml")}


def lane(scores, style, name):
    return [tuple(hit) for hit in scores[style]["lanes"].get(name, [])]


def pips(hits):
    return [hit[0] for hit in hits]


def test_one_score_per_style_with_the_table_period(styles, scores):
    assert len(styles) == 68
    assert set(scores) == set(styles)
    for style, (period, *_) in styles.items():
        assert scores[style]["period_pips"] == period, style
        bpm = scores[style]["bpm"]
        assert isinstance(bpm, (int, float)) and 60 <= bpm <= 200, style


def test_every_score_opens_with_a_comment():
    for path in SCORES.glob("*.toml"):
        first = path.read_text(encoding="utf-8").splitlines()[0]
        assert first.startswith("# ") and len(first) > 20, path.name


def test_hits_are_well_formed(scores):
    for style, score in scores.items():
        period = score["period_pips"]
        assert set(score) - {"variant_of"} == {"period_pips", "bpm", "lanes"}, style
        assert score.get("variant_of", "four_floor") in scores, style
        assert score["lanes"] and set(score["lanes"]) <= LANES, style
        for name, hits in score["lanes"].items():
            assert hits, (style, name)
            for hit in hits:
                sizes = (2, 3, 4, 6) if name in HELD else (2,)
                assert len(hit) in sizes and type(hit[0]) is int and type(hit[1]) is float, \
                    (style, name, hit)
                # pitch and slide in semitones, the slide from the note's pitch
                pitch, slide = (list(hit[3:5]) + [0.0, 0.0])[:2]
                assert -12 <= pitch <= 24 and -12 <= pitch + slide <= 24, (style, name, hit)
                assert 0 <= hit[0] < period and 0.0 < hit[1] <= 1.0, (style, name, hit)
            at = pips(hits)
            assert at == sorted(set(at)), (style, name)


def test_lanes_match_the_table_dimensions(styles, scores):
    for style, (_, bounce_dims, orbit_dims) in styles.items():
        lanes = set(scores[style]["lanes"])
        assert bool(lanes & DEPTH) == (bounce_dims == 3), style
        assert (lanes != {"kick"}) == (orbit_dims == 3), style


def test_strongest_hits_and_downbeat_kicks(scores):
    for style, score in scores.items():
        loudest = max(v for hits in score["lanes"].values() for _, v, *_ in hits)
        assert loudest == 1.0, style
        kicks = dict(lane(scores, style, "kick"))
        assert kicks, style
        if 0 in kicks:
            assert kicks[0] == 1.0, style


def test_scores_differ_from_each_other(scores):
    seen = {}
    for style, score in scores.items():
        onsets = frozenset((name, p) for name, hits in score["lanes"].items() for p, *_ in hits)
        assert onsets not in seen, (style, seen.get(onsets))
        seen[onsets] = style
    kick_sets = {}
    for style in scores:
        key = (scores[style]["period_pips"], tuple(pips(lane(scores, style, "kick"))),
               tuple(pips(lane(scores, style, "snare") or lane(scores, style, "clap"))))
        kick_sets.setdefault(key, []).append(style)
    # Styles may share a four-floor kick and a plain backbeat, but not many of them at once.
    assert max(len(v) for v in kick_sets.values()) <= 4, kick_sets


def test_no_style_holds_most_of_another_unless_it_varies_it(scores):
    """Over a common loop length, two styles share at most 70% of their hits, and neither holds
    85% of the other's, unless one declares itself a variant of the other. The bare four-floor
    pulse, a kick lane alone, is what every four-on-the-floor style is built over."""
    def tiled(style, length):
        score = scores[style]
        period = score["period_pips"]
        return {(name, hit[0] + k) for name, lane in score["lanes"].items() for hit in lane
                for k in range(0, length, period)}

    close = []
    for a in sorted(scores):
        for b in sorted(scores):
            if a >= b or b == scores[a].get("variant_of") or a == scores[b].get("variant_of"):
                continue
            length = math.lcm(scores[a]["period_pips"], scores[b]["period_pips"])
            ha, hb = tiled(a, length), tiled(b, length)
            both = len(ha & hb)
            held = [both / len(h) for s, h in ((a, ha), (b, hb)) if set(scores[s]["lanes"]) != {"kick"}]
            if both / len(ha | hb) > 0.7 or max(held, default=0) >= 0.85:
                close.append((a, b, round(both / len(ha | hb), 2), [round(v, 2) for v in held]))
    assert not close


def test_no_bass_line_repeats_the_kick(scores):
    for style in scores:
        kicks = pips(lane(scores, style, "kick"))
        for name in sorted(HELD):
            assert [hit[0] for hit in lane(scores, style, name)] != kicks, (style, name)


def test_four_on_the_floor_is_four_equal_kicks_only(scores):
    assert set(scores["four_floor"]["lanes"]) == {"kick"}
    kicks = lane(scores, "four_floor", "kick")
    assert pips(kicks) == [0, 64, 128, 192]
    assert {v for _, v in kicks} == {1.0}


def test_house_backbeat_and_offbeat_hats(scores):
    for style in ("house_classic", "house_shuffle", "house_jack", "ukg_four_four"):
        kicks = pips(lane(scores, style, "kick"))
        assert all(p in kicks for p in range(0, 512, BEAT)), style
    assert pips(lane(scores, "house_classic", "clap")) == [64, 192, 320, 448]
    assert pips(lane(scores, "house_classic", "open_hat")) == list(range(32, 512, BEAT))
    # the jack variant adds quiet kicks and claps between the main ones
    for name in ("kick", "clap"):
        assert any(v < 0.5 for _, v in lane(scores, "house_jack", name)), name


def test_shuffled_hats_sit_late_of_the_grid(scores):
    for style in ("house_shuffle", "house_jack", "ukg_two_step", "ukg_four_four"):
        offgrid = [p for p in pips(lane(scores, style, "closed_hat")) if p % 16]
        assert offgrid and all(1 <= p % 16 <= 8 for p in offgrid), style


def test_two_step_kicks(scores):
    assert pips(lane(scores, "ukg_two_step", "kick")) == [0, 160, 256, 416]
    assert {0, 160, 256, 416} <= set(pips(lane(scores, "dnb_two_step", "kick")))
    for style in ("ukg_two_step", "dnb_two_step"):
        assert pips(lane(scores, style, "snare")) == [64, 192, 320, 448], style


def test_techno_three_step_cycle_closes_after_three_bars(scores):
    perc = pips(lane(scores, "techno_polymeter", "perc"))
    gaps = {(b - a) % 768 for a, b in zip(perc, perc[1:] + perc[:1])}
    assert gaps == {48}
    # the cycle lines up with the bar only at the loop's start
    assert [p for p in perc if p % BAR == 0] == [0]


def test_broken_techno_drops_the_quarter_kick(scores):
    kicks = pips(lane(scores, "techno_broken", "kick"))
    assert not all(p in kicks for p in range(0, 512, BEAT))


def test_drill_grids_and_snares(scores):
    hats = lane(scores, "drill_tresillo", "closed_hat")
    assert all(p % 16 == 0 for p in pips(hats))
    accents = {p % 128 for p, v in hats if v >= 0.6}
    assert accents == {0, 48, 96}
    # the snare moves: bar two does not repeat bar one's
    for style in ("drill_displaced", "drill_rolls", "drill_tresillo"):
        bars = [{p % BAR for p in pips(lane(scores, style, "snare")) if p // BAR == b} for b in (0, 1)]
        assert bars[0] == {128} and bars[1] != bars[0], style
    # the fill is made of real tuplets, which the sixteenth grid cannot hold
    rolls = pips(lane(scores, "drill_rolls", "closed_hat"))
    tuplets = [p for p in rolls if p % 16]
    assert len(tuplets) >= 6
    gaps = {b - a for a, b in zip(rolls, rolls[1:]) if a % 16 or b % 16}
    assert gaps <= {10, 11, 21, 22}


def test_amen_and_its_ghostless_twin(scores):
    amen = scores["amen_four_bar"]["lanes"]
    plain = scores["amen_no_ghosts"]["lanes"]
    ghosts = [hit for hit in amen["snare"] if hit[1] < GHOST]
    assert len(ghosts) >= 8
    assert plain["snare"] == [hit for hit in amen["snare"] if hit[1] >= GHOST]
    assert {k: v for k, v in plain.items() if k != "snare"} == \
        {k: v for k, v in amen.items() if k != "snare"}
    # a four-bar phrase: the last bar differs from the first and ends on a crash
    bars = [[(p % BAR, v) for p, v in amen["snare"] + amen["kick"] if p // BAR == b]
            for b in range(4)]
    assert bars[0] == bars[1] and bars[3] != bars[0] and bars[2] != bars[0]
    assert all(p // BAR == 3 for p, _ in amen["crash"])
    # the held-back snare of bars three and four sits on the and of four, over a kick pair
    assert {736, 992} <= {p for p, v in amen["snare"] if v >= GHOST}
    assert {672, 688, 800, 816} <= set(pips(amen["kick"]))


def test_jungle_switch_halves_its_main_snares(scores):
    main = [p for p, v in lane(scores, "jungle_switch", "snare") if v >= GHOST]
    first = [p for p in main if p < 512]
    last = [p for p in main if p >= 512]
    assert len(last) < len(first)
    assert all(p % BAR == 128 for p in last)


def test_half_time_snares_on_three(scores):
    for style in ("grime_half", "dnb_half", "dubstep_half", "trap_trills"):
        main = [p for p, v in lane(scores, style, "snare") if v >= GHOST]
        assert main == [128, 384], style


def test_offbeat_bass(scores):
    for style in ("trance", "speed_garage"):
        bass = pips(lane(scores, style, "bass"))
        assert bass and all(p % BEAT for p in bass), style
    assert set(range(32, 512, BEAT)) <= set(pips(lane(scores, "trance", "bass")))
    kicks = set(pips(lane(scores, "psy_rolling", "kick")))
    assert not kicks & set(pips(lane(scores, "psy_rolling", "bass")))


def test_dembow_quarter_kicks_and_offbeat_snares(scores):
    for style in ("dembow", "dembow_push"):
        kicks = pips(lane(scores, style, "kick"))
        assert all(p in kicks for p in range(0, 512, BEAT)), style
        snares = pips(lane(scores, style, "snare"))
        assert all(p % BEAT for p in snares), style
        assert {48, 96, 176, 224} <= set(snares), style


def test_son_clave(scores):
    assert pips(lane(scores, "son_clave_32", "clave")) == [0, 96, 192, 320, 384]
    assert pips(lane(scores, "son_clave_23", "clave")) == [64, 128, 256, 352, 448]


def test_one_drop_leaves_the_one_empty(scores):
    kicks = pips(lane(scores, "reggae_one_drop", "kick"))
    assert kicks and all(p % BAR == 128 for p in kicks)
    assert pips(lane(scores, "reggae_rockers", "kick"))[:2] == [0, 128]


def test_jersey_five_kicks_per_bar(scores):
    kicks = pips(lane(scores, "jersey_five", "kick"))
    assert [sum(1 for p in kicks if p // BAR == b) for b in range(2)] == [5, 5]
