"""Outputs: how a frame leaves for OSC, DMX over the network (sACN, Art-Net) and MIDI.

`mapping` turns positions into each protocol's values with the standard library alone (so a
render can show them); the senders, which need the `live` extra, are imported only when a show
opens them. `check_output` finds an address that cannot work before anything is opened.
"""

from __future__ import annotations

import contextlib
import importlib
import os
import socket
import sys

from .. import show as shows
from ..quoting import quote

SENDERS = {"osc": ("kinetra_live.outputs.osc", "OscSender"),
           "sacn": ("kinetra_live.outputs.dmx", "SacnSender"),
           "artnet": ("kinetra_live.outputs.dmx", "ArtNetSender"),
           "midi": ("kinetra_live.outputs.midi", "MidiSender")}
LIVE_EXTRA = "pip install \"kinetra[live]\""


class OutputError(ValueError):
    """An output that cannot be used here; the message says why."""


@contextlib.contextmanager
def _quiet_stderr():
    # The MIDI system's C library writes its complaints straight to file descriptor 2.
    sys.stderr.flush()
    saved = os.dup(2)
    try:
        with open(os.devnull, "w") as null:
            os.dup2(null.fileno(), 2)
        yield
    finally:
        os.dup2(saved, 2)
        os.close(saved)


def midi_ports(direction: str) -> list[str]:
    """The names of this machine's MIDI "input" or "output" ports."""
    try:
        import mido
    except ImportError as exc:
        raise OutputError(f"MIDI needs the live extra ({LIVE_EXTRA}): {exc}") from None
    try:
        with _quiet_stderr():
            return list(mido.get_input_names() if direction == "input"
                        else mido.get_output_names())
    except (OSError, RuntimeError) as exc:
        raise OutputError(f"no MIDI system here: {quote(str(exc), 80)}") from None


def check_midi_port(name: str | None, direction: str) -> None:
    ports = midi_ports(direction)
    if name is None:
        if not ports:
            raise OutputError(f"no MIDI {direction} port on this machine")
    elif name not in ports:
        listed = ", ".join(map(quote, ports[:8])) or "none"
        raise OutputError(f"no MIDI {direction} port {quote(name)} (ports here: {listed})")


def check_output(output: shows.Output) -> None:
    """Raise OutputError if the output cannot work from here: a host that does not resolve
    or a MIDI port that is not there."""
    if output.kind == "midi":
        check_midi_port(output.address, "output")
        return
    try:
        socket.getaddrinfo(output.address, output.port, socket.AF_INET, socket.SOCK_DGRAM)
    except socket.gaierror as exc:
        raise OutputError(f"cannot resolve {quote(output.address)}: {exc.strerror}") from None
    except (OSError, ValueError) as exc:
        raise OutputError(f"cannot resolve {quote(output.address)}: "
                          f"{quote(str(exc), 80)}") from None


def open_output(show: shows.Show, output: shows.Output):
    """A sender with `send(frame)`, `park()`, `blackout()` and `close()`."""
    module_name, class_name = SENDERS[output.kind]
    try:
        module = importlib.import_module(module_name)
    except ImportError as exc:
        raise OutputError(f"needs the live extra ({LIVE_EXTRA}): {exc}") from None
    return getattr(module, class_name)(show, output)
