"""Single-axis waves by closed formula: the reference sine and the shaped waves."""

from __future__ import annotations

import math

from ._common import TAU, scale_to_peak

sin, cos, tanh = math.sin, math.cos, math.tanh


def lfo_sine(row, data):
    p = row.period_pips
    return [(0.8 * sin(TAU * k / p), 0.0, 0.0) for k in range(p)]


# Raw shapes of the angle; each row is scaled so that its largest sample peaks at 0.82.
SHAPES = {
    "wave_pinched": lambda t: sin(t) * sin(t) * sin(t),
    "wave_shouldered": lambda t: 0.69 * sin(t) + 0.31 * sin(3 * t),
    "wave_folded": lambda t: sin(2.2 * sin(t)),
    "wave_double_fold": lambda t: sin(3.8 * sin(t)),
    "wave_rounded_square": lambda t: tanh(2 * sin(t)),
    "wave_skew_warp": lambda t: sin(t + 0.7 * sin(t)),
    "wave_shelf_wave": lambda t: tanh(2 * sin(t)) + 0.23 * sin(3 * t + 0.4),
    "wave_notched": lambda t: sin(t) - 0.36 * sin(3 * t) + 0.12 * cos(5 * t),
    "wave_bottle": lambda t: sin(t) / (1 + 0.9 * cos(t) * cos(t)),
    "wave_reed": lambda t: sin(t) * (0.85 + 0.4 * cos(7 * t)),
    "wave_unequal_peaks": lambda t: 0.67 * sin(t) + 0.4 * sin(2 * t + 0.8),
    "wave_ripple_return": lambda t: sin(t) + 0.09 * sin(5 * t) * (1 + cos(t)),
}


def shaped_wave(row, data):
    shape = SHAPES[row.name]
    p = row.period_pips
    return scale_to_peak([(shape(TAU * k / p), 0.0, 0.0) for k in range(p)])


RECIPES = {"lfo_sine": lfo_sine, "shaped_wave": shaped_wave}
