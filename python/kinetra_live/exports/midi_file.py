"""A render as a standard MIDI file (type 1), for a DAW beside the track.

Track 0 holds the show's tempo map: a set-tempo event at the exact tick of each change, at
`ticks_per_beat` (960, or the least multiple of it on which every change's beat falls), each
tempo rounded once to whole microseconds a beat. Then one track a fixture with a `midi`
patch, named after it: its controllers on its channel, at the tick of each frame's beat
(rounded to the nearest tick), sent only when a value changes; a 14-bit value changes as a
pair, coarse on n then fine on n + 32. The values are those the show's MIDI output sends
(its delay and the fixture's lead included), as the render's CSV shows them.

Memory does not grow with the length: each track's events are spooled in chunks to an
unnamed scratch file beside the target, and the tracks are copied out in turn at the end.
"""

from __future__ import annotations

import math
import struct
import tempfile
from fractions import Fraction
from pathlib import Path

import mido
from mido.midifiles.meta import encode_variable_int

from .. import show as shows
from ..outputs import mapping
from . import ExportError

TICKS_PER_BEAT = 960            # every pip (a 64th of a beat) is 15 ticks
MAX_TICKS_PER_BEAT = 32767      # a header's division with the top bit set means SMPTE time
MAX_TEMPO = 0xFFFFFF            # microseconds a beat that a set-tempo event holds
# A delta time holds 28 bits: a file no longer than that never needs a longer one.
MAX_TICKS = (1 << 28) - 1
SPOOL_CHUNK = 1 << 16


def ticks_per_beat(show: shows.Show) -> int:
    """TICKS_PER_BEAT, or the least multiple of it on which every tempo change falls."""
    ticks = TICKS_PER_BEAT
    for index, (beat, _) in enumerate(show.clock.tempo_changes):
        ticks = math.lcm(ticks, beat.denominator)
        if ticks > MAX_TICKS_PER_BEAT:
            raise ExportError(f"clock.tempo_changes[{index}]: beat {beat} falls on no tick of "
                              f"a MIDI file (at most {MAX_TICKS_PER_BEAT} ticks a beat)")
    return ticks


def microseconds_a_beat(bpm: Fraction) -> int:
    return round(Fraction(60_000_000) / bpm)


def tempo_events(show: shows.Show, ticks: int, end_tick: int) -> list[tuple[int, int]]:
    """(tick, microseconds a beat) of the tempo at the start and of each change up to
    `end_tick`."""
    clock = show.clock
    events = [(0, clock.bpm, "clock.bpm")]
    for index, (beat, bpm) in enumerate(clock.tempo_changes):
        tick = int(beat * ticks)
        if tick > end_tick:
            break
        if tick == 0:
            events.pop()
        events.append((tick, bpm, f"clock.tempo_changes[{index}]"))
    slowest = Fraction(60_000_000, MAX_TEMPO)
    for _, bpm, where in events:
        if bpm < slowest:
            raise ExportError(f"{where}: a MIDI file holds tempos of at least "
                              f"{math.ceil(slowest * 100) / 100} BPM, got {bpm}")
    return [(tick, microseconds_a_beat(bpm)) for tick, bpm, _ in events]


class _Track:
    """One track's events, buffered and spooled in chunks."""

    __slots__ = ("spool", "buffer", "chunks", "tick", "status")

    def __init__(self, spool, name: str):
        self.spool, self.buffer, self.chunks = spool, bytearray(), []
        self.tick, self.status = 0, None
        self.meta(0, mido.MetaMessage("track_name", name=name).bytes())

    def meta(self, tick: int, data: list[int]) -> None:
        self.buffer.extend(encode_variable_int(tick - self.tick))
        self.buffer.extend(data)
        self.tick, self.status = tick, None     # a meta event ends running status

    def channel(self, tick: int, data: bytes) -> None:
        self.buffer.extend(encode_variable_int(tick - self.tick))
        # running status: a run of one kind of message on one channel omits its status byte
        self.buffer += data[1:] if data[0] == self.status else data
        self.tick, self.status = tick, data[0]
        if len(self.buffer) >= SPOOL_CHUNK:
            self.chunks.append((self.spool.tell(), len(self.buffer)))
            self.spool.write(self.buffer)
            self.buffer.clear()

    def write(self, file, end_tick: int) -> None:
        self.meta(end_tick, mido.MetaMessage("end_of_track").bytes())
        file.write(b"MTrk" + struct.pack(">L", sum(n for _, n in self.chunks) + len(self.buffer)))
        for offset, length in self.chunks:
            self.spool.seek(offset)
            file.write(self.spool.read(length))
        file.write(self.buffer)


class MidiFileExport:
    def __init__(self, show: shows.Show, seconds: Fraction, fps: int, target: Path):
        self.show, self.fps = show, fps
        self.ticks = ticks_per_beat(show)
        self.tempo_map = show.clock.tempo_map()
        self.end_tick = self._tick(seconds)
        if self.end_tick > MAX_TICKS:
            last = self.tempo_map.seconds_at(Fraction(MAX_TICKS, self.ticks))
            raise ExportError(f"--seconds: a MIDI file of this show at {self.ticks} ticks a "
                              f"beat holds at most {math.floor(last)} seconds")
        self.tempos = tempo_events(show, self.ticks, self.end_tick)
        self.patched = [(i, f.midi) for i, f in enumerate(show.fixtures) if f.midi is not None]
        midi_outputs = [o.name for o in show.outputs if o.kind == "midi"]
        self.output = midi_outputs[0] if midi_outputs else None
        self.target = target
        self.spool = None
        self.tracks: list[_Track] = []
        self.last: list[tuple[int, ...] | None] = [None] * len(self.patched)
        # each patched axis: the status byte and controllers its value goes out on
        self.sends = [[(mido.Message("control_change", channel=patch.channel - 1).bytes()[0],
                        cc, patch.bits == 14) for cc in patch.cc] for _, patch in self.patched]

    def _tick(self, seconds: Fraction) -> int:
        return round(self.tempo_map.beat_at(seconds) * self.ticks)

    def __enter__(self):
        self.spool = tempfile.TemporaryFile(dir=self.target.parent)
        self.tracks = [_Track(self.spool, self.show.fixtures[i].name) for i, _ in self.patched]
        return self

    def __exit__(self, *_):
        self.spool.close()

    def add(self, n: int, frame, angles, sent) -> None:
        states = (frame.fixtures if sent is None or self.output is None
                  else sent[self.output][0].fixtures)
        tick = None
        for k, (index, patch) in enumerate(self.patched):
            values = mapping.midi_values(patch, states[index].out)
            last = self.last[k]
            if values == last:
                continue
            if tick is None:
                tick = self._tick(Fraction(n, self.fps))
            track = self.tracks[k]
            for axis, (status, cc, fine) in enumerate(self.sends[k]):
                value = values[axis]
                if last is not None and last[axis] == value:
                    continue
                if fine:
                    track.channel(tick, bytes((status, cc, value >> 7)))
                    track.channel(tick, bytes((status, cc + 32, value & 0x7F)))
                else:
                    track.channel(tick, bytes((status, cc, value)))
            self.last[k] = values

    def write(self, file) -> None:
        file.write(b"MThd" + struct.pack(">LHHH", 6, 1, 1 + len(self.tracks), self.ticks))
        tempo = _Track(self.spool, "tempo")
        for tick, microseconds in self.tempos:
            tempo.meta(tick, mido.MetaMessage("set_tempo", tempo=microseconds).bytes())
        for track in (tempo, *self.tracks):
            track.write(file, self.end_tick)
