"""Following MIDI beat clock: 24 clocks to the beat, so one clock is exactly 8/3 pips.

The position is held as an integer count of clocks, so after N clocks from a Start the pip is
`clock_pip(N)` however long the set runs. Start makes the next Clock position 0; Stop holds
the position; a Song Position Pointer while stopped sets it (one unit is six clocks, 16 pips;
while running it is ignored, as a sender should not send one then); Continue resumes, and the
next Clock plays the held position. Between clocks the position moves on at the tempo
estimated from the last beat of clocks, but stays below the next clock's position until that
clock arrives: late or early clocks move the estimate, never the position backwards.

The core reads mido's text form (`clock`, `songpos pos=32`) itself; `MidiClock` follows a real
input port and needs mido (the `live` extra).
"""

from __future__ import annotations

import os
import re
import stat
import threading
import time
from collections import deque
from fractions import Fraction
from pathlib import Path

from .quoting import quote
from .timebase import exact, pip_of

CLOCKS_PER_BEAT = 24
CLOCKS_PER_SONG_POSITION = 6
# The position between clocks stays this far below the next clock (1/24 of a pip).
HOLD_MARGIN = Fraction(1, CLOCKS_PER_BEAT * 64)
BELOW_NEXT_CLOCK = Fraction(1, CLOCKS_PER_BEAT) - HOLD_MARGIN
# Clocks further apart than this start a new tempo estimate (slower than 2.5 BPM).
ESTIMATE_GAP_SECONDS = 1
SONG_POSITION_LIMIT = 16383
MESSAGES = ("clock", "start", "stop", "continue", "songpos")
# A trace time: a decimal (with a short exponent) or a ratio, in ASCII digits only.
TRACE_TIME = re.compile(r"[+-]?(\d+(\.\d*)?|\.\d+)([eE][+-]?\d{1,3})?|[+-]?\d+/\d+", re.ASCII)
TRACE_TIME_LENGTH = 40
TRACE_LINE_BYTES = 1024


def clock_pip(count: int) -> int:
    """The pip of the count-th clock after a Start (the first one is position 0)."""
    return pip_of(Fraction(count - 1, CLOCKS_PER_BEAT))


def message_fields(text: str) -> tuple[str, dict[str, str]]:
    """A message in mido's text form (`songpos pos=8 time=0`) as its type and its fields."""
    words = text.split()
    fields = {}
    for word in words[1:]:
        key, equals, value = word.partition("=")
        if not equals or key in fields:
            raise ValueError(f"malformed MIDI message {quote(text)}")
        fields[key] = value
    return (words[0] if words else ""), fields


def parse_message(text: str) -> tuple[str, int | None]:
    """A clock message in mido's text form, as (type, song position or None)."""
    kind, fields = message_fields(text)
    if kind not in MESSAGES:
        raise ValueError(f"not a MIDI clock message: {quote(text)}")
    fields.pop("time", None)
    if kind != "songpos":
        if fields:
            raise ValueError(f"malformed MIDI message {quote(text)}")
        return kind, None
    pos = fields.get("pos", "")
    if set(fields) != {"pos"} or not (pos.isascii() and pos.isdigit()) \
            or int(pos) > SONG_POSITION_LIMIT:
        raise ValueError(f"songpos needs pos=0..{SONG_POSITION_LIMIT}: {quote(text)}")
    return kind, int(pos)


def _trace_time(text: str) -> Fraction:
    if len(text) > TRACE_TIME_LENGTH or not TRACE_TIME.fullmatch(text):
        raise ValueError(f"expected a time in seconds, got {quote(text)}")
    try:
        seconds = exact(text, "seconds")
    except ValueError:
        raise ValueError(f"expected a time in seconds, got {quote(text)}") from None
    if seconds < 0:
        raise ValueError(f"time {quote(text)} is negative")
    return seconds


class TraceError(ValueError):
    """A trace that cannot be followed; the message names the file and line."""


class Trace:
    """A trace of clock events, one a line: seconds, blanks or tabs, the message in mido's
    text form. Blank lines and lines starting with # are skipped; times start at 0 or later and
    never decrease. The whole file is checked when the trace is made, so a fault is found
    before anything is rendered; iterating reads it again, a line at a time, so a trace of any
    length costs the memory of one line."""

    def __init__(self, path: Path | str):
        self.path = path
        for _ in self._events():
            pass

    def __iter__(self):
        return self._events()

    def _lines(self, trace):
        number = 0
        while True:
            raw = trace.readline(TRACE_LINE_BYTES + 1)
            if not raw:
                return
            number += 1
            if len(raw) > TRACE_LINE_BYTES:
                raise TraceError(f"{self.path}:{number}: line is longer than "
                                 f"{TRACE_LINE_BYTES} bytes")
            try:
                yield number, raw.decode("utf-8")
            except UnicodeDecodeError:
                raise TraceError(f"{self.path}:{number}: not UTF-8 text") from None

    def _events(self):
        last = None
        # a FIFO or a device would block or never end
        if not stat.S_ISREG(os.stat(self.path).st_mode):
            raise TraceError(f"{self.path}: not a regular file")
        with open(self.path, "rb") as trace:
            for number, line in self._lines(trace):
                line = line.strip()
                if not line or line.startswith("#"):
                    continue
                try:
                    seconds_text, *rest = line.split(None, 1)
                    seconds = _trace_time(seconds_text)
                    message = rest[0] if rest else ""
                    parse_message(message)
                    if last is not None and seconds < last:
                        raise ValueError(f"time {quote(seconds_text)} is before the line above")
                except ValueError as exc:
                    raise TraceError(f"{self.path}:{number}: {exc}") from None
                last = seconds
                yield seconds, message


def read_trace(path: Path | str) -> Trace:
    """The trace at `path`, checked whole; OSError if it cannot be read, ValueError naming the
    file and line of the first fault."""
    return Trace(path)


class MidiClockFollower:
    """The position a stream of MIDI clock messages gives, fed with their arrival times."""

    name = "midi"

    def __init__(self, *, now_ns=time.monotonic_ns):
        self._now_ns = now_ns
        self._lock = threading.Lock()
        self._running = False
        self._next = 0                 # the clock count the next Clock plays
        self._played: Fraction | None = None   # arrival time of the last Clock played
        self._held = Fraction(0)       # the beat while stopped, or until the next Clock
        self._arrivals: deque[Fraction] = deque(maxlen=CLOCKS_PER_BEAT + 1)
        self._last_time: Fraction | None = None
        self._interval: Fraction | None = None  # seconds a clock, estimated

    def now(self) -> Fraction:
        return Fraction(self._now_ns(), 1_000_000_000)

    def feed(self, seconds: object, message: object) -> None:
        """Take one message (text form or a mido.Message) arriving at `seconds`. Messages of
        other types are ignored; bad text or a time before the last one raises ValueError and
        changes nothing."""
        seconds = exact(seconds, "seconds")
        if not isinstance(message, str):
            kind = getattr(message, "type", None)
            if kind not in MESSAGES:
                return
            message = str(message)
        kind, position = parse_message(message)
        with self._lock:
            if self._last_time is not None and seconds < self._last_time:
                raise ValueError(f"MIDI message at {seconds} s arrived before {self._last_time} s")
            self._last_time = seconds
            if kind == "clock":
                self._clock(seconds)
            elif kind == "start":
                self._running, self._next, self._played = True, 0, None
                self._held = Fraction(0)
            elif kind == "stop":
                if self._running:
                    self._held = self._beat(seconds)
                self._running = False
            elif kind == "continue" and not self._running:
                # while running, a Continue changes nothing: the position moves on
                self._running, self._played = True, None
            elif position is not None and not self._running:
                self._next = position * CLOCKS_PER_SONG_POSITION
                self._held = Fraction(self._next, CLOCKS_PER_BEAT)

    def _clock(self, seconds: Fraction) -> None:
        if self._arrivals and seconds - self._arrivals[-1] > ESTIMATE_GAP_SECONDS:
            self._arrivals.clear()
        self._arrivals.append(seconds)
        self._interval = self._clock_seconds()
        if self._running:
            self._held = Fraction(self._next, CLOCKS_PER_BEAT)
            self._played = seconds
            self._next += 1

    def _clock_seconds(self) -> Fraction | None:
        if len(self._arrivals) < 2:
            return None
        return (self._arrivals[-1] - self._arrivals[0]) / (len(self._arrivals) - 1)

    def _beat(self, seconds: Fraction) -> Fraction:
        interval = self._interval
        if not self._running or self._played is None or interval is None \
                or seconds <= self._played:
            return self._held
        moved = self._held + (seconds - self._played) / (interval * CLOCKS_PER_BEAT)
        return min(moved, self._held + BELOW_NEXT_CLOCK)

    def beat_at(self, seconds: object) -> Fraction:
        seconds = exact(seconds, "seconds")
        with self._lock:
            return self._beat(seconds)

    def pip_at(self, seconds: object) -> int:
        return pip_of(self.beat_at(seconds))

    def bpm_at(self, seconds: object) -> Fraction:
        """The estimated tempo, 0 until two clocks have arrived."""
        interval = self._interval
        return Fraction(0) if interval is None else 60 / (interval * CLOCKS_PER_BEAT)

    def running_at(self, seconds: object) -> bool:
        with self._lock:
            return self._running

    def close(self) -> None:
        pass


class MidiClock(MidiClockFollower):
    """A follower fed by a mido input port (by name, or the default port), each message
    stamped with `time.monotonic_ns` as it arrives."""

    def __init__(self, port_name: str | None = None, *, virtual: bool = False):
        import mido

        super().__init__()
        self._port = mido.open_input(port_name, virtual=virtual, callback=self._receive)

    def _receive(self, message) -> None:
        self.feed(self.now(), message)

    def close(self) -> None:
        self._port.close()
