"""Positions in [-1, 1] to each protocol's values: OSC floats, DMX pan and tilt, MIDI CC.

A position maps linearly, -1 to the low end and 1 to the high end, and rounds to the nearest
step; values outside [-1, 1] are held at the ends, so no output ever leaves its range.
"""

from __future__ import annotations

from .. import show as shows
from ..rig import Triple


def _unit(value: float) -> float:
    return (min(max(value, -1.0), 1.0) + 1.0) * 0.5


def dmx_values(patch: shows.DmxPatch, out: Triple) -> tuple[int, int]:
    """(pan, tilt) as DMX values of `patch.bits` bits: x drives pan, y drives tilt, each within
    its share of the fixture's range."""
    top = (1 << patch.bits) - 1
    (pan_low, pan_high), (tilt_low, tilt_high) = patch.pan_range, patch.tilt_range
    x, y = min(max(out[0], -1.0), 1.0), min(max(out[1], -1.0), 1.0)
    pan = pan_low + (x + 1.0) * 0.5 * (pan_high - pan_low)
    tilt = tilt_low + (y + 1.0) * 0.5 * (tilt_high - tilt_low)
    return round(pan * top), round(tilt * top)


def dmx_channels(patch: shows.DmxPatch, out: Triple) -> list[tuple[int, int]]:
    """(channel, byte) pairs of a fixture's patch; 16-bit values are coarse then fine."""
    pairs = []
    for first, value in zip((patch.pan, patch.tilt), dmx_values(patch, out)):
        if patch.bits == 16:
            pairs += [(first, value >> 8), (first + 1, value & 0xFF)]
        else:
            pairs.append((first, value))
    return pairs


def midi_values(patch: shows.MidiPatch, out: Triple) -> tuple[int, ...]:
    """One value per patched axis: 0 .. 127, or 0 .. 16383 for 14 bits."""
    top = (1 << patch.bits) - 1
    return tuple(round(_unit(out[axis]) * top) for axis in range(len(patch.cc)))


def midi_messages(patch: shows.MidiPatch, out: Triple) -> list[tuple[int, int]]:
    """(controller, value) pairs; 14 bits send the coarse part on n and the fine on n + 32."""
    pairs = []
    for cc, value in zip(patch.cc, midi_values(patch, out)):
        if patch.bits == 14:
            pairs += [(cc, value >> 7), (cc + 32, value & 0x7F)]
        else:
            pairs.append((cc, value))
    return pairs


def osc_address(output: shows.Output, fixture: shows.Fixture) -> str:
    return fixture.osc_address or f"{output.prefix}/{fixture.name}"


def columns(output: shows.Output) -> tuple[str, ...]:
    """The CSV columns a render adds for an output."""
    if output.kind == "osc":
        return (f"{output.name}.address", f"{output.name}.x", f"{output.name}.y",
                f"{output.name}.z")
    if output.kind == "midi":
        return (f"{output.name}.cc", f"{output.name}.values")
    return (f"{output.name}.pan", f"{output.name}.tilt")


def column_values(output: shows.Output, fixture: shows.Fixture, out: Triple) -> tuple[str, ...]:
    """What the output sends for one fixture, as text; blanks where it sends nothing."""
    if output.kind == "osc":
        return (osc_address(output, fixture),) + tuple(repr(float(v)) for v in out)
    if output.kind == "midi":
        if fixture.midi is None:
            return ("", "")
        return (" ".join(map(str, fixture.midi.cc)),
                " ".join(map(str, midi_values(fixture.midi, out))))
    if fixture.dmx is None or fixture.dmx.universe != output.universe:
        return ("", "")
    return tuple(str(v) for v in dmx_values(fixture.dmx, out))
