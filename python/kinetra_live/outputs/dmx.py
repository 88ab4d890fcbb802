"""DMX over the network: one universe on one node, sACN (E1.31) with sacn, Art-Net with pyartnet.

Both send the universe once a frame on the caller's thread, so packets leave exactly at the
show's frame rate, in step with the clock. sacn names its source (after the show) and ends its
stream with stream-terminated packets when the output closes, so receivers let go at once
instead of holding the last look until their timeout. sacn's own socket sends from a thread
of its own and only to port 5568; the one here is sacn's documented way to replace it, and
sends each packet as the frame asks to the show's host and port.
"""

from __future__ import annotations

import asyncio
import socket
import time

import sacn
from pyartnet import ArtNetNode
from sacn.sending.sender_socket_base import SenderSocketBase

from .. import show as shows
from . import degrees, mapping

CENTRE = (0.0, 0.0, 0.0)
SOURCE_NAME_BYTES = 63


def source_name(show: shows.Show) -> str:
    """The show's name as an sACN source: its file's stem, cut to what a packet holds."""
    name = show.path.stem if show.path is not None else "kinetra"
    while len(name.encode("utf-8")) > SOURCE_NAME_BYTES:
        name = name[:-1]
    return name or "kinetra"


def _patched(show: shows.Show, output: shows.Output):
    """(fixture name, patch, park) of each fixture this output's universe carries."""
    return [(f.name, f.dmx, f.park) for f in show.fixtures
            if f.dmx is not None and f.dmx.universe == output.universe]


class _FrameSocket(SenderSocketBase):
    """A socket for sacn's sender that sends only when the frame asks, to one node."""

    def __init__(self, listener, host: str, port: int):
        super().__init__(listener=listener)
        family, kind, proto, _, target = socket.getaddrinfo(
            host, port, 0, socket.SOCK_DGRAM)[0]
        self._socket = socket.socket(family, kind, proto)
        self._target = target

    def tick(self) -> None:
        self._listener.on_periodic_callback(time.time())

    def start(self) -> None:
        pass

    def stop(self) -> None:
        self._socket.close()

    def send_unicast(self, data, destination: str) -> None:
        self._socket.sendto(bytes(data.getBytes()), self._target)

    # The sender is unicast, without discovery or sync: the node is the only target.
    def send_multicast(self, data, destination: str, ttl: int) -> None:
        raise OSError("this sACN output sends to its node only")

    def send_broadcast(self, data) -> None:
        raise OSError("this sACN output sends to its node only")


class SacnSender:
    def __init__(self, show: shows.Show, output: shows.Output):
        self.output = output
        self._patched = _patched(show, output)
        self._socket = _FrameSocket(None, output.address, output.port)
        self._sender = sacn.sACNsender(source_name=source_name(show), universeDiscovery=False,
                                       fps=show.fps, socket=self._socket)
        # sacn's sender does not introduce itself to a socket it is given (its own tests wire
        # it by hand, too); the socket calls it back on each frame's tick
        self._socket._listener = self._sender._sender_handler
        self._sender.activate_output(output.universe)
        self._universe = self._sender[output.universe]
        self._universe.multicast = False
        self._universe.destination = output.address
        self._heads = degrees.HeadRig(show, show.fps).universe(output.universe)
        self._data = bytearray(max([_last_channel(p) for _, p, _ in self._patched]
                                   + self._heads.channels, default=0))
        # (index in a frame, patch) of each fixture this universe carries
        order = {f.name: index for index, f in enumerate(show.fixtures)}
        self._slots = [(order[name], patch) for name, patch, _ in self._patched]

    def _write(self, positions, head_bytes=()) -> None:
        data, values = self._data, mapping.dmx_values
        for channel, byte in head_bytes:
            data[channel - 1] = byte
        for patch, out in positions:
            pan, tilt = values(patch, out)
            if patch.bits == 16:
                data[patch.pan - 1:patch.pan + 1] = pan.to_bytes(2, "big")
                data[patch.tilt - 1:patch.tilt + 1] = tilt.to_bytes(2, "big")
            else:
                data[patch.pan - 1], data[patch.tilt - 1] = pan, tilt
        self._universe.dmx_data = tuple(data)
        self._socket.tick()

    def send(self, frame) -> None:
        states = frame.fixtures
        self._write(((patch, states[index].out) for index, patch in self._slots),
                    self._heads.send(frame))

    def park(self) -> None:
        self._write(((patch, park) for _, patch, park in self._patched), self._heads.park())

    def blackout(self) -> None:
        self._write(((patch, CENTRE) for _, patch, _ in self._patched), self._heads.blackout())

    def close(self) -> None:
        try:
            self._sender.deactivate_output(self.output.universe)   # three terminated packets
        finally:
            self._socket.stop()


def _last_channel(patch: shows.DmxPatch) -> int:
    return max(patch.pan, patch.tilt) + patch.bits // 8 - 1


class ArtNetSender:
    """pyartnet sends from asyncio tasks; this sender keeps a private event loop and sends the
    universe itself once a frame (`send_data`), whatever pyartnet's own pacing would be."""

    def __init__(self, show: shows.Show, output: shows.Output):
        self.output = output
        self._loop = asyncio.new_event_loop()
        self._node = ArtNetNode.create(output.address, output.port, max_fps=show.fps)
        self._universe = self._node.add_universe(output.universe)
        # name -> (patch, pan channel, tilt channel, park position)
        self._patched = {}
        for name, patch, park in _patched(show, output):
            size = patch.bits // 8
            self._patched[name] = (
                patch,
                self._universe.add_channel(patch.pan, 1, byte_size=size, byte_order="big"),
                self._universe.add_channel(patch.tilt, 1, byte_size=size, byte_order="big"),
                park)
        # (index in a frame, name) of each fixture this universe carries
        self._slots = [(index, f.name) for index, f in enumerate(show.fixtures)
                       if f.name in self._patched]
        # moving heads: one byte channel each, since a fine channel need not follow its coarse
        self._heads = degrees.HeadRig(show, show.fps).universe(output.universe)
        self._head_channels = {channel: self._universe.add_channel(channel, 1)
                               for channel in self._heads.channels}
        self._loop.run_until_complete(self._open())

    async def _open(self) -> None:
        await self._node.__aenter__()
        # every frame sends the universe; pyartnet's refresh would first send it all zero
        await self._node.stop_refresh()

    async def _write(self, positions, head_bytes=()) -> None:
        for channel, byte in head_bytes:
            self._head_channels[channel].set_values((byte,))
        patched, values = self._patched, mapping.dmx_values
        for name, out in positions:
            patch, pan, tilt, _ = patched[name]
            pan_value, tilt_value = values(patch, out)
            pan.set_values((pan_value,))
            tilt.set_values((tilt_value,))
        self._universe.send_data()

    def send(self, frame) -> None:
        states = frame.fixtures
        self._loop.run_until_complete(self._write(
            ((name, states[index].out) for index, name in self._slots), self._heads.send(frame)))

    def park(self) -> None:
        self._loop.run_until_complete(self._write(
            ((name, entry[3]) for name, entry in self._patched.items()), self._heads.park()))

    def blackout(self) -> None:
        # a head from a profile rests at the middle of its ranges, within its limits
        self._loop.run_until_complete(self._write(((name, CENTRE) for name in self._patched),
                                                  self._heads.blackout()))

    def close(self) -> None:
        self._loop.run_until_complete(self._node.__aexit__(None, None, None))
        self._loop.close()
