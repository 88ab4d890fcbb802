"""Moving-head profiles read from fixture definitions in the Open Fixture Library's JSON format.

Only what motion needs is taken from a mode: the offsets (1-based, within the mode) of pan,
pan fine, tilt and tilt fine, the mode's channel count, and the pan and tilt ranges in degrees.
Ranges come from the Pan and Tilt capabilities' `angleStart`/`angleEnd`, or, in files of the
format's older version, from `physical.focus.panMax`/`tiltMax`. A range the file cannot give
(percentages only, endless rotation, several capabilities on one channel) is `None` with the
reason, so that a show can give it instead; a mode without pan or tilt is refused outright.
"""

from __future__ import annotations

import json
import re
from dataclasses import dataclass
from pathlib import Path

DEGREES = re.compile(r"^(-?[0-9]+(?:\.[0-9]+)?)deg$")
UNIVERSE = 512
ENDLESS = {"Pan": "PanContinuous", "Tilt": "TiltContinuous"}
PIXEL_ORDERS = {"eachPixelXYZ": "xyz", "eachPixelXZY": "xzy", "eachPixelYXZ": "yxz",
                "eachPixelYZX": "yzx", "eachPixelZXY": "zxy", "eachPixelZYX": "zyx"}


class ProfileError(ValueError):
    """A fixture file or mode that cannot drive a head; the message names the file, the mode
    and why."""


@dataclass(frozen=True)
class Axis:
    channel: int                # offset of the coarse channel in the mode, 1-based
    fine: int | None            # offset of the fine channel, when the mode has one
    degrees: float | None       # the whole DMX range in degrees, when the file gives it
    why_no_degrees: str | None  # otherwise, why not


@dataclass(frozen=True)
class Profile:
    path: Path
    name: str
    mode: str
    channel_count: int
    pan: Axis
    tilt: Axis


def read_profile(path: Path | str, mode: str) -> Profile:
    path = Path(path)
    try:
        data = json.loads(path.read_text(encoding="utf-8"))
    except (OSError, UnicodeDecodeError) as exc:
        raise ProfileError(f"{path}: {exc.strerror if isinstance(exc, OSError) else exc}") \
            from None
    except json.JSONDecodeError as exc:
        raise ProfileError(f"{path}: not valid JSON: {exc}") from None
    except RecursionError:
        raise ProfileError(f"{path}: not a fixture definition (nested too deeply)") from None
    try:
        return _profile(path, data, mode)
    except (KeyError, TypeError, AttributeError, IndexError) as exc:
        raise ProfileError(f"{path}: not a fixture definition ({type(exc).__name__}: {exc})") \
            from None


def _profile(path: Path, data: dict, mode_name: str) -> Profile:
    modes = data["modes"]
    found = [m for m in modes if mode_name in (m["name"], m.get("shortName"))]
    if not found:
        names = ", ".join(repr(m["name"]) for m in modes)
        raise ProfileError(f"{path}: no mode {mode_name!r} (modes: {names})")
    mode = found[0]
    where = f"{path}: mode {mode['name']!r}"
    channels = _mode_channels(data, mode, where)
    definitions = _definitions(data)
    offsets = {name: i + 1 for i, name in reversed(list(enumerate(channels))) if name}
    axes = {}
    for kind in ("Pan", "Tilt"):
        found_axes = [name for name in channels if name and _is_axis(definitions.get(name), kind)]
        if not found_axes:
            raise ProfileError(f"{where}: no {kind.lower()} channel")
        if len(set(found_axes)) > 1:
            raise ProfileError(f"{where}: {len(found_axes)} {kind.lower()} channels "
                               f"({', '.join(found_axes)}); one head a fixture is supported")
        name = found_axes[0]
        definition = definitions[name]
        fine = next((offsets[alias] for alias in definition.get("fineChannelAliases", ())[:1]
                     if alias in offsets), None)
        endless = any(_has_capability(definitions.get(other), ENDLESS[kind])
                      for other in channels if other)
        degrees, why = _degrees(data, definition, kind, endless)
        axes[kind] = Axis(offsets[name], fine, degrees, why)
    return Profile(path, data.get("name", path.stem), mode["name"], len(channels),
                   axes["Pan"], axes["Tilt"])


def _definitions(data: dict) -> dict:
    """Every channel key a mode may name, fine aliases included, to its definition."""
    found = {}
    for key, definition in data.get("availableChannels", {}).items():
        found[key] = definition
        for alias in definition.get("fineChannelAliases", ()):
            found.setdefault(alias, {"fineOf": key})
    return found


def _is_axis(definition: dict | None, kind: str) -> bool:
    return definition is not None and _has_capability(definition, kind)


def _capabilities(definition: dict) -> list:
    if "capability" in definition:
        return [definition["capability"]]
    return definition.get("capabilities", [])


def _has_capability(definition: dict | None, kind: str) -> bool:
    return definition is not None and any(c.get("type") == kind
                                          for c in _capabilities(definition))


def _degrees(data: dict, definition: dict, kind: str, endless: bool
             ) -> tuple[float | None, str | None]:
    if endless:
        return None, f"endless {kind.lower()} ({ENDLESS[kind]}) in this mode"
    capabilities = [c for c in _capabilities(definition) if c.get("type") == kind]
    if len(capabilities) == 1:
        capability = capabilities[0]
        angles = [capability.get("angleStart"), capability.get("angleEnd")]
        if "angle" in capability:
            return None, f"{kind.lower()} is one fixed angle, not a range"
        matches = [DEGREES.match(a) if isinstance(a, str) else None for a in angles]
        if all(matches):
            start, end = (float(m.group(1)) for m in matches)
            if start != end:
                return abs(end - start), None
    elif len(capabilities) > 1:
        return None, f"the {kind.lower()} channel has {len(capabilities)} capabilities"
    focus = data.get("physical", {}).get("focus", {})
    legacy = focus.get(f"{kind.lower()}Max")
    if legacy == "infinite":
        return None, f"endless {kind.lower()} (physical.focus.{kind.lower()}Max is \"infinite\")"
    if isinstance(legacy, (int, float)) and not isinstance(legacy, bool) and legacy > 0:
        return float(legacy), None
    return None, f"{kind.lower()} is given only in percent, not degrees"


def _mode_channels(data: dict, mode: dict, where: str) -> list[str | None]:
    """The mode's channel keys in DMX order, matrix inserts expanded; None for unused ones."""
    channels: list[str | None] = []
    too_many = ProfileError(f"{where}: more channels than a universe holds")
    for entry in mode["channels"]:
        if len(channels) > UNIVERSE:
            raise too_many
        if entry is None or isinstance(entry, str):
            channels.append(entry)
            continue
        keys = _repeat_keys(data.get("matrix", {}), entry["repeatFor"], too_many)
        templates = entry["templateChannels"]
        if len(channels) + len(keys) * len(templates) > UNIVERSE:
            raise too_many
        if entry["channelOrder"] == "perPixel":
            pairs = [(key, t) for key in keys for t in templates]
        else:
            pairs = [(key, t) for t in templates for key in keys]
        channels += [None if t is None else t.replace("$pixelKey", key) for key, t in pairs]
    if len(channels) > UNIVERSE:
        raise too_many
    return channels


def _repeat_keys(matrix: dict, repeat, too_many: ProfileError) -> list[str]:
    if isinstance(repeat, list):
        return repeat
    if repeat == "eachPixelGroup":
        return list(matrix.get("pixelGroups", {}))
    if "pixelKeys" in matrix:
        # [z][y][x]
        cells = [(key, x, y, z) for z, plane in enumerate(matrix["pixelKeys"])
                 for y, row in enumerate(plane) for x, key in enumerate(row) if key is not None]
    else:
        nx, ny, nz = counts = matrix["pixelCount"]
        if not all(type(n) is int for n in counts):
            raise TypeError(f"pixelCount {counts!r}")
        if nx * ny * nz > UNIVERSE:
            raise too_many
        # only the count of these matters: motion channels are never template channels
        cells = [(f"{x + 1} {y + 1} {z + 1}", x, y, z)
                 for z in range(nz) for y in range(ny) for x in range(nx)]
    if repeat == "eachPixelABC":
        return sorted(c[0] for c in cells)
    order = PIXEL_ORDERS[repeat]
    axis = {"x": 1, "y": 2, "z": 3}
    # the first letter varies fastest
    return [c[0] for c in sorted(cells, key=lambda c: tuple(c[axis[a]] for a in order[::-1]))]
