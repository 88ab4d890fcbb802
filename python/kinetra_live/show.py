"""Show files: a rig, its clock and its outputs, read from TOML into frozen dataclasses.

Everything is checked before anything is opened or sent; a fault raises `ShowError` whose
message names the key path and the reason (`fixture[2].phase_pips: expected an integer`).
Tempos, beats and speeds stay exact `Fraction`s; only values that leave for an output are floats.
"""

from __future__ import annotations

import math
import tomllib
from dataclasses import dataclass
from fractions import Fraction
from pathlib import Path

import kinetra

from . import packs, timebase
from .clocks import InternalClock
from .midi_clock import MidiClock

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


class ShowError(ValueError):
    """A show file that cannot be used; the message names the key at fault and why."""


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
    songs: tuple = ()               # timecode.Song: where each song's tempo map starts

    def phase_of(self, fixture: Fixture) -> int:
        """The fixture's phase in pips: its own offset plus its group's spread."""
        phase = fixture.phase_pips
        for group in self.groups:
            if fixture.name in group.fixtures:
                phase += group.offset(group.fixtures.index(fixture.name))
        return phase

    def loop_beats(self, pattern: str) -> Fraction:
        if self.pack is not None:
            for user in self.pack.patterns:
                if user.name == pattern:
                    return Fraction(user.period_pips, timebase.PIPS_PER_BEAT)
            recording = self.pack.recording(pattern)
            if recording is not None:
                return Fraction(recording.sample_count, timebase.PIPS_PER_BEAT)
        return Fraction(_default_periods()[pattern], timebase.PIPS_PER_BEAT)

    @property
    def quantum(self) -> Fraction:
        """The tempo-sync quantum in beats: the show's, or the least common multiple of every
        fixture's loop at its speed, so a whole study lands in phase on every peer."""
        if self.clock.quantum is not None:
            return self.clock.quantum
        return Fraction(timebase.quantum_of(
            self.loop_beats(f.pattern) * timebase.PIPS_PER_BEAT / f.speed
            for f in self.fixtures))


_PERIODS: dict[str, int] = {}


def _default_periods() -> dict[str, int]:
    if not _PERIODS:
        _PERIODS.update((row["name"], row["period_pips"]) for row in kinetra.catalogue())
    return _PERIODS


class _Table:
    """One TOML table being read, with the key path its errors name."""

    def __init__(self, data: object, where: str, keys: tuple[str, ...]):
        if not isinstance(data, dict):
            raise ShowError(f"{where}: expected a table")
        unknown = sorted(set(data) - set(keys))
        if unknown:
            raise ShowError(f"{self._path(where, unknown[0])}: unknown key")
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
            raise self.fail(key, f"expected an integer from {low} to {high}, got {value}")
        return value

    def number(self, key: str, default: float | None = None) -> float:
        if key not in self.data:
            if default is None:
                raise self.fail(key, "missing")
            return default
        value = self.data[key]
        if isinstance(value, bool) or not isinstance(value, (int, float)) \
                or not math.isfinite(value):
            raise self.fail(key, "expected a finite number")
        return float(value)

    def exact(self, key: str, default: Fraction | None = None, *, positive: bool = False,
              what: str = "a number") -> Fraction:
        if key not in self.data:
            if default is None:
                raise self.fail(key, "missing")
            return default
        return _exact(self.data[key], self._path(self.where, key), positive, what)

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
                                 f"got {value!r}")
        return value

    def triple(self, key: str, default: tuple, kind: type) -> tuple:
        if key not in self.data:
            return default
        value = self.data[key]
        accepted = (bool,) if kind is bool else (int, float)
        if not isinstance(value, list) or len(value) != 3 or not all(
                isinstance(v, accepted) and (kind is bool) == isinstance(v, bool)
                and (kind is bool or math.isfinite(v)) for v in value):
            noun = "booleans" if kind is bool else "numbers"
            raise self.fail(key, f"expected three {noun} for x, y, z")
        return tuple(kind(v) for v in value)

    def tables(self, key: str) -> list:
        value = self.data.get(key, [])
        if not isinstance(value, list) or not all(isinstance(v, dict) for v in value):
            raise self.fail(key, "expected an array of tables")
        return value


def _exact(value: object, where: str, positive: bool, what: str) -> Fraction:
    """A number as an exact Fraction: an integer, a float read as its text, or a ratio "3/2"."""
    if isinstance(value, bool) or not isinstance(value, (int, float, str)):
        raise ShowError(f"{where}: expected {what}")
    try:
        exact = timebase.exact(value, where)
    except (TypeError, ValueError, ZeroDivisionError):
        raise ShowError(f"{where}: expected {what}, got {value!r}") from None
    if positive and exact <= 0:
        raise ShowError(f"{where}: expected a positive number, got {value!r}")
    return exact


def _clock(data: object) -> ClockSpec:
    table = _Table(data, "clock", ("source", "bpm", "tempo_changes", "latency_ms", "quantum",
                                   "port", "beat_zero_seconds", "device", "bpm_range",
                                   "freewheel_frames", "udp_port"))
    source = table.text("source", "internal", CLOCK_SOURCES)
    # the sound and timecode bring their own tempo; bpm is then only where a count starts
    bpm = table.exact("bpm", Fraction(120) if source in ("audio",) + TIMECODE_SOURCES else None,
                      positive=True, what="a tempo in beats per minute")
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
        parsed.append((beat, _exact(change[1], where, True, "a beat and a tempo")))
    latency = table.exact("latency_ms", Fraction(0))
    quantum = table.exact("quantum", positive=True) if table.has("quantum") else None
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


def pattern_exists(name: str, pack: packs.Pack | None) -> bool:
    if name in _default_periods():
        return True
    return pack is not None and (any(p.name == name for p in pack.patterns)
                                 or pack.recording(name) is not None)


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
                "rotate_degrees", "park", "crossfade", "osc_address", "dmx", "midi")


def _fixture(data: object, index: int, pack: packs.Pack | None) -> Fixture:
    where = f"fixture[{index}]"
    table = _Table(data, where, FIXTURE_KEYS)
    name = table.text("name")
    pattern = table.text("pattern")
    if not pattern_exists(pattern, pack):
        raise table.fail("pattern", f"unknown pattern {pattern!r}")
    speed = table.exact("speed", Fraction(1), positive=True, what="a ratio such as \"3/2\"")
    if speed > MAX_SPEED:
        raise table.fail("speed", f"expected at most {MAX_SPEED}, got {speed}")
    scale = table.triple("scale", (1.0, 1.0, 1.0), float)
    invert = table.triple("invert", (False, False, False), bool)
    swap = table.text("swap") if table.has("swap") else None
    if swap is not None and (len(swap) != 2 or swap[0] == swap[1] or set(swap) - set(AXES)):
        raise table.fail("swap", f"expected two different axes such as \"xy\", got {swap!r}")
    park = table.triple("park", (0.0, 0.0, 0.0), float)
    if not all(-1 <= v <= 1 for v in park):
        raise table.fail("park", "expected three numbers from -1 to 1")
    crossfade = None
    if table.has("crossfade"):
        fade = _Table(table.raw("crossfade"), f"{where}.crossfade", ("to", "at_beat", "beats"))
        to = fade.text("to")
        if not pattern_exists(to, pack):
            raise fade.fail("to", f"unknown pattern {to!r}")
        crossfade = Crossfade(to, fade.exact("at_beat"), fade.exact("beats", positive=True))
    osc_address = table.text("osc_address") if table.has("osc_address") else None
    if osc_address is not None and not osc_address.startswith("/"):
        raise table.fail("osc_address", "expected an OSC address beginning with '/'")
    return Fixture(
        name, pattern, table.integer("phase_pips", 0), speed, scale, invert, swap,
        table.number("rotate_degrees", 0.0), park, crossfade, osc_address,
        _dmx(table.raw("dmx"), f"{where}.dmx") if table.has("dmx") else None,
        _midi(table.raw("midi"), f"{where}.midi") if table.has("midi") else None)


def _group(data: object, index: int, names: set[str], grouped: set[str]) -> Group:
    table = _Table(data, f"group[{index}]", ("name", "fixtures", "spread", "spread_pips"))
    name = table.text("name")
    members = table.raw("fixtures")
    if not (isinstance(members, list) and members and all(isinstance(m, str) for m in members)):
        raise table.fail("fixtures", "expected a non-empty array of fixture names")
    for member in members:
        if member not in names:
            raise table.fail("fixtures", f"no fixture is named {member!r}")
        if member in grouped:
            raise table.fail("fixtures", f"fixture {member!r} is already in a group")
        grouped.add(member)
    return Group(name, tuple(members), table.text("spread", "fan", SPREADS),
                 table.integer("spread_pips", 0))


def _output(data: object, index: int) -> Output:
    table = _Table(data, f"output[{index}]", ("kind", "name", "address", "universe", "prefix"))
    kind = table.text("kind", choices=OUTPUT_KINDS)
    address = table.text("address")
    port = None
    if kind != "midi":
        host, colon, port_text = address.rpartition(":")
        if not colon:
            host, port_text = address, str(DMX_PORTS.get(kind, ""))
        if not host or not port_text.isdigit() or not 0 < int(port_text) < 65536:
            raise table.fail("address", f"expected HOST:PORT, got {address!r}"
                             if kind == "osc" else f"expected HOST or HOST:PORT, got {address!r}")
        address, port = host, int(port_text)
    prefix = table.text("prefix", "/kinetra")
    if not prefix.startswith("/") or prefix.endswith("/"):
        raise table.fail("prefix", "expected an OSC address such as \"/kinetra\"")
    universe = (table.integer("universe", *UNIVERSES[kind]) if kind in UNIVERSES else None)
    return Output(kind, table.text("name", kind), address, port, universe, prefix)


def _check_patches(fixtures: tuple[Fixture, ...]) -> None:
    used: dict[tuple[int, int], str] = {}
    for index, fixture in enumerate(fixtures):
        if fixture.dmx is None:
            continue
        for key in ("pan", "tilt"):
            first = getattr(fixture.dmx, key)
            for channel in range(first, first + fixture.dmx.bits // 8):
                owner = used.setdefault((fixture.dmx.universe, channel), fixture.name)
                if owner != fixture.name:
                    raise ShowError(f"fixture[{index}].dmx.{key}: channel {channel} of universe "
                                    f"{fixture.dmx.universe} is already used by {owner!r}")


def parse_show(document: dict, base: Path | None = None) -> Show:
    """The show described by a parsed TOML document; `base` is where a pack path is relative
    to."""
    top = _Table(document, "", ("clock", "fixture", "group", "output", "fps", "on_stop", "pack",
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
    fixtures = tuple(_fixture(d, i, pack) for i, d in enumerate(top.tables("fixture")))
    if not fixtures:
        raise top.fail("fixture", "a show needs at least one fixture")
    names: set[str] = set()
    for index, fixture in enumerate(fixtures):
        if fixture.name in names:
            raise ShowError(f"fixture[{index}].name: duplicate fixture name {fixture.name!r}")
        names.add(fixture.name)
    grouped: set[str] = set()
    groups = tuple(_group(d, i, names, grouped) for i, d in enumerate(top.tables("group")))
    outputs = tuple(_output(d, i) for i, d in enumerate(top.tables("output")))
    seen: set[str] = set()
    for index, output in enumerate(outputs):
        if output.name in seen:
            raise ShowError(f"output[{index}].name: duplicate output name {output.name!r}")
        seen.add(output.name)
    _check_patches(fixtures)
    from . import timecode
    try:
        songs = timecode.parse_songs(top.tables("song"), clock.source in TIMECODE_SOURCES)
    except ValueError as exc:
        raise ShowError(str(exc)) from None
    show = Show(None, clock, fixtures, groups, outputs, top.integer("fps", DEFAULT_FPS, 1, 1000),
                top.text("on_stop", "park", ON_STOP), pack, songs)
    for index, fixture in enumerate(fixtures):
        if not -I32 <= show.phase_of(fixture) < I32:
            raise ShowError(f"fixture[{index}].phase_pips: phase with spread is outside 32 bits")
    return show


def load_show(path: Path | str) -> Show:
    path = Path(path)
    try:
        document = tomllib.loads(path.read_text(encoding="utf-8"))
    except (OSError, UnicodeDecodeError) as exc:
        raise ShowError(f"{path}: {exc}") from None
    except tomllib.TOMLDecodeError as exc:
        raise ShowError(f"{path}: not valid TOML: {exc}") from None
    show = parse_show(document, path.parent)
    return Show(path, show.clock, show.fixtures, show.groups, show.outputs, show.fps,
                show.on_stop, show.pack, show.songs)


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
