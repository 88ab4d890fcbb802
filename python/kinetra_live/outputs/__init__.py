"""Outputs: how a frame leaves for OSC, DMX over the network (sACN, Art-Net) and MIDI.

`mapping` turns positions into each protocol's values with the standard library alone (so a
render can show them); the senders, which need the `live` extra, are imported only when a show
opens them.
"""

from __future__ import annotations

import importlib

from .. import show as shows

SENDERS = {"osc": ("kinetra_live.outputs.osc", "OscSender"),
           "sacn": ("kinetra_live.outputs.dmx", "DmxSender"),
           "artnet": ("kinetra_live.outputs.dmx", "DmxSender"),
           "midi": ("kinetra_live.outputs.midi", "MidiSender")}


def open_output(show: shows.Show, output: shows.Output):
    """A sender with `send(frame)`, `park()`, `blackout()` and `close()`."""
    module_name, class_name = SENDERS[output.kind]
    try:
        module = importlib.import_module(module_name)
    except ImportError as exc:
        raise RuntimeError(f"output {output.name!r} needs the live extra "
                           f"(pip install \"kinetra[live]\"): {exc}") from None
    return getattr(module, class_name)(show, output)
