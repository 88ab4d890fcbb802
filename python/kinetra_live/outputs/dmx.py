"""DMX over the network: one universe on one node, sACN (E1.31) with sacn, Art-Net with pyartnet.

Both send the universe once a frame on the caller's thread, so packets leave exactly at the
show's frame rate, in step with the clock. sacn names its source (after the show) and ends its
stream with stream-terminated packets when the output closes, so receivers let go at once
instead of holding the last look until their timeout. sacn's own socket sends from a thread
of its own and only to port 5568; the one here is sacn's documented way to replace it, and
sends each packet as the frame asks to the show's host and port.

Each output packs its universe's bytes itself (`mapping.DmxLayout`, then the heads' bytes),
once a frame, into a buffer that is always 512 valid DMX values.
"""

from __future__ import annotations

import asyncio
import socket
import struct
import time

import sacn
from pyartnet import ArtNetNode
from sacn.sending.sender_socket_base import SenderSocketBase

from .. import show as shows
from . import degrees, mapping

CENTRE = (0.0, 0.0, 0.0)
SOURCE_NAME_BYTES = 63
DMX_SLOTS = 512


def source_name(show: shows.Show) -> str:
    """The show's name as an sACN source: its file's stem, cut to what a packet holds."""
    name = show.path.stem if show.path is not None else "kinetra"
    while len(name.encode("utf-8")) > SOURCE_NAME_BYTES:
        name = name[:-1]
    return name or "kinetra"


def _layout(show: shows.Show, output: shows.Output) -> mapping.DmxLayout:
    """The pan and tilt of each fixture this output's universe carries, by its index in a
    frame."""
    return mapping.DmxLayout((index, f.dmx) for index, f in enumerate(show.fixtures)
                             if f.dmx is not None and f.dmx.universe == output.universe)


class _FrameSocket(SenderSocketBase):
    """A socket for sacn's sender that sends only when the frame asks, to one node.

    sacn builds each packet's header (sequence, options, source, universe); the DMX slots
    come from `slots`, which the sender packs with values already in range, so sacn's check
    of each value on assignment (about 45 us a universe) is never paid."""

    def __init__(self, host: str, port: int):
        super().__init__(listener=None)
        family, kind, proto, _, target = socket.getaddrinfo(
            host, port, 0, socket.SOCK_DGRAM)[0]
        self._socket = socket.socket(family, kind, proto)
        self._target = target
        self.slots = bytearray(DMX_SLOTS)

    def start(self) -> None:
        pass

    def stop(self) -> None:
        self._socket.close()

    def send_unicast(self, data, destination: str) -> None:
        # the packet sacn builds carries its own 512 slots, all 0, last
        self._socket.sendto(bytes(data.getBytes()[:-DMX_SLOTS]) + self.slots, self._target)

    # The sender is unicast, without discovery or sync: the node is the only target.
    def send_multicast(self, data, destination: str, ttl: int) -> None:
        raise OSError("this sACN output sends to its node only")

    def send_broadcast(self, data) -> None:
        raise OSError("this sACN output sends to its node only")


class _UniverseSender:
    """What both DMX senders do a frame: write the fixtures' patched channels and the heads'
    bytes into the universe's slots (`_slots`), then send them (`_flush`)."""

    def _patch(self, show: shows.Show, output: shows.Output) -> None:
        self._layout = _layout(show, output)
        self._parks = tuple(f.park for f in show.fixtures)
        self._heads = degrees.HeadRig(show, show.fps).universe(output.universe)

    def send(self, frame) -> None:
        self._layout.write(self._slots, frame.outs)
        self._heads.send(self._slots, frame)
        self._flush()

    def park(self) -> None:
        self._layout.write(self._slots, self._parks)
        self._heads.park(self._slots)
        self._flush()

    def blackout(self) -> None:
        # a head from a profile rests at the middle of its ranges, within its limits
        self._layout.write(self._slots, (CENTRE,) * len(self._parks))
        self._heads.blackout(self._slots)
        self._flush()


class SacnSender(_UniverseSender):
    def __init__(self, show: shows.Show, output: shows.Output):
        self.output = output
        self._socket = _FrameSocket(output.address, output.port)
        self._sender = sacn.sACNsender(source_name=source_name(show), universeDiscovery=False,
                                       fps=show.fps, socket=self._socket)
        self._sender.activate_output(output.universe)
        self._universe = self._sender[output.universe]
        self._universe.multicast = False
        self._universe.destination = output.address
        if len(self._universe.dmx_data) != DMX_SLOTS:
            raise RuntimeError("this sacn does not send 512 slots a packet")
        # sacn's send of one packet, which its own thread would call
        self._send_out = self._sender._sender_handler.send_out
        self._patch(show, output)
        self._slots = self._socket.slots

    def _flush(self) -> None:
        self._send_out(self._universe, time.time())

    def close(self) -> None:
        try:
            self._sender.deactivate_output(self.output.universe)   # three terminated packets
        finally:
            self._socket.stop()


class ArtNetSender(_UniverseSender):
    """pyartnet sends from asyncio tasks; this sender keeps a private event loop and sends the
    universe itself once a frame (`send_data`), whatever pyartnet's own pacing would be.

    The universe's bytes are packed here as sACN's are, and set a frame as one pyartnet
    channel of big-endian 16-bit words: a channel per value would cost a call each, and
    pyartnet checks and copies each word in Python, so words cost half what bytes would. A
    pyartnet universe is a whole number of words long anyway."""

    def __init__(self, show: shows.Show, output: shows.Output):
        self.output = output
        self._loop = asyncio.new_event_loop()
        self._node = ArtNetNode.create(output.address, output.port, max_fps=show.fps)
        self._universe = self._node.add_universe(output.universe)
        self._patch(show, output)
        words = (max([self._layout.size] + self._heads.channels, default=0) + 1) // 2
        self._slots = bytearray(2 * words)
        self._words = struct.Struct(f">{words}H")
        self._channel = (self._universe.add_channel(1, words, byte_size=2, byte_order="big")
                         if words else None)
        self._loop.run_until_complete(self._open())

    async def _open(self) -> None:
        await self._node.__aenter__()
        # every frame sends the universe; pyartnet's refresh would first send it all zero
        await self._node.stop_refresh()

    async def _send(self) -> None:
        if self._channel is not None:
            self._channel.set_values(self._words.unpack(self._slots))
        self._universe.send_data()

    def _flush(self) -> None:
        self._loop.run_until_complete(self._send())

    def close(self) -> None:
        self._loop.run_until_complete(self._node.__aexit__(None, None, None))
        self._loop.close()
