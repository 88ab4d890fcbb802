"""What the preview page shows: one entry per pattern or recording, and the samples of each.

The served page asks for exact samples entry by entry; the static export carries every entry
in one compact block (quantised, delta-encoded, deflated) that the browser inflates itself.
"""

from __future__ import annotations

import base64
import json
import re
import struct
import zlib

import kinetra

from . import names
from .packs import Pack

RUDIMENTS = 15            # the listings put the fifteen procedural rudiments first
QUANTUM = 2048            # export grid: 1/2048 per step, so a stored value is within 2.5e-4
BEAT_STYLE_MARK = " — "   # a beat study's description starts with its style, then this mark


def _family(name: str, index: int, defaults: int) -> str:
    if index < RUDIMENTS or name.startswith("rudiment_"):
        return "rudiments"  # the procedural stickings and the sampled ones, in one place
    if index >= defaults:
        return "your patterns"
    if name.startswith("beat_"):
        return "beat studies"
    return name.split("_", 1)[0]


def entries(pack: Pack | None = None) -> list[dict]:
    """Every pattern a library can sample, then the pack's recordings, in listing order."""
    listing = pack.library.catalogue() if pack else kinetra.catalogue()
    defaults = len(kinetra.catalogue()) if pack else len(listing)
    out = []
    for index, row in enumerate(listing):
        family = _family(row["name"], index, defaults)
        style = ""
        if family == "beat studies" and BEAT_STYLE_MARK in row["description"]:
            style = row["description"].split(BEAT_STYLE_MARK, 1)[0]
        out.append({"name": row["name"], "description": row["description"], "kind": "pattern",
                    "period": row["period_pips"], "dims": row["dimensions"],
                    "family": family, "style": style, "axes": ["x", "y", "z"][:row["dimensions"]]})
    for recording in pack.recordings if pack else ():
        out.append({"name": recording.name, "kind": "recording", "family": "your recordings",
                    "style": "", "description": f"Recording at {recording.bpm:g} BPM",
                    "period": recording.sample_count, "dims": len(recording.dimensions),
                    "axes": list(recording.dimensions), "start": recording.start_pip,
                    "bpm": recording.bpm})
    return out


def refusals(pack: Pack | None) -> dict[str, str]:
    """The module's TypeError text for a pip outside 32 bits, per kind of entry, up to the
    arguments it names: the page adds the name (for a pattern) and the pip. Object addresses,
    which differ from run to run, are left out."""
    beyond = 2**31
    library = pack.library if pack else None
    recording = kinetra.SampledRecording("r", ["x"], [[0.0]], 120.0)
    calls = {"pattern": (library.sample if library else kinetra.sample, ("circle", beyond)),
             "recording": (recording.sample, (beyond,))}
    out = {}
    for kind, (call, args) in calls.items():
        try:
            call(*args)
        except TypeError as exc:
            text = re.sub(r" at 0x[0-9a-fA-F]+>", ">", str(exc))
            out[kind] = text.removesuffix(", ".join(map(repr, args)))
    return out


def samples(entry: dict, pack: Pack | None) -> list[float]:
    """One loop (or the whole recording) as a flat list, axis after axis of each pip."""
    resolved = names.resolve(entry["name"], pack)
    if resolved.kind == names.RECORDING:
        recording = resolved.recording
        start = recording.start_pip
        return [v for k in range(recording.sample_count) for v in recording.sample(start + k)]
    sample = names.source(resolved, pack)
    dims = entry["dims"]
    return [v for k in range(resolved.span_pips) for v in sample(k)[:dims]]


def _varints(values: list[float], dims: int, out: bytearray) -> None:
    # Axis by axis, each pip's step from the last on the grid, zigzag varints: motion is
    # smooth, so most steps fit one byte and deflate finds the rest.
    for axis in range(dims):
        previous = 0
        for value in values[axis::dims]:
            q = round(value * QUANTUM)
            step, previous = q - previous, q
            z = (step << 1) ^ (step >> 63)
            while z >= 0x80:
                out.append(z & 0x7F | 0x80)
                z >>= 7
            out.append(z)


def compact_block(pack: Pack | None = None) -> str:
    """Every entry and its samples as base64 of deflate(meta length, meta JSON, varints)."""
    listed = entries(pack)
    body = bytearray()
    for entry in listed:
        entry["offset"] = len(body)
        _varints(samples(entry, pack), entry["dims"], body)
    meta = json.dumps({"quantum": QUANTUM, "entries": listed, "refusals": refusals(pack)}, ensure_ascii=False,
                      separators=(",", ":")).encode("utf-8")
    raw = struct.pack("<I", len(meta)) + meta + bytes(body)
    return base64.b64encode(zlib.compress(raw, 9)).decode("ascii")
