"""Authored shaped control waves: single-axis loops described by a few shape parameters."""

from __future__ import annotations

import math

from catalogue_data import RecipeMissing

from ._common import TAU, plain_sum, scale_to_peak

sin, cos, sqrt = math.sin, math.cos, math.sqrt


def _soft_rectifier(t, p):
    # 0.5 * (s + |s|) with |s| softened to sqrt(s^2 + knee^2); the rest line is held at 0.
    s, knee = sin(t), p["knee"]
    return 0.5 * (s + sqrt(s * s + knee * knee)) - 0.5 * knee


def _scoop_warp(t, p):
    # An early crest, then a flat-bottomed bowl under the rest line on the way back.
    bowl = sin(0.5 * t) ** 4
    return sin(t + p["warp"] * sin(t)) - p["scoop"] * bowl


def _soft_teeth(t, p):
    tooth = plain_sum((-1) ** (j + 1) * p["rounding"] ** (j - 1) * sin(3 * j * t) / j
                for j in range(1, p["harmonics"] + 1))
    return tooth * (1 + p["sway"] * cos(t))


def _warped_fold(t, p):
    return sin(p["gain"] * (sin(t + p["warp"] * sin(t)) + p["bias"]))


SHAPES = {
    "wave_soft_rectifier": _soft_rectifier,
    "wave_scoop_warp": _scoop_warp,
    "wave_soft_teeth": _soft_teeth,
    "wave_warped_fold": _warped_fold,
}


def wave(row, data):
    shape, params = SHAPES.get(row.name), data.get(row.name)
    if shape is None or params is None:
        raise RecipeMissing(row.name)
    n = row.period_pips
    return scale_to_peak([(shape(TAU * k / n, params), 0.0, 0.0) for k in range(n)])


RECIPES = {"wave": wave}
