"""Moving heads in a show: a fixture that names a `profile` and `mode` is patched at `universe`
and `address`, and moves in degrees on the profile's ranges, within hard limits.

    profile = "fixtures/spot.json"   mode = "Standard"   universe = 1   address = 101
    pan_degrees = [90, 450]          tilt_degrees = [60, 200]     (x and y land on these)
    limits = { pan = [0, 540], tilt = [20, 250] }                 (never exceeded)
    hang = "truss"                   pan_max = 540   tilt_max = 270  (ranges the file lacks)
    position = [x, y, z]   aim = { at = [x, y, z], size = [sx, sy, sz] }
    max_degrees_per_second = { pan = 300, tilt = 200 }   smooth = true
"""

from __future__ import annotations

import math
from dataclasses import dataclass
from pathlib import Path

from . import fixture_profiles
from . import show as shows

HEAD_KEYS = ("profile", "mode", "universe", "address", "pan_degrees", "tilt_degrees", "limits",
             "hang", "pan_max", "tilt_max", "max_degrees_per_second", "smooth", "position",
             "aim")
HANGS = ("floor", "truss")


@dataclass(frozen=True)
class HeadAxis:
    channel: int                 # coarse DMX channel in the universe, 1-based
    fine: int | None
    span: float                  # degrees of the whole DMX range; 0 degrees is DMX 0
    low: float                   # where -1 lands, in degrees
    high: float                  # where +1 lands
    limit_low: float             # hard limits, in degrees
    limit_high: float
    max_speed: float | None      # degrees a second the head can follow
    step_low: int                # the DMX values that stand for angles within the limits
    step_high: int

    @property
    def bits(self) -> int:
        return 8 if self.fine is None else 16


@dataclass(frozen=True)
class Aim:
    at: tuple[float, float, float]           # metres, in the stage frame
    size: tuple[float, float, float]         # the pattern's offset times this moves the target


@dataclass(frozen=True)
class HeadPatch:
    profile: fixture_profiles.Profile
    universe: int
    address: int
    pan: HeadAxis
    tilt: HeadAxis
    hang: str
    position: tuple[float, float, float] | None   # the head, in metres, in the stage frame
    aim: Aim | None
    smooth: bool

    @property
    def channels(self) -> range:
        return range(self.address, self.address + self.profile.channel_count)


def read_head(table, where: str, base: Path | None) -> HeadPatch | None:
    """The head patch of a fixture's table (`show._Table`), or None when it names no profile."""
    given = [key for key in HEAD_KEYS if table.has(key)]
    if not table.has("profile"):
        if given:
            raise table.fail(given[0], "needs a profile")
        return None
    if table.has("dmx"):
        raise table.fail("dmx", "a fixture with a profile is patched by universe and address")
    path = Path(table.text("profile"))
    if base is not None and not path.is_absolute():
        path = base / path
    try:
        profile = fixture_profiles.read_profile(path, table.text("mode"))
    except fixture_profiles.ProfileError as exc:
        raise table.fail("profile", str(exc)) from None
    speeds = {}
    if table.has("max_degrees_per_second"):
        speed_table = shows._Table(table.raw("max_degrees_per_second"),
                                   f"{where}.max_degrees_per_second", ("pan", "tilt"))
        for key in ("pan", "tilt"):
            if speed_table.has(key):
                speeds[key] = _positive(speed_table, key)
    address = table.integer("address", None, 1, 512)
    if address + profile.channel_count - 1 > 512:
        raise table.fail("address", f"mode {profile.mode!r} has {profile.channel_count} "
                                    f"channels: channel {address + profile.channel_count - 1} "
                                    f"is past 512")
    limits = (shows._Table(table.raw("limits"), f"{where}.limits", ("pan", "tilt"))
              if table.has("limits") else None)
    axes = {}
    for key, axis in (("pan", profile.pan), ("tilt", profile.tilt)):
        span = axis.degrees
        if table.has(f"{key}_max"):
            span = _positive(table, f"{key}_max")
        elif span is None:
            raise table.fail("profile", f"{profile.path}: mode {profile.mode!r}: "
                                        f"{axis.why_no_degrees}; give {key}_max in degrees")
        low, high = _degree_pair(table, f"{key}_degrees", span)
        limit_low, limit_high = (_degree_pair(limits, key, span, closed=True)
                                 if limits is not None else (0.0, span))
        fine = None if axis.fine is None else address + axis.fine - 1
        top = 255 if fine is None else 65535
        # the rounding allowance keeps a limit that is itself a step
        step_low = math.ceil(limit_low / span * top - 1e-9)
        step_high = math.floor(limit_high / span * top + 1e-9)
        if step_low > step_high:
            raise limits.fail(key, f"no {top.bit_length()}-bit DMX value lies within "
                                   f"[{limit_low:g}, {limit_high:g}] degrees")
        axes[key] = HeadAxis(address + axis.channel - 1, fine, span, low, high, limit_low,
                             limit_high, speeds.get(key), step_low, step_high)
    smooth = table.raw("smooth", False)
    if not isinstance(smooth, bool):
        raise table.fail("smooth", "expected true or false")
    if smooth and not speeds:
        raise table.fail("smooth", "needs max_degrees_per_second")
    return HeadPatch(profile, table.integer("universe", 1, 0, 63999), address, axes["pan"],
                     axes["tilt"], table.text("hang", "floor", HANGS),
                     table.triple("position", None, float) if table.has("position") else None,
                     _aim(table, where), smooth)


def _positive(table, key: str) -> float:
    value = table.number(key)
    if value <= 0:
        raise table.fail(key, f"expected a positive number, got {value:g}")
    return value


def _degree_pair(table, key: str, span: float, closed: bool = False) -> tuple[float, float]:
    value = table.raw(key, [0.0, span])
    ordered = (lambda lo, hi: lo <= hi) if closed else (lambda lo, hi: lo < hi)
    if not (isinstance(value, list) and len(value) == 2
            and all(isinstance(v, (int, float)) and not isinstance(v, bool)
                    and math.isfinite(v) for v in value)
            and 0 <= value[0] and value[1] <= span and ordered(*value)):
        relation = "<=" if closed else "<"
        raise table.fail(key, f"expected [low, high] in degrees with 0 <= low {relation} high "
                              f"<= {span:g}")
    return float(value[0]), float(value[1])


def _aim(table, where: str) -> Aim | None:
    if not table.has("aim"):
        return None
    if not table.has("position"):
        raise table.fail("aim", "needs the fixture's position")
    aim = shows._Table(table.raw("aim"), f"{where}.aim", ("at", "size"))
    if not aim.has("at"):
        raise aim.fail("at", "missing")
    return Aim(aim.triple("at", None, float), aim.triple("size", (0.0, 0.0, 0.0), float))
