"""User packs: the patterns and recordings a user brings, read from one JSON file.

A pack file is either a JSON list of patterns, or an object with the keys "patterns" and
"recordings" (each optional). A pattern is {"name", "description", "samples": [[x, y, z], ...]},
the arguments of kinetra.SampledPattern; a recording is {"name", "axes": [...],
"samples": [[...], ...], "bpm", "beat_zero_seconds", "start_pip"} (the last two optional), the
arguments of kinetra.SampledRecording. The module checks everything; a fault names the entry,
and a wrong shape or type also the sample, never the binding's dump of its arguments. A name means one thing: a recording
may not take a default's name, nor share one with another entry of the pack. A fault is
reported as a PackError, and nothing of the pack is used.
"""

from __future__ import annotations

import json
from dataclasses import dataclass
from pathlib import Path

import kinetra

from .files import FileRefused, read_text
from .quoting import one_line, quote

MAX_PACK_BYTES = 64 << 20
I32 = 2**31
FLOAT_INT = 2**1023      # integers this large or larger may not convert to a float


class PackError(ValueError):
    """A pack file that cannot be used, with the entry at fault in its message."""

    def __init__(self, message: str):
        super().__init__(one_line(message))


@dataclass(frozen=True)
class Pack:
    library: kinetra.PatternLibrary
    patterns: tuple[kinetra.SampledPattern, ...]
    recordings: tuple[kinetra.SampledRecording, ...]

    def pattern(self, name: str) -> kinetra.SampledPattern | None:
        return next((p for p in self.patterns if p.name == name), None)

    def recording(self, name: str) -> kinetra.SampledRecording | None:
        return next((r for r in self.recordings if r.name == name), None)


PACK_KEYS = ("patterns", "recordings")


def _entries(document: object, key: str, where: str) -> list[dict]:
    entries = document.get(key, []) if isinstance(document, dict) else None
    if not isinstance(entries, list) or not all(isinstance(e, dict) for e in entries):
        raise PackError(f"{where}: {key} must be a list of objects")
    return entries


def _number(value: object) -> bool:
    """A JSON number the binding can take as a float (exact types: this runs per sample)."""
    kind = type(value)
    return kind is float or (kind is int and -FLOAT_INT < value < FLOAT_INT)


def _check_types(entry: dict, recording: bool, where: str) -> None:
    """Name the key and the index of what the binding layer refused."""
    for key in ("name",) if recording else ("name", "description"):
        if not isinstance(entry[key], str):
            raise PackError(f"{where}.{key}: expected a string")
    if recording:
        axes = entry["axes"]
        if not isinstance(axes, list) or not all(isinstance(a, str) for a in axes):
            raise PackError(f"{where}.axes: expected a list of strings")
        for key in ("bpm", "beat_zero_seconds"):
            if key in entry and not _number(entry[key]):
                raise PackError(f"{where}.{key}: expected a number, got {quote(entry[key])}")
        start = entry.get("start_pip", 0)
        if isinstance(start, bool) or not isinstance(start, int) or not -I32 <= start < I32:
            raise PackError(f"{where}.start_pip: expected an integer from {-I32} to {I32 - 1}, "
                            f"got {quote(start)}")
    samples = entry["samples"]
    if not isinstance(samples, list):
        raise PackError(f"{where}.samples: expected a list of rows")
    for index, row in enumerate(samples):
        if not (isinstance(row, list) and (recording or len(row) == 3)
                and all(_number(v) for v in row)):
            shape = "a list of numbers" if recording else "three numbers [x, y, z]"
            raise PackError(f"{where}.samples[{index}]: expected {shape}")


def _build(kind, entry: dict, required: tuple[str, ...], optional: tuple[str, ...], where: str):
    missing = [key for key in required if key not in entry]
    unknown = sorted(set(entry) - set(required) - set(optional))
    if missing:
        raise PackError(f"{where}: missing key {quote(missing[0])}")
    if unknown:
        raise PackError(f"{where}: unknown key {quote(unknown[0])}")
    try:
        return kind(*(entry[key] for key in required),
                    **{key: entry[key] for key in optional if key in entry})
    except (TypeError, OverflowError) as exc:
        # the binding's message lists every argument it was given (a whole pack of samples):
        # find the one at fault instead, which costs nothing on a good pack
        _check_types(entry, kind is kinetra.SampledRecording, where)
        raise PackError(f"{where}: {one_line(str(exc), 120)}") from None
    except ValueError as exc:
        raise PackError(f"{where}: {one_line(str(exc), 120)}") from None


def _check_names(patterns, recordings, where: str) -> None:
    defaults = {row["name"] for row in kinetra.catalogue()}
    taken = {p.name: f"patterns[{i}]" for i, p in enumerate(patterns)}
    for index, recording in enumerate(recordings):
        name = recording.name
        if name in defaults:
            raise PackError(f"{where}: recordings[{index}]: {quote(name)} is a default "
                            f"pattern's name; a pack may not give it another meaning")
        if name in taken:
            raise PackError(f"{where}: recordings[{index}]: {quote(name)} is also the name "
                            f"of {taken[name]}; a name means one thing")
        taken[name] = f"recordings[{index}]"


def _parse(text: str, where: str) -> object:
    try:
        return json.loads(text)
    except json.JSONDecodeError as exc:
        raise PackError(f"{where}: not valid JSON: {exc}") from None
    except RecursionError:
        raise PackError(f"{where}: not valid JSON: nested too deeply") from None
    except ValueError:     # the interpreter's limit on integer digits
        raise PackError(f"{where}: not valid JSON: an integer of over 4,300 digits") from None


def read_pack(path: Path | str) -> Pack:
    path = Path(path)
    where = str(path)
    try:
        document = _parse(read_text(path, MAX_PACK_BYTES), where)
    except FileRefused as exc:
        raise PackError(str(exc)) from None
    if isinstance(document, list):
        document = {"patterns": document}
    if not isinstance(document, dict):
        raise PackError(f"{where}: expected a list of patterns or an object")
    unknown = sorted(set(document) - set(PACK_KEYS))
    if unknown:
        raise PackError(f"{where}: unknown key {quote(unknown[0])}")
    patterns = tuple(
        _build(kinetra.SampledPattern, entry, ("name", "description", "samples"), (),
               f"{where}: patterns[{i}]")
        for i, entry in enumerate(_entries(document, "patterns", where)))
    recordings = tuple(
        _build(kinetra.SampledRecording, entry, ("name", "axes", "samples", "bpm"),
               ("beat_zero_seconds", "start_pip"), f"{where}: recordings[{i}]")
        for i, entry in enumerate(_entries(document, "recordings", where)))
    try:
        library = kinetra.PatternLibrary(list(patterns))
    except ValueError as exc:
        raise PackError(f"{where}: {one_line(str(exc), 200)}") from None
    _check_names(patterns, recordings, where)
    return Pack(library, patterns, recordings)
