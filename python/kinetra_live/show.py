"""Show files: a rig, its clock and its outputs, read from TOML into frozen dataclasses.

Everything is checked before anything is opened or sent; a fault raises `ShowError` whose
message names the key path and the reason (`fixture[2].phase_pips: expected an integer`).
Tempos, beats and speeds stay exact `Fraction`s; only values that leave for an output are floats.
"""

from __future__ import annotations

import dataclasses
import math
import re
import tomllib
from dataclasses import dataclass
from fractions import Fraction
from pathlib import Path


from . import heads
from . import names as pattern_names
from . import packs, timebase
from .quantise import Quantise, parse_quantise
from .clocks import InternalClock
from .files import FileRefused, read_text
from .midi_clock import MidiClock
from .quoting import one_line, quote

CLOCK_SOURCES = ("internal", "midi", "link", "audio", "mtc", "artnet-timecode")
TIMECODE_SOURCES = ("mtc", "artnet-timecode")
OUTPUT_KINDS = ("osc", "sacn", "artnet", "midi")
SPREADS = ("fan", "wings")
ON_STOP = ("park", "blackout")
AXES = "xyz"
DMX_PORTS = {"sacn": 5568, "artnet": 6454}
UNIVERSES = {"sacn": (1, 1, 63999), "artnet": (0, 0, 32767)}   # default, lowest, highest
DEFAULT_FPS = 44
MAX_SPEED = 64
I32 = 2**31
# What a show can mean: tempos a musician plays, a latency of at most ten seconds either way,
# beats whose pips fit in 32 bits.
MIN_BPM, MAX_BPM = 1, 1000
MAX_LATENCY_MS = 10_000
MAX_BEAT = I32 // timebase.PIPS_PER_BEAT - 1
MAX_SHOW_BYTES = 1 << 20
# Fixture, group and output names: also an OSC address part and a CSV column's first half,
# so none of OSC's pattern characters (* ? [ ] { } , #), no '/', no '.', no blank.
NAME_RULE = "1 to 64 of A-Z, a-z, 0-9, '_' and '-'"
IDENTIFIER = re.compile(r"[A-Za-z0-9_-]{1,64}", re.ASCII)
# an OSC address: '/'-separated parts of printable ASCII other than the pattern characters
OSC_ADDRESS = re.compile(r"(?:/[!\x22$-)+\-.0-9:->@-Z\\^-z|~]+)+", re.ASCII)
PORT = re.compile(r"[0-9]{1,5}", re.ASCII)
# keys that mean something for one kind of output or clock only
OUTPUT_KEYS = {"osc": ("prefix", "bundle"), "sacn": ("universe",), "artnet": ("universe",), "midi": ()}
CLOCK_KEYS = {"internal": ("tempo_changes", "latency_ms", "beat_zero_seconds"),
              "midi": ("port",), "link": ("quantum", "latency_ms"),
              "audio": ("device", "bpm_range", "latency_ms"),
              "mtc": ("port", "freewheel_frames"),
              "artnet-timecode": ("udp_port", "freewheel_frames")}


class ShowError(ValueError):
    """A show file that cannot be used; the message names the key at fault and why."""

    def __init__(self, message: str):
        super().__init__(one_line(message))


@dataclass(frozen=True)
class ClockSpec:
    source: str
    bpm: Fraction
    tempo_changes: tuple[tuple[Fraction, Fraction], ...]
    latency_ms: Fraction
    quantum: Fraction | None
    port: str | None
    beat_zero_seconds: Fraction = Fraction(0)
    device: str | None = None                      # audio input; "file:PATH" plays a file
    bpm_range: tuple[float, float] | None = None
    freewheel_frames: int = 8
    udp_port: int = 6454                           # where Art-Net timecode arrives

    def tempo_map(self) -> timebase.TempoMap:
        return timebase.TempoMap.from_beat_changes(self.bpm, self.tempo_changes,
                                                   beat_zero_seconds=self.beat_zero_seconds)


@dataclass(frozen=True)
class Crossfade:
    to: str
    at_beat: Fraction
    beats: Fraction


@dataclass(frozen=True)
class DmxPatch:
    universe: int
    pan: int            # first channel, 1-based; a 16-bit value takes this and the next
    tilt: int
    bits: int
    pan_range: tuple[float, float]    # share of the full DMX span that x = -1 .. 1 covers
    tilt_range: tuple[float, float]


@dataclass(frozen=True)
class MidiPatch:
    channel: int        # 1 .. 16
    cc: tuple[int, ...]  # one controller per axis, x first; 14-bit pairs n with n + 32
    bits: int


@dataclass(frozen=True)
class Fixture:
    name: str
    pattern: str
    phase_pips: int
    speed: Fraction
    scale: tuple[float, float, float]
    invert: tuple[bool, bool, bool]
    swap: str | None
    rotate_degrees: float
    park: tuple[float, float, float]
    crossfade: Crossfade | None
    osc_address: str | None
    dmx: DmxPatch | None
    midi: MidiPatch | None
    head: heads.HeadPatch | None = None      # a moving head from a fixture profile
    lead_ms: Fraction = Fraction(0)          # sent this far ahead (motor lag)


@dataclass(frozen=True)
class Group:
    name: str
    fixtures: tuple[str, ...]
    spread: str
    spread_pips: int

    def offset(self, index: int) -> int:
        """The spread's phase for the group's fixture `index`, in whole pips."""
        if self.spread == "fan":
            return index * self.spread_pips
        last = len(self.fixtures) - 1
        # wings: the centre leads and each pair mirrored around it shares an offset
        return (last // 2 - min(index, last - index)) * self.spread_pips


@dataclass(frozen=True)
class Output:
    kind: str
    name: str
    address: str        # host for the network kinds, port name for MIDI
    port: int | None
    universe: int | None
    prefix: str
    bundle: bool | None = None   # OSC: None bundles only shows of more than 16 fixtures
    delay_ms: Fraction = Fraction(0)    # how late this output shows what it gets


@dataclass(frozen=True)
class CueTarget:
    """What a cue changes of one fixture or of each fixture of a group; None keeps it."""
    name: str
    pattern: str | None
    phase_pips: int | None
    speed: Fraction | None
    spread: str | None          # groups only
    spread_pips: int | None     # groups only
    fade_beats: Fraction | None  # crossfade to the pattern over this many beats


@dataclass(frozen=True)
class Cue:
    name: str
    quantise: Quantise
    targets: tuple[CueTarget, ...]


@dataclass(frozen=True)
class MidiControl:
    note: int | None
    cc: int | None
    channel: int | None         # 1 .. 16; None listens on every channel
    event: str                  # an event's text form; for a controller, its kind
    scale: Fraction
    offset: Fraction


@dataclass(frozen=True)
class ControlSpec:
    quantise: Quantise          # for cues without their own, speed and crossfade
    osc: tuple[str, int] | None
    status: tuple[str, int] | None
    midi_port: str | None
    midi: tuple[MidiControl, ...]


DEFAULT_CONTROL = ControlSpec(Quantise("bar", None), None, None, None, ())


@dataclass(frozen=True)
class ExportSpec:
    size: tuple[float, float, float] = (1.0, 1.0, 1.0)   # metres that x, y, z = 1 reach


@dataclass(frozen=True)
class Show:
    path: Path | None
    clock: ClockSpec
    fixtures: tuple[Fixture, ...]
    groups: tuple[Group, ...]
    outputs: tuple[Output, ...]
    fps: int
    on_stop: str
    pack: packs.Pack | None
    beats_per_bar: int = 4
    cues: tuple[Cue, ...] = ()
    start_cue: str | None = None
    control: ControlSpec = DEFAULT_CONTROL
    export: ExportSpec = ExportSpec()

    def cue(self, name: str) -> Cue | None:
        return next((cue for cue in self.cues if cue.name == name), None)

    def members(self, name: str) -> tuple[str, ...] | None:
        """The fixtures a fixture's or group's name stands for, or None."""
        for group in self.groups:
            if group.name == name:
                return group.fixtures
        return (name,) if any(f.name == name for f in self.fixtures) else None
    songs: tuple = ()               # timecode.Song: where each song's tempo map starts

    def phase_of(self, fixture: Fixture) -> int:
        """The fixture's phase in pips: its own offset plus its group's spread."""
        phase = fixture.phase_pips
        for group in self.groups:
            if fixture.name in group.fixtures:
                phase += group.offset(group.fixtures.index(fixture.name))
        return phase

    def loop_beats(self, pattern: str) -> Fraction:
        """A pattern's loop, or a recording's length, in beats."""
        return Fraction(pattern_names.resolve(pattern, self.pack).span_pips,
                        timebase.PIPS_PER_BEAT)

    @property
    def quantum(self) -> Fraction:
        """The tempo-sync quantum in beats: the show's, or the least common multiple of every
        fixture's loop at its speed, so a whole study lands in phase on every peer."""
        if self.clock.quantum is not None:
            return self.clock.quantum
        return Fraction(timebase.quantum_of(
            self.loop_beats(f.pattern) * timebase.PIPS_PER_BEAT / f.speed
            for f in self.fixtures))


class _Table:
    """One TOML table being read, with the key path its errors name."""

    def __init__(self, data: object, where: str, keys: tuple[str, ...]):
        if not isinstance(data, dict):
            raise ShowError(f"{where}: expected a table")
        unknown = sorted(set(data) - set(keys), key=str)
        if unknown:
            key = unknown[0]
            bare = isinstance(key, str) and IDENTIFIER.fullmatch(key)
            raise ShowError(f"{self._path(where, key if bare else quote(key))}: unknown key")
        self.data, self.where = data, where

    @staticmethod
    def _path(where: str, key: str) -> str:
        return f"{where}.{key}" if where else key

    def fail(self, key: str, reason: str) -> ShowError:
        return ShowError(f"{self._path(self.where, key)}: {reason}")

    def has(self, key: str) -> bool:
        return key in self.data

    def raw(self, key: str, default: object = None) -> object:
        return self.data.get(key, default)

    def integer(self, key: str, default: int | None = None, low: int = -I32,
                high: int = I32 - 1) -> int:
        if key not in self.data:
            if default is None:
                raise self.fail(key, "missing")
            return default
        value = self.data[key]
        if isinstance(value, bool) or not isinstance(value, int):
            raise self.fail(key, "expected an integer")
        if not low <= value <= high:
            raise self.fail(key, f"expected an integer from {low} to {high}, got {quote(value)}")
        return value

    def number(self, key: str, default: float | None = None) -> float:
        if key not in self.data:
            if default is None:
                raise self.fail(key, "missing")
            return default
        value = _finite(self.data[key])
        if value is None:
            raise self.fail(key, "expected a finite number")
        return value

    def exact(self, key: str, default: Fraction | None = None, *, positive: bool = False,
              what: str = "a number", low: Fraction | int | None = None,
              high: Fraction | int | None = None) -> Fraction:
        if key not in self.data:
            if default is None:
                raise self.fail(key, "missing")
            return default
        return _exact(self.data[key], self._path(self.where, key), positive, what, low, high)

    def text(self, key: str, default: str | None = None, choices: tuple[str, ...] = ()) -> str:
        if key not in self.data:
            if default is None:
                raise self.fail(key, "missing")
            return default
        value = self.data[key]
        if not isinstance(value, str) or not value:
            raise self.fail(key, "expected a non-empty string")
        if choices and value not in choices:
            raise self.fail(key, f"expected one of {', '.join(map(repr, choices))}, "
                                 f"got {quote(value)}")
        return value

    def name(self, key: str = "name", default: str | None = None) -> str:
        value = self.text(key, default)
        if not IDENTIFIER.fullmatch(value):
            raise self.fail(key, f"expected a name of {NAME_RULE}, got {quote(value)}")
        return value

    def osc_address(self, key: str, default: str | None = None) -> str:
        value = self.text(key, default)
        if not OSC_ADDRESS.fullmatch(value):
            raise self.fail(key, "expected an OSC address such as \"/kinetra\": parts after "
                                 "'/' of printable ASCII without blanks or # * , ? [ ] { }, "
                                 f"got {quote(value)}")
        return value

    def triple(self, key: str, default: tuple, kind: type) -> tuple:
        if key not in self.data:
            return default
        value = self.data[key]
        if kind is bool:
            ok = isinstance(value, list) and len(value) == 3 and all(
                isinstance(v, bool) for v in value)
            parsed = tuple(value) if ok else ()
        else:
            parsed = tuple(_finite(v) for v in value) if isinstance(value, list) else ()
            ok = len(parsed) == 3 and None not in parsed
        if not ok:
            noun = "booleans" if kind is bool else "numbers"
            raise self.fail(key, f"expected three {noun} for x, y, z")
        return parsed

    def tables(self, key: str) -> list:
        value = self.data.get(key, [])
        if not isinstance(value, list) or not all(isinstance(v, dict) for v in value):
            raise self.fail(key, "expected an array of tables")
        return value


def _finite(value: object) -> float | None:
    """A TOML number as a finite float, or None (an integer too large for a float is None)."""
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        return None
    try:
        value = float(value)
    except OverflowError:
        return None
    return value if math.isfinite(value) else None


def _exact(value: object, where: str, positive: bool, what: str,
           low: Fraction | int | None = None, high: Fraction | int | None = None) -> Fraction:
    """A number as an exact Fraction: an integer, a float read as its text, or a ratio "3/2",
    within [low, high] where given."""
    if isinstance(value, bool) or not isinstance(value, (int, float, str)):
        raise ShowError(f"{where}: expected {what}")
    try:
        exact = timebase.exact(value, where)
    except (TypeError, ValueError):
        raise ShowError(f"{where}: expected {what}, got {quote(value)}") from None
    if positive and exact <= 0:
        raise ShowError(f"{where}: expected a positive number, got {quote(value)}")
    if (low is not None and exact < low) or (high is not None and exact > high):
        span = (f"from {low} to {high}" if low is not None and high is not None else
                f"at least {low}" if low is not None else f"at most {high}")
        raise ShowError(f"{where}: expected {what} {span}, got {quote(value)}")
    return exact


def _clock(data: object) -> ClockSpec:
    table = _Table(data, "clock", ("source", "bpm", "tempo_changes", "latency_ms", "quantum",
                                   "port", "beat_zero_seconds", "device", "bpm_range",
                                   "freewheel_frames", "udp_port"))
    source = table.text("source", "internal", CLOCK_SOURCES)
    for key in ("tempo_changes", "latency_ms", "quantum", "port", "beat_zero_seconds", "device",
                "bpm_range", "freewheel_frames", "udp_port"):
        if table.has(key) and key not in CLOCK_KEYS[source]:
            raise table.fail(key, f"does not apply to the {source} clock")
    tempo = "a tempo in beats per minute"
    # the sound and timecode bring their own tempo; bpm is then only where a count starts
    bpm = table.exact("bpm", Fraction(120) if source in ("audio",) + TIMECODE_SOURCES else None,
                      positive=True, what=tempo, low=MIN_BPM, high=MAX_BPM)
    changes = table.raw("tempo_changes", [])
    if not isinstance(changes, list):
        raise table.fail("tempo_changes", "expected an array of [beat, bpm] pairs")
    parsed = []
    for index, change in enumerate(changes):
        where = f"clock.tempo_changes[{index}]"
        if not isinstance(change, list) or len(change) != 2:
            raise ShowError(f"{where}: expected a pair [beat, bpm]")
        beat = _exact(change[0], where, False, "a beat and a tempo")
        if beat < 0 or (parsed and beat <= parsed[-1][0]):
            raise ShowError(f"{where}: beats must be 0 or more and strictly increasing")
        if beat > MAX_BEAT:
            raise ShowError(f"{where}: expected a beat of at most {MAX_BEAT}, "
                            f"got {quote(change[0])}")
        parsed.append((beat, _exact(change[1], where, True, tempo, MIN_BPM, MAX_BPM)))
    latency = table.exact("latency_ms", Fraction(0), what="a latency in milliseconds",
                          low=-MAX_LATENCY_MS, high=MAX_LATENCY_MS)
    quantum = (table.exact("quantum", positive=True, what="a number of beats", high=MAX_BEAT)
               if table.has("quantum") else None)
    port = table.text("port") if table.has("port") else None
    bpm_range = None
    if table.has("bpm_range"):
        value = table.raw("bpm_range")
        if not (isinstance(value, list) and len(value) == 2
                and all(type(v) in (int, float) and math.isfinite(v) for v in value)
                and 0 < value[0] < value[1] <= 1000):
            raise table.fail("bpm_range", "expected [low, high] with 0 < low < high <= 1000")
        bpm_range = (float(value[0]), float(value[1]))
    return ClockSpec(source, bpm, tuple(parsed), latency, quantum, port,
                     table.exact("beat_zero_seconds", Fraction(0)),
                     table.text("device") if table.has("device") else None, bpm_range,
                     table.integer("freewheel_frames", 8, 0, 3000),
                     table.integer("udp_port", DMX_PORTS["artnet"], 1, 65535))


def _range(table: _Table, key: str) -> tuple[float, float]:
    value = table.raw(key, [0.0, 1.0])
    if not (isinstance(value, list) and len(value) == 2
            and all(isinstance(v, (int, float)) and not isinstance(v, bool) for v in value)
            and 0 <= value[0] < value[1] <= 1):
        raise table.fail(key, "expected [low, high] with 0 <= low < high <= 1")
    return float(value[0]), float(value[1])


def _dmx(data: object, where: str) -> DmxPatch:
    table = _Table(data, where, ("universe", "pan", "tilt", "bits", "pan_range", "tilt_range"))
    bits = table.integer("bits", 8, 8, 16)
    if bits not in (8, 16):
        raise table.fail("bits", "expected 8 or 16")
    last = 512 - bits // 8 + 1
    pan, tilt = table.integer("pan", None, 1, last), table.integer("tilt", None, 1, last)
    if abs(pan - tilt) < bits // 8:
        raise table.fail("tilt", "overlaps the pan channels")
    return DmxPatch(table.integer("universe", 1, 0, 63999), pan, tilt, bits,
                    _range(table, "pan_range"), _range(table, "tilt_range"))


def _midi(data: object, where: str) -> MidiPatch:
    table = _Table(data, where, ("channel", "cc", "bits"))
    bits = table.integer("bits", 7, 7, 14)
    if bits not in (7, 14):
        raise table.fail("bits", "expected 7 or 14")
    cc = table.raw("cc")
    top = 31 if bits == 14 else 127
    if not (isinstance(cc, list) and 1 <= len(cc) <= 3 and all(
            isinstance(n, int) and not isinstance(n, bool) and 0 <= n <= top for n in cc)):
        raise table.fail("cc", f"expected one to three controller numbers from 0 to {top}")
    return MidiPatch(table.integer("channel", 1, 1, 16), tuple(cc), bits)


FIXTURE_KEYS = ("name", "pattern", "phase_pips", "speed", "scale", "invert", "swap",
                "rotate_degrees", "park", "crossfade", "osc_address", "dmx", "midi", "lead_ms"
                ) + heads.HEAD_KEYS


def _pattern(table: _Table, key: str, pack: packs.Pack | None) -> str:
    name = table.text(key)
    if pattern_names.resolve(name, pack) is None:
        raise table.fail(key, f"unknown pattern {quote(name)}")
    return name


def _fixture(data: object, index: int, pack: packs.Pack | None,
             base: Path | None = None) -> Fixture:
    where = f"fixture[{index}]"
    table = _Table(data, where, FIXTURE_KEYS)
    name = table.name()
    pattern = _pattern(table, "pattern", pack)
    speed = table.exact("speed", Fraction(1), positive=True, what="a ratio such as \"3/2\"")
    if speed > MAX_SPEED:
        raise table.fail("speed", f"expected at most {MAX_SPEED}, got {quote(table.raw('speed'))}")
    scale = table.triple("scale", (1.0, 1.0, 1.0), float)
    invert = table.triple("invert", (False, False, False), bool)
    swap = table.text("swap") if table.has("swap") else None
    if swap is not None and (len(swap) != 2 or swap[0] == swap[1] or set(swap) - set(AXES)):
        raise table.fail("swap", f"expected two different axes such as \"xy\", got {quote(swap)}")
    park = table.triple("park", (0.0, 0.0, 0.0), float)
    if not all(-1 <= v <= 1 for v in park):
        raise table.fail("park", "expected three numbers from -1 to 1")
    crossfade = None
    if table.has("crossfade"):
        fade = _Table(table.raw("crossfade"), f"{where}.crossfade", ("to", "at_beat", "beats"))
        to = _pattern(fade, "to", pack)
        crossfade = Crossfade(to, fade.exact("at_beat", low=-MAX_BEAT, high=MAX_BEAT),
                              fade.exact("beats", positive=True, high=MAX_BEAT))
    osc_address = table.osc_address("osc_address") if table.has("osc_address") else None
    return Fixture(
        name, pattern, table.integer("phase_pips", 0), speed, scale, invert, swap,
        table.number("rotate_degrees", 0.0), park, crossfade, osc_address,
        _dmx(table.raw("dmx"), f"{where}.dmx") if table.has("dmx") else None,
        _midi(table.raw("midi"), f"{where}.midi") if table.has("midi") else None,
        heads.read_head(table, where, base), _offset_ms(table, "lead_ms"))


def _group(data: object, index: int, names: set[str], grouped: set[str]) -> Group:
    table = _Table(data, f"group[{index}]", ("name", "fixtures", "spread", "spread_pips"))
    name = table.name()
    if name in names:
        # a group and a fixture of one name would make `set_speed(name)` mean two things
        raise table.fail("name", f"{quote(name)} is also a fixture's name")
    members = table.raw("fixtures")
    if not (isinstance(members, list) and members and all(isinstance(m, str) for m in members)):
        raise table.fail("fixtures", "expected a non-empty array of fixture names")
    for member in members:
        if member not in names:
            raise table.fail("fixtures", f"no fixture is named {quote(member)}")
        if member in grouped:
            raise table.fail("fixtures", f"fixture {quote(member)} is already in a group")
        grouped.add(member)
    return Group(name, tuple(members), table.text("spread", "fan", SPREADS),
                 table.integer("spread_pips", 0))


def _host_port(table: _Table, kind: str, key: str = "address") -> tuple[str, int]:
    """HOST:PORT, HOST (DMX only, the protocol's port), and [IPV6]:PORT or [IPV6]."""
    address = table.text(key)
    shape = "HOST:PORT" if kind == "osc" else "HOST or HOST:PORT"
    if address.startswith("["):
        host, bracket, rest = address[1:].partition("]")
        colon, port_text = rest[:1], rest[1:]
        good = bracket and (rest == "" or colon == ":")
    else:
        host, colon, port_text = address.rpartition(":")
        if not colon:
            host = address
        good = ":" not in host
    if not colon:
        port_text = str(DMX_PORTS.get(kind, ""))
    if not (good and host and host.isprintable() and not any(c.isspace() for c in host)
            and PORT.fullmatch(port_text) and 0 < int(port_text) < 65536):
        raise table.fail(key, f"expected {shape}, got {quote(address)}")
    return host, int(port_text)


def _output(data: object, index: int) -> Output:
    table = _Table(data, f"output[{index}]", ("kind", "name", "address", "universe", "prefix",
                                                        "bundle", "delay_ms"))
    kind = table.text("kind", choices=OUTPUT_KINDS)
    for key in ("universe", "prefix", "bundle"):
        if table.has(key) and key not in OUTPUT_KEYS[kind]:
            raise table.fail(key, f"does not apply to an output of kind {kind!r}")
    if kind == "midi":
        address, port = table.text("address"), None
        if not address.isprintable():
            raise table.fail("address", f"expected a MIDI port name, got {quote(address)}")
    else:
        address, port = _host_port(table, kind)
    prefix = table.osc_address("prefix", "/kinetra")
    universe = (table.integer("universe", *UNIVERSES[kind]) if kind in UNIVERSES else None)
    bundle = table.raw("bundle")
    if bundle is not None and not isinstance(bundle, bool):
        raise table.fail("bundle", "expected true or false")
    return Output(kind, table.name("name", kind), address, port, universe, prefix, bundle,
                  _offset_ms(table, "delay_ms"))


MAX_OFFSET_MS = 10_000


def _offset_ms(table: _Table, key: str) -> Fraction:
    value = table.exact(key, Fraction(0))
    if abs(value) > MAX_OFFSET_MS:
        raise table.fail(key, f"expected milliseconds from -{MAX_OFFSET_MS} to "
                              f"{MAX_OFFSET_MS}, got {quote(table.raw(key))}")
    return value


def _check_patches(fixtures: tuple[Fixture, ...]) -> None:
    """No DMX channel and no MIDI controller is driven by two fixtures, or twice by one."""
    used: dict[tuple, str] = {}
    for index, fixture in enumerate(fixtures):
        claimed: set[tuple] = set()

        def claim(slot: tuple, where: str, what: str) -> None:
            owner = used.setdefault(slot, fixture.name)
            if owner != fixture.name or slot in claimed:
                raise ShowError(f"{where}: {what} is already used by {quote(owner)}")
            claimed.add(slot)

        if fixture.head is not None:
            for channel in fixture.head.channels:
                claim(("dmx", fixture.head.universe, channel), f"fixture[{index}].address",
                      f"channel {channel} of universe {fixture.head.universe}")
        if fixture.dmx is not None:
            patch = fixture.dmx
            for key in ("pan", "tilt"):
                first = getattr(patch, key)
                for channel in range(first, first + patch.bits // 8):
                    claim(("dmx", patch.universe, channel), f"fixture[{index}].dmx.{key}",
                          f"channel {channel} of universe {patch.universe}")
        if fixture.midi is not None:
            patch = fixture.midi
            for cc in patch.cc:
                for control in (cc, cc + 32) if patch.bits == 14 else (cc,):
                    claim(("midi", patch.channel, control), f"fixture[{index}].midi.cc",
                          f"controller {control} on channel {patch.channel}")


def _check_reach(fixtures: tuple[Fixture, ...], outputs: tuple[Output, ...]) -> None:
    """Every output sends something, and once a show has outputs of a kind, every fixture
    patched for that kind is sent by one: a patch no output sends would stay dark without a
    word. (Patches of a kind the show has no output for describe the rig for another night.)"""
    dmx = [o for o in outputs if o.kind in UNIVERSES]
    sent = {o.universe for o in dmx}
    for index, fixture in enumerate(fixtures):
        for patch, key in ((fixture.dmx, "dmx.universe"), (fixture.head, "universe")):
            if dmx and patch is not None and patch.universe not in sent:
                raise ShowError(f"fixture[{index}].{key}: no output sends universe "
                                f"{patch.universe} (the DMX outputs send "
                                f"{', '.join(map(str, sorted(sent)))})")
    patched = {p.universe for f in fixtures for p in (f.dmx, f.head) if p is not None}
    for index, output in enumerate(outputs):
        if output.kind in UNIVERSES and output.universe not in patched:
            raise ShowError(f"output[{index}].universe: no fixture is patched on universe "
                            f"{output.universe}")
        if output.kind == "midi" and not any(f.midi is not None for f in fixtures):
            raise ShowError(f"output[{index}]: no fixture has a midi patch")
        if output.kind == "osc":
            addresses: dict[str, str] = {}
            for number, fixture in enumerate(fixtures):
                address = fixture.osc_address or f"{output.prefix}/{fixture.name}"
                owner = addresses.setdefault(address, fixture.name)
                if owner != fixture.name:
                    raise ShowError(f"fixture[{number}].osc_address: {quote(address)} is also "
                                    f"where {quote(owner)} is sent on output {quote(output.name)}")


CUE_TARGET_KEYS = ("pattern", "phase_pips", "speed", "spread", "spread_pips", "fade_beats")


def _quantise(table: _Table, key: str, default: Quantise) -> Quantise:
    if not table.has(key):
        return default
    try:
        return parse_quantise(table.raw(key))
    except ValueError as exc:
        raise table.fail(key, str(exc)) from None


def _cue(data: object, index: int, fixtures: tuple[Fixture, ...], groups: tuple[Group, ...],
         default: Quantise, pack: packs.Pack | None) -> Cue:
    table = _Table(data, f"cue[{index}]", ("name", "quantise", "fixtures"))
    name = table.name()
    quantise = _quantise(table, "quantise", default)
    entries = table.raw("fixtures")
    if not isinstance(entries, dict) or not entries:
        raise table.fail("fixtures", "expected a table of fixture or group names")
    members = {group.name: group.fixtures for group in groups}
    members.update((f.name, (f.name,)) for f in fixtures)
    changed: dict[str, str] = {}
    targets = []
    for target, entry in entries.items():
        where = f"cue[{index}].fixtures.{target}" if IDENTIFIER.fullmatch(target) else \
            f"cue[{index}].fixtures.{quote(target)}"
        if target not in members:
            raise ShowError(f"{where}: no fixture or group is named {quote(target)}")
        for member in members[target]:
            if member in changed:
                raise ShowError(f"{where}: fixture {quote(member)} is also changed by "
                                f"{quote(changed[member])} in this cue")
            changed[member] = target
        item = _Table(entry, where, CUE_TARGET_KEYS)
        if target not in (g.name for g in groups):
            for key in ("spread", "spread_pips"):
                if item.has(key):
                    raise item.fail(key, "applies to a group only")
        speed = None
        if item.has("speed"):
            speed = item.exact("speed", positive=True, what="a ratio such as \"3/2\"",
                               high=MAX_SPEED)
        pattern = _pattern(item, "pattern", pack) if item.has("pattern") else None
        fade = None
        if item.has("fade_beats"):
            if pattern is None:
                raise item.fail("fade_beats", "needs a pattern to fade to")
            fade = item.exact("fade_beats", positive=True, high=MAX_BEAT)
        if not item.data:
            raise ShowError(f"{where}: expected at least one of {', '.join(CUE_TARGET_KEYS)}")
        targets.append(CueTarget(
            target, pattern,
            item.integer("phase_pips") if item.has("phase_pips") else None, speed,
            item.text("spread", choices=SPREADS) if item.has("spread") else None,
            item.integer("spread_pips") if item.has("spread_pips") else None, fade))
    return Cue(name, quantise, tuple(targets))


MIDI_CONTROL_KEYS = ("note", "cc", "channel", "event", "scale", "offset")


def _midi_control(data: object, index: int, show: Show) -> MidiControl:
    from . import control    # the events' text form, which itself reads shows

    table = _Table(data, f"control.midi[{index}]", MIDI_CONTROL_KEYS)
    if table.has("note") == table.has("cc"):
        raise ShowError(f"control.midi[{index}]: expected one of note or cc")
    note = table.integer("note", None, 0, 127) if table.has("note") else None
    cc = table.integer("cc", None, 0, 127) if table.has("cc") else None
    channel = table.integer("channel", None, 1, 16) if table.has("channel") else None
    text = table.text("event")
    if cc is not None:
        if text not in control.CONTROLLER_EVENTS:
            raise table.fail("event", f"a controller drives one of "
                                      f"{', '.join(map(repr, control.CONTROLLER_EVENTS))}, "
                                      f"got {quote(text)}")
    else:
        for key in ("scale", "offset"):
            if table.has(key):
                raise table.fail(key, "applies to a controller (cc) only")
        try:
            control.check(control.parse_event(text), show)
        except ValueError as exc:
            raise table.fail("event", str(exc)) from None
    return MidiControl(note, cc, channel, text, table.exact("scale", Fraction(1)),
                       table.exact("offset", Fraction(0)))


def _control(data: object, show: Show) -> ControlSpec:
    table = _Table(data, "control", ("quantise", "osc", "status", "midi_port", "midi"))
    osc = _host_port(table, "osc", "osc") if table.has("osc") else None
    status = _host_port(table, "osc", "status") if table.has("status") else None
    if status is not None and osc is None:
        raise table.fail("status", "needs osc, the address the controls arrive at")
    midi = tuple(_midi_control(d, i, show) for i, d in enumerate(table.tables("midi")))
    port = table.text("midi_port") if table.has("midi_port") else None
    if port is not None and not port.isprintable():
        raise table.fail("midi_port", f"expected a MIDI port name, got {quote(port)}")
    if midi and port is None:
        raise table.fail("midi_port", "missing (the port the MIDI map listens on)")
    return ControlSpec(_quantise(table, "quantise", DEFAULT_CONTROL.quantise), osc, status,
                       port, midi)


# far beyond any stage, and far within float32, which a glTF file keeps
MAX_EXPORT_METRES = 10_000


def _export(data: object) -> ExportSpec:
    table = _Table(data, "export", ("size",))
    size = table.triple("size", ExportSpec.size, float)
    if not all(0 < v <= MAX_EXPORT_METRES for v in size):
        raise table.fail("size", f"expected three numbers of metres above 0 and at most "
                                 f"{MAX_EXPORT_METRES} for x, y, z")
    return ExportSpec(size)


def _unique(items, what: str) -> None:
    seen: set[str] = set()
    for index, item in enumerate(items):
        if item.name in seen:
            raise ShowError(f"{what}[{index}].name: duplicate {what} name {quote(item.name)}")
        seen.add(item.name)


def parse_show(document: dict, base: Path | None = None) -> Show:
    """The show described by a parsed TOML document; `base` is where a pack path is relative
    to."""
    top = _Table(document, "", ("clock", "fixture", "group", "output", "fps", "on_stop", "pack",
                                "beats_per_bar", "cue", "start_cue", "control", "export",
                                "song"))
    pack = None
    if top.has("pack"):
        pack_path = Path(top.text("pack"))
        try:
            pack = packs.read_pack(pack_path if base is None else base / pack_path)
        except packs.PackError as exc:
            raise top.fail("pack", str(exc)) from None
    if not top.has("clock"):
        raise top.fail("clock", "missing")
    clock = _clock(top.raw("clock"))
    fixtures = tuple(_fixture(d, i, pack, base) for i, d in enumerate(top.tables("fixture")))
    if not fixtures:
        raise top.fail("fixture", "a show needs at least one fixture")
    _unique(fixtures, "fixture")
    names = {fixture.name for fixture in fixtures}
    grouped: set[str] = set()
    groups = tuple(_group(d, i, names, grouped) for i, d in enumerate(top.tables("group")))
    _unique(groups, "group")
    outputs = tuple(_output(d, i) for i, d in enumerate(top.tables("output")))
    _unique(outputs, "output")
    _check_patches(fixtures)
    _check_reach(fixtures, outputs)
    from . import timecode
    try:
        songs = timecode.parse_songs(top.tables("song"), clock.source in TIMECODE_SOURCES)
    except ValueError as exc:
        raise ShowError(one_line(str(exc))) from None
    show = Show(None, clock, fixtures, groups, outputs, top.integer("fps", DEFAULT_FPS, 1, 1000),
                top.text("on_stop", "park", ON_STOP), pack,
                export=_export(top.raw("export")) if top.has("export") else ExportSpec(),
                songs=songs)
    for index, fixture in enumerate(fixtures):
        if not -I32 <= show.phase_of(fixture) < I32:
            raise ShowError(f"fixture[{index}].phase_pips: phase with spread is outside 32 bits")
    if clock.source == "link" and show.quantum > MAX_BEAT:
        raise top.fail("clock.quantum", f"the fixtures' loops at their speeds meet only every "
                                        f"{quote(int(show.quantum))} beats; give a quantum")
    return _performance(top, show)


def _performance(top: _Table, show: Show) -> Show:
    """The show's bar, cues and live controls, which name its fixtures and groups."""
    control = top.raw("control", {})
    quantise = _Table(control, "control", ("quantise", "osc", "status", "midi_port", "midi"))
    default = _quantise(quantise, "quantise", DEFAULT_CONTROL.quantise)
    cues = tuple(_cue(d, i, show.fixtures, show.groups, default, show.pack)
                 for i, d in enumerate(top.tables("cue")))
    _unique(cues, "cue")
    start = top.name("start_cue") if top.has("start_cue") else None
    if start is not None and start not in (cue.name for cue in cues):
        raise top.fail("start_cue", f"no cue is named {quote(start)}")
    show = dataclasses.replace(show, beats_per_bar=top.integer("beats_per_bar", 4, 1, 64),
                               cues=cues, start_cue=start)
    if top.has("control"):
        show = dataclasses.replace(show, control=_control(control, show))
    return show


def load_show(path: Path | str) -> Show:
    """The show in a TOML file of at most MAX_SHOW_BYTES."""
    path = Path(path)
    where = one_line(str(path), 200)
    try:
        document = tomllib.loads(read_text(path, MAX_SHOW_BYTES))
    except FileRefused as exc:
        raise ShowError(str(exc)) from None
    except tomllib.TOMLDecodeError as exc:
        raise ShowError(f"{where}: not valid TOML: {exc}") from None
    except RecursionError:
        raise ShowError(f"{where}: not valid TOML: nested too deeply") from None
    except ValueError as exc:
        # the interpreter's limit on integer digits, whose advice is for programmers
        reason = ("an integer of over 4,300 digits" if "integer string conversion" in str(exc)
                  else one_line(str(exc), 120))
        raise ShowError(f"{where}: not valid TOML: {reason}") from None
    return dataclasses.replace(parse_show(document, path.parent), path=path)


def make_clock(show: Show, **options):
    """The live clock the show asks for; `options` go to its constructor (e.g. `now_ns`)."""
    if show.clock.source == "internal":
        return InternalClock(show.clock.tempo_map(), latency_ms=show.clock.latency_ms,
                             **options)
    if show.clock.source == "midi":
        return MidiClock(show.clock.port, **options)
    if show.clock.source == "audio":
        from .audio_clock import AudioClock   # needs the `audio` extra
        return AudioClock.for_show(show, **options)
    if show.clock.source in TIMECODE_SOURCES:
        from .timecode import timecode_clock
        return timecode_clock(show, **options)
    from .link_clock import LinkClock  # needs the network tempo library, an optional extra
    return LinkClock(show.clock.bpm, show.quantum, latency_ms=show.clock.latency_ms, **options)
