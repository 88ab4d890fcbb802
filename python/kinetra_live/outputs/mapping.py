"""Positions in [-1, 1] to each protocol's values: OSC floats, DMX pan and tilt, MIDI CC.

A position maps linearly, -1 to the low end and 1 to the high end, and rounds to the nearest
step; values outside [-1, 1] are held at the ends, so no output ever leaves its range.
"""

from __future__ import annotations

import functools
import struct

from .. import show as shows
from ..rig import Triple


def _unit(value: float) -> float:
    return (min(max(value, -1.0), 1.0) + 1.0) * 0.5


class DmxLayout:
    """Fixtures' pan and tilt on DMX patches of one universe, mapped a frame at a time: each
    patch's constants are read once, and the values of a frame are packed into the universe's
    bytes in one call (16-bit values big-endian, coarse then fine).

    `placed` is (index in a frame's outs, patch) for each fixture; patches must not share a
    channel, as the show file guarantees within a universe."""

    __slots__ = ("_constants", "_struct", "_offset", "_order")

    def __init__(self, placed):
        placed = list(placed)
        # x = -1 .. 1 lands on [low, low + width] of the full DMX span
        self._constants = [(index, patch.pan_range[0], patch.pan_range[1] - patch.pan_range[0],
                            patch.tilt_range[0], patch.tilt_range[1] - patch.tilt_range[0],
                            (1 << patch.bits) - 1) for index, patch in placed]
        # (first byte, struct code, place in a frame's values) of every value, by channel
        fields = sorted((first - 1, "H" if patch.bits == 16 else "B", 2 * k + axis)
                        for k, (_, patch) in enumerate(placed)
                        for axis, first in enumerate((patch.pan, patch.tilt)))
        self._offset = fields[0][0] if fields else 0
        codes, end = [">"], self._offset
        for first, code, _ in fields:
            codes.append("x" * (first - end) + code)
            end = first + (2 if code == "H" else 1)
        self._struct = struct.Struct("".join(codes))
        order = [place for _, _, place in fields]
        self._order = None if order == sorted(order) else order

    @property
    def size(self) -> int:
        """Bytes up to the last channel the fixtures use."""
        return self._offset + self._struct.size

    def values(self, outs) -> list[int]:
        """pan, tilt, pan, tilt, ... of the placed fixtures, as DMX values of their bits; an
        axis outside [-1, 1] is held at the end of its range."""
        values = []
        append = values.append
        for index, pan_low, pan_width, tilt_low, tilt_width, top in self._constants:
            x, y, _ = outs[index]
            x = -1.0 if x < -1.0 else 1.0 if x > 1.0 else x
            y = -1.0 if y < -1.0 else 1.0 if y > 1.0 else y
            append(round((pan_low + (x + 1.0) * 0.5 * pan_width) * top))
            append(round((tilt_low + (y + 1.0) * 0.5 * tilt_width) * top))
        return values

    def write(self, data: bytearray, outs) -> None:
        """Pack a frame's values into `data`, a universe's bytes (channel 1 first); channels
        between the fixtures' are set to 0."""
        values = self.values(outs)
        if self._order is not None:
            values = [values[place] for place in self._order]
        self._struct.pack_into(data, self._offset, *values)


@functools.lru_cache(maxsize=4096)
def _layout_of(patch: shows.DmxPatch) -> DmxLayout:
    return DmxLayout([(0, patch)])


def dmx_values(patch: shows.DmxPatch, out: Triple) -> tuple[int, int]:
    """(pan, tilt) as DMX values of `patch.bits` bits: x drives pan, y drives tilt, each within
    its share of the fixture's range."""
    pan, tilt = _layout_of(patch).values((out,))
    return pan, tilt


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
