"""User packs: the patterns and recordings a user brings, read from one JSON file.

A pack file is either a JSON list of patterns, or an object with the keys "patterns" and
"recordings" (each optional). A pattern is {"name", "description", "samples": [[x, y, z], ...]},
the arguments of kinetra.SampledPattern; a recording is {"name", "axes": [...],
"samples": [[...], ...], "bpm", "beat_zero_seconds", "start_pip"} (the last two optional), the
arguments of kinetra.SampledRecording. The module validates everything; a fault is reported as
a PackError naming the entry, and nothing of the pack is used.
"""

from __future__ import annotations

import json
from dataclasses import dataclass
from pathlib import Path

import kinetra


class PackError(ValueError):
    """A pack file that cannot be used, with the entry at fault in its message."""


@dataclass(frozen=True)
class Pack:
    library: kinetra.PatternLibrary
    patterns: tuple[kinetra.SampledPattern, ...]
    recordings: tuple[kinetra.SampledRecording, ...]

    def recording(self, name: str) -> kinetra.SampledRecording | None:
        return next((r for r in self.recordings if r.name == name), None)


PACK_KEYS = ("patterns", "recordings")


def _entries(document: object, key: str, where: str) -> list[dict]:
    entries = document.get(key, []) if isinstance(document, dict) else None
    if not isinstance(entries, list) or not all(isinstance(e, dict) for e in entries):
        raise PackError(f"{where}: {key} must be a list of objects")
    return entries


def _build(kind, entry: dict, required: tuple[str, ...], optional: tuple[str, ...], where: str):
    missing = [key for key in required if key not in entry]
    unknown = sorted(set(entry) - set(required) - set(optional))
    if missing:
        raise PackError(f"{where}: missing key {missing[0]!r}")
    if unknown:
        raise PackError(f"{where}: unknown key {unknown[0]!r}")
    try:
        return kind(*(entry[key] for key in required),
                    **{key: entry[key] for key in optional if key in entry})
    except (TypeError, ValueError) as exc:
        raise PackError(f"{where}: {exc}") from None


def read_pack(path: Path | str) -> Pack:
    path = Path(path)
    try:
        document = json.loads(path.read_text(encoding="utf-8"))
    except (OSError, UnicodeDecodeError, json.JSONDecodeError) as exc:
        raise PackError(f"{path}: {exc}") from None
    if isinstance(document, list):
        document = {"patterns": document}
    if not isinstance(document, dict):
        raise PackError(f"{path}: expected a list of patterns or an object")
    unknown = sorted(set(document) - set(PACK_KEYS))
    if unknown:
        raise PackError(f"{path}: unknown key {unknown[0]!r}")
    patterns = tuple(
        _build(kinetra.SampledPattern, entry, ("name", "description", "samples"), (),
               f"{path}: patterns[{i}]")
        for i, entry in enumerate(_entries(document, "patterns", str(path))))
    recordings = tuple(
        _build(kinetra.SampledRecording, entry, ("name", "axes", "samples", "bpm"),
               ("beat_zero_seconds", "start_pip"), f"{path}: recordings[{i}]")
        for i, entry in enumerate(_entries(document, "recordings", str(path))))
    try:
        library = kinetra.PatternLibrary(list(patterns))
    except ValueError as exc:
        raise PackError(f"{path}: {exc}") from None
    names = [r.name for r in recordings]
    if len(set(names)) != len(names):
        raise PackError(f"{path}: two recordings share a name")
    return Pack(library, patterns, recordings)
