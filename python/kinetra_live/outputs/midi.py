"""MIDI control change with mido: 7-bit, or 14-bit as coarse and fine controller pairs.

Only controllers whose value changed are sent, so a still fixture costs no MIDI bandwidth
(a 31.25 kbaud cable carries about a thousand messages a second).
"""

from __future__ import annotations

import mido

from .. import show as shows
from . import mapping


class MidiSender:
    def __init__(self, show: shows.Show, output: shows.Output):
        self.output = output
        self._names = tuple(f.name for f in show.fixtures)
        self._patched = {f.name: (f.midi, f.park) for f in show.fixtures if f.midi is not None}
        self._port = mido.open_output(output.address)
        self._last: dict[tuple[int, int], int] = {}

    def _write(self, positions, force: bool = False) -> None:
        for name, out in positions:
            entry = self._patched.get(name)
            if entry is None:
                continue
            patch = entry[0]
            for control, value in mapping.midi_messages(patch, out):
                key = (patch.channel, control)
                if force or self._last.get(key) != value:
                    self._last[key] = value
                    self._port.send(mido.Message("control_change", channel=patch.channel - 1,
                                                 control=control, value=value))

    def send(self, frame) -> None:
        self._write(zip(self._names, frame.outs))

    def park(self) -> None:
        self._write(((name, park) for name, (_, park) in self._patched.items()), force=True)

    def blackout(self) -> None:
        # the centre, as every output blacks out: not the controllers' lowest values
        self._write(((name, (0.0, 0.0, 0.0)) for name in self._patched), force=True)

    def close(self) -> None:
        self._port.close()
