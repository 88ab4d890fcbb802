"""OSC over UDP with python-osc: one message of three floats (x, y, z) per fixture a frame."""

from __future__ import annotations

from pythonosc.osc_message_builder import OscMessageBuilder
from pythonosc.udp_client import UDPClient

from .. import show as shows
from . import mapping


class OscSender:
    def __init__(self, show: shows.Show, output: shows.Output):
        self.output = output
        self._client = UDPClient(output.address, output.port)
        self._addresses = {f.name: mapping.osc_address(output, f) for f in show.fixtures}
        self._park = {f.name: f.park for f in show.fixtures}

    def _send(self, address: str, xyz) -> None:
        builder = OscMessageBuilder(address)
        for value in xyz:
            builder.add_arg(float(value), OscMessageBuilder.ARG_TYPE_FLOAT)
        self._client.send(builder.build())

    def send(self, frame) -> None:
        addresses = self._addresses
        for state in frame.fixtures:
            self._send(addresses[state.name], state.out)

    def park(self) -> None:
        for name, address in self._addresses.items():
            self._send(address, self._park[name])

    def blackout(self) -> None:
        for address in self._addresses.values():
            self._send(address, (0.0, 0.0, 0.0))

    def close(self) -> None:
        self._client.close()
