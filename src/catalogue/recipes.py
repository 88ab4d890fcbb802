"""Every recipe of the catalogue: the function that computes a row and the data it reads.

The `recipe` column of data/catalogue.tsv names an entry of RECIPES. A recipe's function is
`(row, params) -> samples`; `params` holds the parameters read from the entry's data file
(relative to data/): one TOML file, or a folder of TOML files keyed by file stem, or None
for a recipe that follows from the row alone.
"""

from __future__ import annotations

from collections.abc import Callable
from typing import NamedTuple

from families import (mechanisms_and_linkages, noise, paths_and_outlines, phrases,
                      rhythm_grids, ribbons_and_tubes, sticking, sweeps_and_reaches,
                      waves_and_envelopes)
from families.beat import recipe as beat_studies


class Recipe(NamedTuple):
    compute: Callable[..., list[tuple[float, float, float]]]
    data: str | None


RECIPES: dict[str, Recipe] = {
    "lfo_sine": Recipe(waves_and_envelopes.lfo_sine, None),
    "shaped_wave": Recipe(waves_and_envelopes.shaped_wave, None),
    "wave": Recipe(waves_and_envelopes.wave, "wave.toml"),
    "eased_keys": Recipe(waves_and_envelopes.eased_keys, "eased_keys.toml"),
    "lfo_ratchet": Recipe(waves_and_envelopes.lfo_ratchet, "lfo_ratchet.toml"),
    "lfo_morph": Recipe(waves_and_envelopes.lfo_morph, "lfo_morph.toml"),
    "lfo_flower": Recipe(waves_and_envelopes.lfo_flower, "lfo_flower.toml"),
    "lfo_sweep_ratchet": Recipe(waves_and_envelopes.lfo_sweep_ratchet, "lfo_sweep_ratchet.toml"),
    "lfo_triplet_wobble": Recipe(waves_and_envelopes.lfo_triplet_wobble, "lfo_triplet_wobble.toml"),
    "lfo_breathing_orbit": Recipe(waves_and_envelopes.lfo_breathing_orbit, "lfo_breathing_orbit.toml"),
    "seeded_drift": Recipe(waves_and_envelopes.seeded_drift, "seeded_drift.toml"),
    "lfo_pendulum_dwell": Recipe(waves_and_envelopes.lfo_pendulum_dwell, "lfo_pendulum_dwell.toml"),
    "ease": Recipe(waves_and_envelopes.ease, "ease.toml"),
    "ease_elastic": Recipe(waves_and_envelopes.ease_elastic, "ease_elastic.toml"),
    "akwf": Recipe(waves_and_envelopes.akwf, "akwf.toml"),
    "lissajous": Recipe(paths_and_outlines.lissajous, None),
    "rose": Recipe(paths_and_outlines.rose, None),
    "weave": Recipe(paths_and_outlines.weave, None),
    "spiro": Recipe(paths_and_outlines.spiro, "spiro.toml"),
    "space_weave": Recipe(paths_and_outlines.space_weave, None),
    "orbit_harmonic": Recipe(paths_and_outlines.orbit_harmonic, "orbit_harmonic.toml"),
    "polar_scallop": Recipe(paths_and_outlines.polar_scallop, None),
    "torus_knot": Recipe(paths_and_outlines.torus_knot, None),
    "silhouette": Recipe(paths_and_outlines.silhouette, "silhouette.toml"),
    "bowed_diamond": Recipe(paths_and_outlines.bowed_diamond, "bowed_diamond.toml"),
    "orbit_dwell": Recipe(paths_and_outlines.orbit_dwell, "orbit_dwell.toml"),
    "torus_path": Recipe(paths_and_outlines.torus_path, "torus_path.toml"),
    "woven_3d": Recipe(paths_and_outlines.woven_3d, "woven_3d.toml"),
    "tour": Recipe(paths_and_outlines.tour, "tour.toml"),
    "contour": Recipe(paths_and_outlines.contour, "contour.toml"),
    "spline": Recipe(paths_and_outlines.spline, "spline.toml"),
    "scan": Recipe(sweeps_and_reaches.scan, "scan.toml"),
    "reach": Recipe(sweeps_and_reaches.reach, "reach.toml"),
    "slider_crank": Recipe(mechanisms_and_linkages.slider_crank, "slider_crank.toml"),
    "mech": Recipe(mechanisms_and_linkages.mech, "mech.toml"),
    "arm": Recipe(mechanisms_and_linkages.arm, "arm.toml"),
    "euclid": Recipe(rhythm_grids.euclid, None),
    "meter": Recipe(rhythm_grids.meter, None),
    "swing": Recipe(rhythm_grids.swing, "swing.toml"),
    "poly": Recipe(rhythm_grids.poly, None),
    "ladder": Recipe(rhythm_grids.ladder, "ladder.toml"),
    "necklace": Recipe(rhythm_grids.necklace, "necklace.toml"),
    "accent": Recipe(rhythm_grids.accent, "accent.toml"),
    "triplet": Recipe(rhythm_grids.triplet, "triplet.toml"),
    "rhythm_euclid": Recipe(rhythm_grids.rhythm_euclid, "rhythm_euclid.toml"),
    "cross_rhythm": Recipe(rhythm_grids.cross_rhythm, "cross_rhythm.toml"),
    "half_time": Recipe(rhythm_grids.scored_events, "half_time.toml"),
    "swung_answer": Recipe(rhythm_grids.scored_events, "swung_answer.toml"),
    "eighth_groups": Recipe(rhythm_grids.eighth_groups, "eighth_groups.toml"),
    "groove": Recipe(rhythm_grids.groove, "groove.toml"),
    "dwell": Recipe(phrases.dwell, "dwell.toml"),
    "packet": Recipe(phrases.packet, "packet.toml"),
    "canon": Recipe(phrases.canon, "canon.toml"),
    "echo": Recipe(phrases.echo, "echo.toml"),
    "dialogue": Recipe(phrases.dialogue, "dialogue.toml"),
    "burst": Recipe(phrases.burst, "burst.toml"),
    "gesture": Recipe(phrases.gesture, "gesture.toml"),
    "seq": Recipe(phrases.seq, "seq.toml"),
    "stick": Recipe(sticking.stick, "stick.toml"),
    "sticking": Recipe(sticking.sticking, "sticking.toml"),
    "flam_accent": Recipe(sticking.flam_accent, "flam_accent.toml"),
    "noise": Recipe(noise.noise, "noise.toml"),
    "ribbon": Recipe(ribbons_and_tubes.ribbon, "ribbon.toml"),
    "surface": Recipe(ribbons_and_tubes.surface, "surface.toml"),
    "braid": Recipe(ribbons_and_tubes.braid, "braid.toml"),
    "beat": Recipe(beat_studies.beat, "beat/"),
}
