"""DMX over the network with pyartnet: one universe on one node, sACN (E1.31) or Art-Net.

pyartnet sends from asyncio tasks; this sender keeps a private event loop and sends the
universe itself once a frame (`send_data` on the caller's thread), so packets leave exactly at
the show's frame rate, in step with the clock, whatever pyartnet's own pacing would be.
"""

from __future__ import annotations

import asyncio

from pyartnet import ArtNetNode, SacnNode

from .. import show as shows
from . import degrees, mapping

NODES = {"sacn": SacnNode, "artnet": ArtNetNode}


class DmxSender:
    def __init__(self, show: shows.Show, output: shows.Output):
        self.output = output
        self._loop = asyncio.new_event_loop()
        self._node = NODES[output.kind].create(output.address, output.port, max_fps=show.fps)
        self._universe = self._node.add_universe(output.universe)
        # name -> (patch, pan channel, tilt channel, park position)
        self._patched = {}
        for fixture in show.fixtures:
            patch = fixture.dmx
            if patch is None or patch.universe != output.universe:
                continue
            size = patch.bits // 8
            self._patched[fixture.name] = (
                patch,
                self._universe.add_channel(patch.pan, 1, byte_size=size, byte_order="big"),
                self._universe.add_channel(patch.tilt, 1, byte_size=size, byte_order="big"),
                fixture.park)
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
        patched = self._patched
        for name, out in positions:
            entry = patched.get(name)
            if entry is None:
                continue
            patch, pan, tilt, _ = entry
            if out is None:
                pan.set_values((0,))
                tilt.set_values((0,))
            else:
                pan_value, tilt_value = mapping.dmx_values(patch, out)
                pan.set_values((pan_value,))
                tilt.set_values((tilt_value,))
        self._universe.send_data()

    def send(self, frame) -> None:
        self._loop.run_until_complete(self._write(
            ((s.name, s.out) for s in frame.fixtures), self._heads.send(frame)))

    def park(self) -> None:
        self._loop.run_until_complete(self._write(
            ((name, entry[3]) for name, entry in self._patched.items()), self._heads.park()))

    def blackout(self) -> None:
        # the universe holds only patched channels, so this zeroes all of it; a head from a
        # profile rests at the middle of its ranges, within its limits
        self._loop.run_until_complete(self._write(((name, None) for name in self._patched),
                                                  self._heads.blackout()))

    def close(self) -> None:
        self._loop.run_until_complete(self._node.__aexit__(None, None, None))
        self._loop.close()
