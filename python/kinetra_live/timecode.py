"""Chasing timecode: MIDI timecode (quarter-frame and full-frame) and Art-Net timecode.

A show maps timecode to music with `[[song]]` tables: each song's own tempo map (`bpm`,
`tempo_changes`) starts at beat 0 at its `start` timecode, and runs until the next song
starts. Timecode counts real seconds: at 29.97 drop-frame a frame lasts 1001/30000 s and the
frame numbers skip 0 and 1 at each minute but every tenth.

The follower holds an anchor (arrival time, timecode seconds) and runs on from it at real
speed. A quarter-frame sequence is complete at its eighth piece, 1.75 frames after the frame
it names; a full-frame message or an Art-Net packet names the frame starting as it arrives.
- small differences between the running estimate and a new reading never move the position
  back: it holds until the reading catches up;
- a reading more than `JUMP_FRAMES` from the estimate is a locate, and seeks (also backwards);
- a full-frame message alone (a desk locating while stopped) seeks and holds;
- when readings stop, the position runs on for `freewheel_frames` frames, then holds.
The core reads traces itself; `MtcClock` needs mido (the `live` extra).
"""

from __future__ import annotations

import re
import socket
import threading
import time
from dataclasses import dataclass
from fractions import Fraction
from pathlib import Path

from .midi_clock import message_fields
from .quoting import quote
from .timebase import TempoMap, exact, pip_of

RATES = {"24": (24, False), "25": (25, False), "29.97df": (30, True), "30": (30, False)}
MTC_RATES = ("24", "25", "29.97df", "30")        # the rate bits of MTC and Art-Net, in order
JUMP_FRAMES = 2
ARTNET_HEADER = b"Art-Net\x00"
OP_TIMECODE = 0x9700
TIMECODE = re.compile(r"^(\d{2}):(\d{2}):(\d{2})[:;.](\d{2})$")


@dataclass(frozen=True)
class Rate:
    name: str
    fps: int                   # frames counted a second (30 for drop-frame too)
    drop: bool

    @property
    def frame_seconds(self) -> Fraction:
        return Fraction(1001, 30000) if self.drop else Fraction(1, self.fps)


def rate(name: str) -> Rate:
    if name not in RATES:
        raise ValueError(f"frame rate: expected one of {', '.join(RATES)}, got {name!r}")
    return Rate(name, *RATES[name])


def frame_count(hours: int, minutes: int, seconds: int, frames: int, at: Rate, *,
                strict: bool = True) -> int:
    """Frames since 00:00:00:00. A drop-frame label that does not exist raises ValueError,
    or with `strict=False` counts as the frame after it (where a song set at a whole minute
    starts at 29.97df)."""
    if not (hours < 24 and minutes < 60 and seconds < 60 and frames < at.fps):
        raise ValueError(f"timecode {hours:02}:{minutes:02}:{seconds:02}:{frames:02} is out "
                         f"of range at {at.name} fps")
    total_minutes = hours * 60 + minutes
    count = (total_minutes * 60 + seconds) * at.fps + frames
    if at.drop:
        if seconds == 0 and frames < 2 and minutes % 10:
            if not strict:
                return frame_count(hours, minutes, 0, 2, at)
            raise ValueError(f"timecode {hours:02}:{minutes:02}:00:{frames:02} is dropped "
                             f"at 29.97df")
        count -= 2 * (total_minutes - total_minutes // 10)
    return count


def parse_timecode(text: str, at: Rate, *, strict: bool = True) -> Fraction:
    """The seconds of "hh:mm:ss:ff" (";" also before the frames) at a frame rate."""
    match = TIMECODE.match(text.strip()) if isinstance(text, str) else None
    if match is None:
        raise ValueError(f"expected a timecode hh:mm:ss:ff, got {text!r}")
    return frame_count(*map(int, match.groups()), at, strict=strict) * at.frame_seconds


@dataclass(frozen=True)
class Song:
    start: str                 # timecode text; its seconds depend on the stream's rate
    bpm: Fraction
    tempo_changes: tuple[tuple[Fraction, Fraction], ...]
    beats_per_bar: int

    def start_seconds(self, at: Rate) -> Fraction:
        return parse_timecode(self.start, at, strict=False)

    def tempo_map(self) -> TempoMap:
        return TempoMap.from_beat_changes(self.bpm, self.tempo_changes)


def parse_songs(tables: list, required: bool) -> tuple[Song, ...]:
    """The `[[song]]` tables of a show; a timecode clock needs at least one."""
    from .show import ShowError, _Table, _clock   # show imports this module late

    songs = []
    for index, data in enumerate(tables):
        where = f"song[{index}]"
        table = _Table(data, where, ("start", "bpm", "tempo_changes", "beats_per_bar"))
        start = table.text("start")
        if TIMECODE.match(start) is None:
            raise table.fail("start", f"expected a timecode \"hh:mm:ss:ff\", got {start!r}")
        try:
            start_frames = parse_timecode(start, rate("30"))
        except ValueError as exc:
            raise table.fail("start", str(exc)) from None
        if songs and start_frames <= parse_timecode(songs[-1].start, rate("30")):
            raise table.fail("start", "songs must start in timecode order")
        # the tempo keys read as the clock's do, their errors named for the song
        tempo = {k: data[k] for k in ("bpm", "tempo_changes") if k in data}
        try:
            spec = _clock(tempo)
        except ShowError as exc:
            raise ShowError(str(exc).replace("clock", where, 1)) from None
        songs.append(Song(start, spec.bpm, spec.tempo_changes,
                          table.integer("beats_per_bar", 4, 1, 64)))
    if required and not songs:
        raise ShowError("song: a timecode clock needs at least one [[song]]")
    return tuple(songs)


class TimecodeFollower:
    """The musical position a stream of timecode readings gives, fed with arrival times."""

    def __init__(self, songs: tuple[Song, ...], *, freewheel_frames: int = 8,
                 now_ns=time.monotonic_ns, name: str = "timecode"):
        self.name = name
        self._songs = songs
        self._maps = [song.tempo_map() for song in songs]
        self._freewheel = freewheel_frames
        self._now_ns = now_ns
        self._lock = threading.Lock()
        self._rate: Rate | None = None
        self._starts: list[Fraction] = []
        self._anchor: tuple[Fraction, Fraction] | None = None   # (arrival, timecode seconds)
        self._floor = (Fraction(0), Fraction(-1))   # (from, position it never drops below)
        self._last = Fraction(0)          # arrival of the last reading
        self._rolling = False
        self._pieces: dict[int, int] = {}
        self._last_time: Fraction | None = None

    def now(self) -> Fraction:
        return Fraction(self._now_ns(), 1_000_000_000)

    def _set_rate(self, at: Rate) -> None:
        if self._rate != at:
            self._rate = at
            self._starts = [song.start_seconds(at) for song in self._songs]

    def _position(self, seconds: Fraction) -> Fraction | None:
        if self._anchor is None:
            return None
        arrived, value = self._anchor
        if self._rolling:
            limit = self._last + self._freewheel * self._rate.frame_seconds
            value += max(min(seconds, limit) - arrived, 0)
        since, floor = self._floor
        return max(value, floor) if seconds >= since else value

    def reading(self, seconds: object, timecode: Fraction, at: Rate, *,
                rolling: bool = True) -> None:
        """Timecode `timecode` (seconds) at `at` fps, read at `seconds`."""
        seconds = exact(seconds, "seconds")
        with self._lock:
            self._check_time(seconds)
            self._set_rate(at)
            estimate = self._position(seconds)
            jump = estimate is None or not self._rolling or not rolling or \
                abs(timecode - estimate) > JUMP_FRAMES * at.frame_seconds
            self._floor = (seconds, Fraction(-1) if jump else estimate)
            self._anchor, self._last, self._rolling = (seconds, timecode), seconds, rolling

    def _check_time(self, seconds: Fraction) -> None:
        if self._last_time is not None and seconds < self._last_time:
            raise ValueError(f"timecode at {seconds} s arrived before {self._last_time} s")
        self._last_time = seconds

    def feed(self, seconds: object, message: object) -> None:
        """One MIDI message (mido.Message or its text form) arriving at `seconds`: quarter
        frames and full-frame sysex count, other messages are ignored."""
        kind, values = parse_mtc(message)
        if kind == "quarter_frame":
            piece, value = values
            with self._lock:
                if piece == 0:
                    self._pieces = {}
                self._pieces[piece] = value
                complete = piece == 7 and len(self._pieces) == 8
                pieces, self._pieces = (self._pieces, {}) if complete else (None, self._pieces)
            if complete:
                n = [pieces[k] for k in range(8)]
                fields = (n[6] | (n[7] & 1) << 4, n[4] | (n[5] & 3) << 4,
                          n[2] | (n[3] & 3) << 4, n[0] | (n[1] & 1) << 4)
                at = rate(MTC_RATES[(n[7] >> 1) & 3])
                self._at_frames(seconds, fields, at, Fraction(7, 4), True)
        elif kind == "full_frame":
            hours, minutes, secs, frames = values
            at = rate(MTC_RATES[(hours >> 5) & 3])
            self._at_frames(seconds, (hours & 0x1F, minutes, secs, frames), at, Fraction(0),
                            False)

    def _at_frames(self, seconds, fields, at: Rate, later: Fraction, rolling: bool) -> None:
        try:
            count = frame_count(*fields, at)
        except ValueError:
            return          # a garbled reading; the next one will do
        self.reading(seconds, (count + later) * at.frame_seconds, at, rolling=rolling)

    def artnet(self, seconds: object, packet: bytes) -> None:
        """One UDP datagram; anything but an ArtTimeCode packet is ignored."""
        fields = parse_artnet_timecode(packet)
        if fields is not None:
            *hms_f, kind = fields
            self._at_frames(seconds, tuple(hms_f), rate(MTC_RATES[kind]), Fraction(0), True)

    def _music(self, seconds: object) -> tuple[int, Fraction] | None:
        """(song index, song seconds) at `seconds`, None before the first song."""
        position = self._position(exact(seconds, "seconds"))
        if position is None or not self._starts or position < self._starts[0]:
            return None
        index = max(i for i, start in enumerate(self._starts) if start <= position)
        return index, position - self._starts[index]

    def beat_at(self, seconds: object) -> Fraction:
        with self._lock:
            music = self._music(seconds)
        return Fraction(0) if music is None else self._maps[music[0]].beat_at(music[1])

    def pip_at(self, seconds: object) -> int:
        return pip_of(self.beat_at(seconds))

    def bpm_at(self, seconds: object) -> Fraction:
        with self._lock:
            music = self._music(seconds)
        return Fraction(0) if music is None else self._maps[music[0]].bpm_at(music[1])

    def running_at(self, seconds: object) -> bool:
        seconds = exact(seconds, "seconds")
        with self._lock:
            limit = self._last + self._freewheel * (self._rate.frame_seconds if self._rate
                                                    else 0)
            return self._rolling and seconds <= limit and self._music(seconds) is not None

    def song_at(self, seconds: object) -> int | None:
        """The index of the song playing, None before the first."""
        with self._lock:
            music = self._music(seconds)
        return None if music is None else music[0]

    def close(self) -> None:
        pass


def parse_mtc(message: object) -> tuple[str | None, tuple[int, ...]]:
    """A MIDI message as ("quarter_frame", (piece, value)), ("full_frame", (hh, mm, ss, ff))
    with the rate bits still in hh, or (None, ()) for any other message. Text is mido's form
    (`quarter_frame frame_type=0 frame_value=5`, `sysex data=(127,127,1,1,33,0,0,0)`)."""
    if not isinstance(message, str):
        kind = getattr(message, "type", None)
        if kind == "quarter_frame":
            return kind, (message.frame_type, message.frame_value)
        if kind == "sysex":
            return _full_frame(tuple(message.data))
        return None, ()
    kind, fields = message_fields(message)
    if not kind:
        raise ValueError("empty MIDI message")
    shown = quote(message)
    fields.pop("time", None)
    if kind == "quarter_frame":
        try:
            piece, value = fields.pop("frame_type"), fields.pop("frame_value")
            if not (piece + value).isascii():
                raise ValueError(piece + value)
            piece, value = int(piece), int(value)
        except (KeyError, ValueError):
            raise ValueError(f"quarter_frame needs frame_type and frame_value: {shown}")
        if fields or not (0 <= piece <= 7 and 0 <= value <= 15):
            raise ValueError(f"quarter_frame needs frame_type=0..7, frame_value=0..15: "
                             f"{shown}")
        return "quarter_frame", (piece, value)
    if kind == "sysex":
        data = fields.pop("data", "")
        if fields or not re.fullmatch(r"\((\d+,)*\d*\)", data, re.ASCII):
            raise ValueError(f"sysex needs data=(b,b,...): {shown}")
        values = tuple(int(v) for v in data[1:-1].split(",") if v)
        if any(v > 127 for v in values):
            raise ValueError(f"sysex data bytes must be 0..127: {shown}")
        return _full_frame(values)
    return None, ()


def _full_frame(data: tuple[int, ...]) -> tuple[str | None, tuple[int, ...]]:
    # universal real-time, any device, MTC full message
    if len(data) == 8 and data[0] == 0x7F and data[2:4] == (0x01, 0x01):
        return "full_frame", data[4:8]
    return None, ()


def parse_artnet_timecode(packet: bytes) -> tuple[int, int, int, int, int] | None:
    """(hours, minutes, seconds, frames, type) of an ArtTimeCode packet, else None."""
    if len(packet) < 19 or packet[:8] != ARTNET_HEADER:
        return None
    if int.from_bytes(packet[8:10], "little") != OP_TIMECODE:
        return None
    frames, secs, minutes, hours, kind = packet[14:19]
    if kind > 3:
        return None
    return hours, minutes, secs, frames, kind


def artnet_timecode_packet(hours: int, minutes: int, seconds: int, frames: int,
                           kind: int) -> bytes:
    """An ArtTimeCode packet (what a desk sends), protocol version 14."""
    return ARTNET_HEADER + OP_TIMECODE.to_bytes(2, "little") + bytes(
        (0, 14, 0, 0, frames, seconds, minutes, hours, kind))


def read_trace(path: Path | str) -> list[tuple[Fraction, object]]:
    """A trace of timecode events, one a line: seconds, a blank, then a timecode
    `hh:mm:ss:ff [fps]` (fps 24, 25, 29.97df or 30; by default the line above's, 30 at
    first) or a MIDI message in mido's text form. Blank lines and # comments are skipped;
    times never decrease. Events are (seconds, (timecode seconds, Rate)) or (seconds, text)."""
    events: list[tuple[Fraction, object]] = []
    current = rate("30")
    with open(path, encoding="utf-8") as trace:
        for number, line in enumerate(trace, 1):
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            try:
                seconds_text, _, rest = line.partition(" ")
                seconds = exact(seconds_text, "seconds")
                if seconds < 0:
                    raise ValueError(f"time {seconds_text} is negative")
                words = rest.split()
                if words and TIMECODE.match(words[0]):
                    if len(words) > 2:
                        raise ValueError(f"expected hh:mm:ss:ff [fps], got {rest!r}")
                    if len(words) == 2:
                        current = rate(words[1])
                    event = (parse_timecode(words[0], current), current)
                else:
                    kind, _ = parse_mtc(rest)
                    if kind is None:
                        raise ValueError(f"not a timecode or an MTC message: {rest!r}")
                    event = rest.strip()
                if events and seconds < events[-1][0]:
                    raise ValueError(f"time {seconds_text} is before the line above")
            except ValueError as exc:
                raise ValueError(f"{path}:{number}: {exc}") from None
            events.append((seconds, event))
    return events


class TraceFollower(TimecodeFollower):
    """A follower fed with the events of `read_trace`."""

    def feed(self, seconds: object, event: object) -> None:
        if isinstance(event, tuple):
            self.reading(seconds, *event)
        else:
            super().feed(seconds, event)


class MtcClock(TimecodeFollower):
    """MIDI timecode from a mido input port (by name, or the default port)."""

    def __init__(self, port_name: str | None, songs, *, freewheel_frames: int = 8,
                 virtual: bool = False):
        import mido

        super().__init__(songs, freewheel_frames=freewheel_frames, name="mtc")
        self._port = mido.open_input(port_name, virtual=virtual, callback=self._receive)

    def _receive(self, message) -> None:
        self.feed(self.now(), message)

    def close(self) -> None:
        self._port.close()


class ArtNetTimecodeClock(TimecodeFollower):
    """Art-Net timecode received on a UDP port; each packet stamped as it arrives."""

    def __init__(self, port: int, songs, *, freewheel_frames: int = 8, host: str = "0.0.0.0"):
        super().__init__(songs, freewheel_frames=freewheel_frames, name="artnet-timecode")
        self._socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self._socket.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self._socket.bind((host, port))
        self._socket.settimeout(0.1)
        self.address = self._socket.getsockname()
        self._closing = threading.Event()
        self._thread = threading.Thread(target=self._receive, daemon=True,
                                        name="artnet-timecode")
        self._thread.start()

    def _receive(self) -> None:
        while not self._closing.is_set():
            try:
                packet = self._socket.recv(1024)
            except TimeoutError:
                continue
            except OSError:
                return
            self.artnet(self.now(), packet)

    def close(self) -> None:
        self._closing.set()
        self._thread.join()
        self._socket.close()


def timecode_clock(show, **options):
    """The live timecode clock of a show whose clock source is "mtc" or "artnet-timecode"."""
    spec = show.clock
    if spec.source == "mtc":
        return MtcClock(spec.port, show.songs, freewheel_frames=spec.freewheel_frames,
                        **options)
    return ArtNetTimecodeClock(spec.udp_port, show.songs,
                               freewheel_frames=spec.freewheel_frames, **options)
