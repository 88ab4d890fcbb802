"""Live control: every input becomes an event, applied at a pip the show can say in advance.

An event has one text form, `KIND [ARGS]`, which the recorder writes, a replayed file holds
and OSC, MIDI and the remote are turned into:

    tap | nudge MS | bpm X | double | half | downbeat          the tempo, at once
    cue NAME | speed TARGET RATIO | crossfade TARGET PATTERN BEATS   a look, on its quantise
    blackout | park | resume                                    the outputs, at once

TARGET is a fixture or a group. An event arrives at a time (seconds on the show clock) and so
at a pip; a look takes effect at the first quantise point at or after that pip (a cue's own,
else the show's `[control] quantise`). Until then it waits, and changes waiting are applied in
pip order, each exactly at its pip, before the frame or the event that reaches it: what
fixtures play at a pip depends only on the events and their times, never on when frames
happened to be sampled, so a set replayed from its record gives the same pips.

Tempo events edit the show's tempo map and need the internal clock; a followed clock (MIDI,
network) keeps its own tempo, and they are refused there. `resume` ends a blackout or a park:
the fixtures kept moving underneath, so each comes back where the cue playing has it now.
"""

from __future__ import annotations

import dataclasses
import heapq
import re
from fractions import Fraction
from pathlib import Path
from typing import Callable, NamedTuple

from . import names as pattern_names
from . import quantise as points
from . import show as shows
from .clocks import TAP_BPM_GRID, TAP_COUNT, TAP_PAUSE_SECONDS
from .files import FileRefused, read_text
from .quantise import Quantise
from .quoting import one_line, quote
from .timebase import PIPS_PER_BEAT, exact

EVENTS = {"tap": (), "nudge": ("ms",), "bpm": ("bpm",), "double": (), "half": (),
          "downbeat": (), "cue": ("name",), "speed": ("target", "ratio"),
          "crossfade": ("target", "pattern", "beats"), "blackout": (), "park": (),
          "resume": ()}
TEMPO_EVENTS = ("tap", "nudge", "bpm", "double", "half", "downbeat")
OUTPUT_EVENTS = ("blackout", "park", "resume")
# what a MIDI controller's value can drive: the one number of these events
CONTROLLER_EVENTS = ("nudge", "bpm")
MAX_NUDGE_MS = 10_000
MAX_CONTROL_BYTES = 16 << 20
TIME = re.compile(r"(\d+(\.\d*)?|\.\d+)|\d+/\d+", re.ASCII)
TIME_LENGTH = 40
NOW = Quantise("now", None)


class Event(NamedTuple):
    kind: str
    args: tuple = ()

    @property
    def text(self) -> str:
        return " ".join([self.kind, *map(str, self.args)])


class NotApplied(ValueError):
    """An event this show or clock cannot take; nothing was changed."""


def _number(text: str, what: str, low, high, *, above_low: bool = False) -> Fraction:
    try:
        value = exact(text, what)
    except (TypeError, ValueError):
        raise ValueError(f"{what}: expected a number, got {quote(text)}") from None
    if value < low or (above_low and value == low) or value > high:
        span = f"above {low} and at most {high}" if above_low else f"from {low} to {high}"
        raise ValueError(f"{what}: expected a number {span}, got {quote(text)}")
    return value


def parse_event(text: str) -> Event:
    """An event from its text form; ValueError says what is wrong."""
    if not isinstance(text, str):
        raise ValueError(f"expected an event, got {quote(text)}")
    words = text.split()
    if not words:
        raise ValueError("expected an event, got nothing")
    kind, given = words[0], words[1:]
    if kind not in EVENTS:
        raise ValueError(f"unknown event {quote(kind)} (events: {', '.join(EVENTS)})")
    wanted = EVENTS[kind]
    if len(given) != len(wanted):
        usage = " ".join([kind, *(w.upper() for w in wanted)])
        raise ValueError(f"{kind}: expected {usage}, got {quote(text)}")
    args = []
    for what, word in zip(wanted, given):
        if what == "ms":
            args.append(_number(word, "nudge", -MAX_NUDGE_MS, MAX_NUDGE_MS))
        elif what == "bpm":
            args.append(_number(word, "bpm", shows.MIN_BPM, shows.MAX_BPM))
        elif what == "ratio":
            args.append(_number(word, "speed", 0, shows.MAX_SPEED, above_low=True))
        elif what == "beats":
            args.append(_number(word, "crossfade", 0, shows.MAX_BEAT, above_low=True))
        elif what == "pattern":
            args.append(word)
        elif not shows.IDENTIFIER.fullmatch(word):
            raise ValueError(f"{kind}: expected a name of {shows.NAME_RULE}, got {quote(word)}")
        else:
            args.append(word)
    return Event(kind, tuple(args))


def make_event(kind: str, *args: object) -> Event:
    """An event from a kind and its arguments as an input gives them (strings or numbers)."""
    words = []
    for arg in args:
        word = repr(arg) if isinstance(arg, float) else str(arg)
        if not word or any(c.isspace() for c in word) or isinstance(arg, bool):
            raise ValueError(f"{kind}: expected a word or a number, got {quote(arg)}")
        words.append(word)
    return parse_event(" ".join([kind, *words]))


def check(event: Event, show: shows.Show) -> Event:
    """`event` if every name in it means something in `show`; ValueError otherwise."""
    if event.kind == "cue" and show.cue(event.args[0]) is None:
        listed = ", ".join(quote(c.name) for c in show.cues[:8]) or "none"
        raise ValueError(f"cue: no cue is named {quote(event.args[0])} (cues: {listed})")
    if event.kind in ("speed", "crossfade") and show.members(event.args[0]) is None:
        raise ValueError(f"{event.kind}: no fixture or group is named {quote(event.args[0])}")
    if event.kind == "crossfade" and pattern_names.resolve(event.args[1], show.pack) is None:
        raise ValueError(f"crossfade: unknown pattern {quote(event.args[1])}")
    return event


def seconds_text(seconds: Fraction) -> str:
    """Seconds exactly: a decimal where one is exact (every nanosecond time is), else a ratio."""
    for places in range(0, 19):
        scaled = seconds * 10**places
        if scaled.denominator == 1:
            whole, part = divmod(scaled.numerator, 10**places)
            return f"{whole}.{part:0{places}d}" if places else str(whole)
    return str(seconds)


class ControlFileError(ValueError):
    """A control file that cannot be replayed; the message names the file and line."""


class Line(NamedTuple):
    seconds: Fraction
    event: Event
    number: int         # the line of the file it was read from


def read_control(path: Path | str, show: shows.Show, *, tempo: bool = True) -> list[Line]:
    """The events of a control file, `<seconds> <event> [args]` a line (blank lines and lines
    starting with # skipped), checked against `show`: times 0 or later, never decreasing.
    `tempo` False refuses tempo events (the clock followed sets the tempo)."""
    name = one_line(str(path), 200)
    try:
        text = read_text(path, MAX_CONTROL_BYTES)
    except FileRefused as exc:
        raise ControlFileError(str(exc)) from None
    events, last = [], Fraction(0)
    for number, line in enumerate(text.splitlines(), 1):
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        stamp, _, rest = line.partition(" ")
        try:
            if len(stamp) > TIME_LENGTH or not TIME.fullmatch(stamp):
                raise ValueError(f"expected a time in seconds, got {quote(stamp)}")
            seconds = exact(stamp, "seconds")
            if seconds < last:
                raise ValueError(f"time {quote(stamp)} is before the line above")
            event = check(parse_event(rest), show)
            if not tempo and event.kind in TEMPO_EVENTS:
                raise ValueError(f"{event.kind}: the clock followed sets the tempo")
        except ValueError as exc:
            raise ControlFileError(f"{name}:{number}: {exc}") from None
        events.append(Line(seconds, event, number))
        last = seconds
    return events


class Recorder:
    """Writes each applied event as `<seconds> <event> [args]`, a line at a time, so a set
    cut short keeps everything up to its end."""

    def __init__(self, path: Path | str):
        self._file = open(path, "w", encoding="utf-8")

    def __call__(self, seconds: Fraction, event: Event) -> None:
        self._file.write(f"{seconds_text(seconds)} {event.text}\n")
        self._file.flush()

    def close(self) -> None:
        self._file.close()


class MapTimeline:
    """The show's own tempo map, read at show seconds: what `render` plays."""

    name = "internal"

    def __init__(self, tempo_map):
        self.tempo_map = tempo_map

    def pip_at(self, seconds):
        return self.tempo_map.pip_at(seconds)

    def beat_at(self, seconds):
        return self.tempo_map.beat_at(seconds)

    def bpm_at(self, seconds):
        return self.tempo_map.bpm_at(seconds)

    def state(self, seconds) -> str:
        return "free"


class ClockTimeline:
    """A live clock read at show seconds. The internal clock's show seconds are its own (so a
    record replays on the show's tempo map); a followed clock's count from `origin`."""

    def __init__(self, clock, origin: Fraction | None = None):
        self.clock, self.name = clock, clock.name
        self._internal = hasattr(clock, "show_seconds")
        self._origin = Fraction(0) if self._internal or origin is None else origin

    @property
    def tempo_map(self):
        return self.clock.tempo_map if self._internal else None

    def now(self) -> Fraction:
        now = self.clock.now()
        return self.clock.show_seconds(now) if self._internal else now - self._origin

    def pip_at(self, seconds):
        if self._internal:
            return self.clock.tempo_map.pip_at(seconds)
        return self.clock.pip_at(seconds + self._origin)

    def beat_at(self, seconds):
        if self._internal:
            return self.clock.tempo_map.beat_at(seconds)
        return self.clock.beat_at(seconds + self._origin)

    def bpm_at(self, seconds):
        if self._internal:
            return self.clock.tempo_map.bpm_at(seconds)
        return self.clock.bpm_at(seconds + self._origin)

    def state(self, seconds) -> str:
        if self._internal:
            return "free"
        return "locked" if self.clock.running_at(seconds + self._origin) else "stopped"


class Status(NamedTuple):
    bpm: float
    bar: int
    beat: int
    cue: str
    clock: str
    next_pip: int | None        # where the next waiting change lands, if one waits
    next_event: str
    last_event: str


class Controller:
    """Applies events to a sampler's fixtures and a timeline's tempo, in time order."""

    def __init__(self, show: shows.Show, sampler, timeline, *,
                 record: Callable[[Fraction, Event], None] | None = None):
        self.show, self.sampler, self.timeline = show, sampler, timeline
        self.record = record
        self.cue = show.start_cue
        self.mode: str | None = None        # "blackout" or "park" while one holds
        self.last: Event | None = None
        self._pending: list[tuple[int, int, Event]] = []
        self._count = 0
        self._taps: list[Fraction] = []
        self._rigs = {rig.name: rig for rig in sampler.rigs}
        self._groups = {group.name: group for group in show.groups}
        self._park = tuple(rig.spec.park for rig in sampler.rigs)
        if self.cue is not None:
            self._launch(show.cue(self.cue), 0)

    # -- events

    def apply(self, seconds: object, event: Event) -> int:
        """Apply `event` arriving at `seconds` of the show clock (never before the last one's);
        the pip it takes effect at. NotApplied (nothing changed) if it cannot be taken."""
        seconds = exact(seconds, "seconds")
        check(event, self.show)
        pip = self.timeline.pip_at(seconds)
        self.settle(pip)
        if event.kind in TEMPO_EVENTS:
            tempo_map = self.timeline.tempo_map
            if tempo_map is None:
                raise NotApplied(f"{event.kind}: the {self.timeline.name} clock sets the tempo")
            self._tempo(tempo_map, seconds, event)
            at = pip
        else:
            at = self._point(event, pip)
            heapq.heappush(self._pending, (at, self._count, event))
            self._count += 1
            self.settle(pip)
        self.last = event
        if self.record is not None:
            self.record(seconds, event)
        return at

    def _tempo(self, tempo_map, seconds: Fraction, event: Event) -> None:
        kind = event.kind
        if kind == "nudge":
            tempo_map.nudge(seconds, event.args[0])
        elif kind == "downbeat":
            tempo_map.downbeat(seconds, self.show.beats_per_bar)
        elif kind == "tap":
            taps = self._taps
            if taps and seconds - taps[-1] > TAP_PAUSE_SECONDS:
                taps.clear()
            if taps and seconds == taps[-1]:
                return
            self._taps = taps = taps[-(TAP_COUNT - 1):] + [seconds]
            if len(taps) >= 2:
                interval = (taps[-1] - taps[0]) / (len(taps) - 1)
                bpm = Fraction(round(60 / interval * TAP_BPM_GRID), TAP_BPM_GRID)
                if shows.MIN_BPM <= bpm <= shows.MAX_BPM:
                    tempo_map.set_tempo(seconds, bpm)
        else:
            bpm = event.args[0] if kind == "bpm" else tempo_map.tempo_at(seconds) * (
                2 if kind == "double" else Fraction(1, 2))
            if not shows.MIN_BPM <= bpm <= shows.MAX_BPM:
                raise NotApplied(f"{kind}: {float(bpm):g} BPM is outside {shows.MIN_BPM} to "
                                 f"{shows.MAX_BPM}")
            tempo_map.set_tempo(seconds, bpm)

    def quantise_of(self, event: Event) -> Quantise:
        if event.kind == "cue":
            return self.show.cue(event.args[0]).quantise
        if event.kind in ("speed", "crossfade"):
            return self.show.control.quantise
        return NOW

    def _point(self, event: Event, pip: int) -> int:
        quantise = self.quantise_of(event)
        rig = loop = None
        if quantise.kind == "loop":
            first = (self.show.cue(event.args[0]).targets[0].name if event.kind == "cue"
                     else event.args[0])
            rig = self._rigs[self.show.members(first)[0]]
            loop = pattern_names.resolve(rig.pattern, self.show.pack).span_pips
        return points.point(quantise, pip, self.show.beats_per_bar, rig, loop)

    def settle(self, pip: int) -> None:
        """Apply every waiting change whose pip is `pip` or earlier, in pip order."""
        pending = self._pending
        while pending and pending[0][0] <= pip:
            at, _, event = heapq.heappop(pending)
            self._effect(at, event)

    def _effect(self, at: int, event: Event) -> None:
        kind, args = event
        if kind == "cue":
            self._launch(self.show.cue(args[0]), at)
            self.cue = args[0]
        elif kind == "speed":
            self.sampler.set_speed(at, args[1], args[0])
        elif kind == "crossfade":
            self.sampler.crossfade(at, args[1], args[2], args[0])
        else:
            self.mode = None if kind == "resume" else kind

    def _launch(self, cue: shows.Cue, at: int) -> None:
        for target in cue.targets:
            group = self._groups.get(target.name)
            if group is not None and (target.spread or target.spread_pips is not None):
                group = dataclasses.replace(
                    group, spread=target.spread or group.spread,
                    spread_pips=(group.spread_pips if target.spread_pips is None
                                 else target.spread_pips))
                self._groups[target.name] = group
            for index, member in enumerate(self.show.members(target.name)):
                rig = self._rigs[member]
                if target.speed is not None:
                    rig.set_speed(at, target.speed)
                own = rig.own_phase if target.phase_pips is None else target.phase_pips
                spread = rig.phase - rig.own_phase if group is None else group.offset(index)
                rig.own_phase, rig.phase = own, own + spread
                if target.pattern is not None:
                    if target.fade_beats is None:
                        rig.cut(self.show, target.pattern)
                    else:
                        rig.crossfade(self.show, at, target.pattern, target.fade_beats)

    # -- frames and status

    def frame(self, pip: int):
        """The sampler's frame at `pip` (`settle` first applies the changes due by then); in a
        blackout every output is at the centre, parked at each fixture's park."""
        frame = self.sampler.frame(pip)
        if self.mode is None:
            return frame
        if self.mode == "blackout":
            fixtures = tuple(s._replace(out=(0.0, 0.0, 0.0)) for s in frame.fixtures)
        else:
            fixtures = tuple(s._replace(out=park) for s, park in zip(frame.fixtures, self._park))
        return frame._replace(fixtures=fixtures)

    def next_change(self) -> tuple[int, Event] | None:
        return (self._pending[0][0], self._pending[0][2]) if self._pending else None

    def status(self, seconds: object) -> Status:
        seconds = exact(seconds, "seconds")
        beat = self.timeline.beat_at(seconds)
        whole = beat.numerator // beat.denominator
        per_bar = self.show.beats_per_bar
        waiting = self.next_change()
        shown = self.mode or self.cue or ""
        tempo_map = self.timeline.tempo_map
        bpm = (self.timeline.bpm_at(seconds) if tempo_map is None
               else tempo_map.tempo_at(seconds))       # the tempo, not a bend under way
        return Status(float(bpm), whole // per_bar + 1,
                      whole % per_bar + 1, shown, self.timeline.state(seconds),
                      None if waiting is None else waiting[0],
                      "" if waiting is None else waiting[1].text,
                      "" if self.last is None else self.last.text)

    def bar_beat(self, pip: int) -> str:
        """A pip as BAR.BEAT of the show's count, both from 1."""
        whole = pip // PIPS_PER_BEAT
        return f"{whole // self.show.beats_per_bar + 1}.{whole % self.show.beats_per_bar + 1}"
