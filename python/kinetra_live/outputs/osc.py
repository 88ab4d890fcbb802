"""OSC over UDP with python-osc: one message of three floats (x, y, z) per fixture a frame,
sent one datagram a message or gathered into bundles.

A fixture's address and type tags never change, so they are encoded once (with python-osc's
own encoders) and a frame only packs three floats a fixture: building each message anew cost
more than everything else of a 512-fixture frame. Bundles (`bundle = true` on the output, the
default above `BUNDLE_ABOVE` fixtures) are cut at `DATAGRAM_BYTES`, so each fits one Ethernet
frame: no IP fragments, and no receiver's buffer is overrun.
"""

from __future__ import annotations

import struct
from typing import NamedTuple

from pythonosc.osc_bundle_builder import IMMEDIATELY
from pythonosc.parsing import osc_types
from pythonosc.udp_client import UDPClient

from .. import show as shows
from . import mapping

BUNDLE_ABOVE = 16
DATAGRAM_BYTES = 1400
BUNDLE_HEAD = osc_types.write_string("#bundle") + osc_types.write_date(IMMEDIATELY)
XYZ = struct.Struct(">fff")     # three float arguments, as osc_types.write_float writes each


class _Datagram(NamedTuple):
    dgram: bytes                # what UDPClient.send sends


class OscSender:
    def __init__(self, show: shows.Show, output: shows.Output):
        self.output = output
        self._client = UDPClient(output.address, output.port)
        self._heads = {f.name: osc_types.write_string(mapping.osc_address(output, f))
                       + osc_types.write_string(",fff") for f in show.fixtures}
        self._names = tuple(f.name for f in show.fixtures)
        self._park = [(f.name, f.park) for f in show.fixtures]
        self.bundle = (len(show.fixtures) > BUNDLE_ABOVE if output.bundle is None
                       else output.bundle)

    def _send(self, positions) -> None:
        heads, pack, send = self._heads, XYZ.pack, self._client.send
        if not self.bundle:
            for name, (x, y, z) in positions:
                send(_Datagram(heads[name] + pack(x, y, z)))
            return
        parts, size = [BUNDLE_HEAD], len(BUNDLE_HEAD)
        for name, (x, y, z) in positions:
            message = heads[name] + pack(x, y, z)
            if size + 4 + len(message) > DATAGRAM_BYTES and len(parts) > 1:
                send(_Datagram(b"".join(parts)))
                parts, size = [BUNDLE_HEAD], len(BUNDLE_HEAD)
            parts += (osc_types.write_int(len(message)), message)
            size += 4 + len(message)
        if len(parts) > 1:
            send(_Datagram(b"".join(parts)))

    def send(self, frame) -> None:
        self._send(zip(self._names, frame.outs))

    def park(self) -> None:
        self._send(self._park)

    def blackout(self) -> None:
        self._send((name, (0.0, 0.0, 0.0)) for name, _ in self._park)

    def close(self) -> None:
        self._client.close()
