"""Moving heads: a frame's positions to pan and tilt in degrees, then to DMX.

Without `aim`, x = -1 .. 1 lands linearly on `pan_degrees` and y on `tilt_degrees` (a head on a
truss mirrors x, so a pattern reads the same from the audience); with `aim`, the angles point
the beam at `at + offset * size`. Then, in this order: the limits clamp the angles; with
`smooth`, the move of a frame is held to `max_degrees_per_second` over one frame (a speed
limit never overshoots); and a degree d on a range [0, R] leaves as round(d / R * (2^bits - 1)),
held to the DMX values that lie within the limits.

The mapping keeps the last frame's angles (the nearest pan solution and smoothing need them),
so every consumer that must agree (`run`'s DMX outputs, `render`) feeds it the same frames at
the same rate.
"""

from __future__ import annotations

import functools
import struct
from math import atan2, hypot
from typing import NamedTuple

from .. import aiming
from ..aiming import DEGREES, NEAR, STRAIGHT
from .. import show as shows
from ..heads import HeadPatch
from ..timebase import PIPS_PER_BEAT
from . import mapping

DMX_KINDS = ("sacn", "artnet")


class HeadAngles(NamedTuple):
    pan: float          # degrees sent, before rounding to a DMX step
    tilt: float
    pan_value: int      # DMX values of the axis' bits
    tilt_value: int
    clamped: bool       # the limits (or the ranges) held the head back this frame


class SpeedExcess(NamedTuple):
    fixture: str
    axis: str
    first_pip: int
    last_pip: int
    peak: float         # degrees a second asked for
    allowed: float


# a named tuple made from a tuple without its Python-level __new__: a head a frame
_new_angles = functools.partial(tuple.__new__, HeadAngles)


def dmx_bytes(head: HeadPatch, angles: HeadAngles) -> list[tuple[int, int]]:
    """(channel, byte) pairs: coarse, then fine where the mode has it."""
    pan, tilt, pan_value, tilt_value = head.pan, head.tilt, angles[2], angles[3]
    pairs = ([(pan.channel, pan_value)] if pan.fine is None else
             [(pan.channel, pan_value >> 8), (pan.fine, pan_value & 0xFF)])
    if tilt.fine is None:
        pairs.append((tilt.channel, tilt_value))
    else:
        pairs += ((tilt.channel, tilt_value >> 8), (tilt.fine, tilt_value & 0xFF))
    return pairs


class HeadMotion:
    """One head's angles frame after frame."""

    __slots__ = ("name", "head", "park", "frame_seconds", "last", "asked", "clamped_frames",
                 "_excess", "excesses", "_plan", "_watch")

    def __init__(self, fixture: shows.Fixture, fps: int):
        head = fixture.head
        self.name, self.head, self.park = fixture.name, head, fixture.park
        self.frame_seconds = 1.0 / fps
        self.last: tuple[float, float] | None = None     # angles sent (aimed or watched heads)
        self.asked: tuple[float, float] | None = None    # angles the motion asked for
        self.clamped_frames = 0
        self._excess: dict[str, list] = {}
        self.excesses: list[SpeedExcess] = []
        pan, tilt = head.pan, head.tilt
        self._watch = pan.max_speed is not None or tilt.max_speed is not None
        # what a frame needs, read once: the aim solver (None without aim); without aim the
        # mirror, then per axis where -1 lands, half the width and the limits, with aim the
        # target's middle and size, then the solver's constants; whether the last angles are
        # needed; degrees to DMX, per axis the span, the top value and the steps within the
        # limits
        if head.aim is None:
            solver, where = None, (
                -1.0 if head.hang == "truss" else 1.0,
                pan.low, (pan.high - pan.low) * 0.5, pan.limit_low, pan.limit_high,
                tilt.low, (tilt.high - tilt.low) * 0.5, tilt.limit_low, tilt.limit_high)
        else:
            solver = aiming.solver(head.position, pan.span, tilt.span, head.hang,
                                   (pan.limit_low, pan.limit_high),
                                   (tilt.limit_low, tilt.limit_high))
            where = head.aim.at + head.aim.size + solver
        self._plan = (solver, where, solver is not None or self._watch,
                      (pan.span, float((1 << pan.bits) - 1), pan.step_low, pan.step_high,
                       tilt.span, float((1 << tilt.bits) - 1), tilt.step_low, tilt.step_high))

    def step(self, out, pip: int) -> HeadAngles:
        """The angles of the next frame, at the show's `pip`."""
        return _angles_of(((0, self),), (out,), pip)[0]

    def hold(self, out) -> HeadAngles:
        """Angles for a single frame outside the motion (park), within the limits; the motion
        is left as it was."""
        return _angles_of(((0, self),), (out,), None)[0]

    def centre(self) -> HeadAngles:
        """The middle of each range, or the nearest the limits allow (blackout): a dark head
        rests where it swings least to any cue, never at the end of a range."""
        pan, tilt = (min(max(axis.span / 2, axis.limit_low), axis.limit_high)
                     for axis in (self.head.pan, self.head.tilt))
        steps = self._plan[3]
        return _new_angles((pan, tilt, dmx_value(pan, *steps[:4]), dmx_value(tilt, *steps[4:]),
                            False))

    def _watched(self, pan: float, tilt: float, pip: int) -> tuple[float, float]:
        """Note the speed asked for, and with `smooth` hold the move to the head's speed."""
        head = self.head
        if self.asked is not None:
            for key, axis, now, before in (("pan", head.pan, pan, self.asked[0]),
                                           ("tilt", head.tilt, tilt, self.asked[1])):
                if axis.max_speed is not None:
                    self._note_speed(key, axis.max_speed,
                                     abs(now - before) / self.frame_seconds, pip)
        self.asked = (pan, tilt)
        if head.smooth and self.last is not None:
            pan = _follow(self.last[0], pan, head.pan.max_speed, self.frame_seconds)
            tilt = _follow(self.last[1], tilt, head.tilt.max_speed, self.frame_seconds)
        return pan, tilt

    def _note_speed(self, key: str, allowed: float, speed: float, pip: int) -> None:
        # excesses less than a beat apart are one range: integer pips make the steps of a
        # frame uneven, and a report frame by frame would bury the ranges that matter
        if speed <= allowed * (1 + 1e-9):
            return
        run = self._excess.get(key)
        if run is not None and abs(pip - run[1]) <= PIPS_PER_BEAT:
            run[1], run[2] = pip, max(run[2], speed)
            return
        if run is not None:
            self.excesses.append(SpeedExcess(self.name, key, run[0], run[1], run[2], allowed))
        self._excess[key] = [pip, pip, speed]

    def finish(self) -> None:
        for key, run in sorted(self._excess.items()):
            allowed = getattr(self.head, key).max_speed
            self.excesses.append(SpeedExcess(self.name, key, run[0], run[1], run[2], allowed))
        self._excess.clear()


def dmx_value(degrees: float, span: float, top: float, first: int, last: int) -> int:
    """A degree d on a range [0, R] is round(d / R * (2^bits - 1)), held to the steps within
    the limits (the nearest step may lie a little outside a limit that is not itself a
    step)."""
    value = round(degrees / span * top)
    return first if value < first else last if value > last else value


def _step_values(placed, outs, pip: int | None, angles: list | None = None) -> list[int]:
    """pan, tilt, pan, tilt, ... DMX values of the heads of `placed` ((index in `outs`,
    motion) pairs) at the frame of `outs` at the show's `pip`, each head's motion stepped on;
    with `pip` None a single frame outside the motion (park), which leaves every motion as it
    was. `angles`, where given, gets each head's (pan, tilt, clamped) in degrees.

    One pass a frame over every head: at hundreds of heads a call a head, or a second pass
    for the values, costs more than the angles themselves.

    Without aim, x = -1 .. 1 lands linearly on the pan range and y on the tilt range, then the
    limits clamp; with aim the solver points the beam and keeps within the limits. Then each
    angle is `dmx_value`, written out here."""
    values = []
    append = values.append
    for index, motion in placed:
        solver, where, keeps_last, steps = motion._plan
        if solver is None:
            mirror, p_low, p_half, p_min, p_max, t_low, t_half, t_min, t_max = where
            out = outs[index]
            x, y = out[0] * mirror, out[1]
            x = -1.0 if x < -1.0 else 1.0 if x > 1.0 else x
            y = -1.0 if y < -1.0 else 1.0 if y > 1.0 else y
            p = p_low + (x + 1.0) * p_half
            t = t_low + (y + 1.0) * t_half
            pan = p_min if p < p_min else p_max if p > p_max else p
            tilt = t_min if t < t_min else t_max if t > t_max else t
            clamped = pan != p or tilt != t
        else:
            # aiming.Aim's usual case inline (a call a head costs a tenth of the frame); the
            # solver itself where the beam may lie on the yoke's axis or the first solution
            # does not clearly win
            (at_x, at_y, at_z, size_x, size_y, size_z, px, py, pz, truss, half_pan, half_tilt,
             pan_low, pan_high, tilt_low, tilt_high) = where
            out, last = outs[index], motion.last
            tx, ty, tz = at_x + out[0] * size_x, at_y + out[1] * size_y, at_z + out[2] * size_z
            dx, dy, dz = tx - px, ty - py, tz - pz
            if truss:
                dx, dz = -dx, -dz
            across = hypot(dx, dy)
            reference = half_pan if last is None else last[0]
            if (across > STRAIGHT * (across + (dz if dz > 0.0 else -dz))
                    and tilt_low <= (tilt := atan2(across, dz) * DEGREES + half_tilt) <= tilt_high
                    and pan_low <= (pan := atan2(dx, -dy) * DEGREES + half_pan) <= pan_high
                    and -NEAR < reference - pan < NEAR):
                clamped = False
            else:
                pan, tilt, clamped = solver(tx, ty, tz, None if last is None else last[0])
        if pip is not None:
            if keeps_last:
                if motion._watch:
                    pan, tilt = motion._watched(pan, tilt, pip)
                motion.last = (pan, tilt)
            if clamped:
                motion.clamped_frames += 1
        if angles is not None:
            angles.append((pan, tilt, clamped))
        p_span, p_top, p_first, p_last, t_span, t_top, t_first, t_last = steps
        p_value, t_value = round(pan / p_span * p_top), round(tilt / t_span * t_top)
        append(p_first if p_value < p_first else p_last if p_value > p_last else p_value)
        append(t_first if t_value < t_first else t_last if t_value > t_last else t_value)
    return values


def _angles_of(placed, outs, pip: int | None) -> list[HeadAngles]:
    angles = []
    values = _step_values(placed, outs, pip, angles)
    return [_new_angles((pan, tilt, values[2 * k], values[2 * k + 1], clamped))
            for k, (pan, tilt, clamped) in enumerate(angles)]


def _follow(last: float, wanted: float, speed: float | None, seconds: float) -> float:
    if speed is None:
        return wanted
    step = speed * seconds
    return min(max(wanted, last - step), last + step)


class HeadRig:
    """Every moving head of a show; `step(frame)` gives each fixture's angles (None for
    fixtures that are not heads), in the show's fixture order."""

    def __init__(self, show: shows.Show, fps: int):
        self.motions = tuple(None if f.head is None else HeadMotion(f, fps)
                             for f in show.fixtures)
        self.by_name = {m.name: m for m in self.motions if m is not None}
        self._placed = [(index, m) for index, m in enumerate(self.motions) if m is not None]

    def step(self, frame) -> tuple[HeadAngles | None, ...]:
        angles = iter(_angles_of(self._placed, frame.outs, frame.pip))
        return tuple([None if m is None else next(angles) for m in self.motions])

    def universe(self, universe: int) -> "UniverseHeads":
        return UniverseHeads(self, universe)

    def columns(self, output: shows.Output) -> tuple[str, ...]:
        """A render's columns for an output: a DMX output's values, then, in a show with heads,
        the degrees sent."""
        names = mapping.columns(output)
        if self.by_name and output.kind in DMX_KINDS:
            names += (f"{output.name}.pan_deg", f"{output.name}.tilt_deg")
        return names

    def column_values(self, output: shows.Output, fixture: shows.Fixture, out,
                      angles: HeadAngles | None) -> tuple[str, ...]:
        """What the output sends for one fixture, as text; blanks where it sends nothing."""
        if not self.by_name or output.kind not in DMX_KINDS:
            return mapping.column_values(output, fixture, out)
        if angles is None:
            return mapping.column_values(output, fixture, out) + ("", "")
        if fixture.head.universe != output.universe:
            return ("", "", "", "")
        return (str(angles.pan_value), str(angles.tilt_value), repr(angles.pan),
                repr(angles.tilt))

    def report(self) -> list[str]:
        """What `render` says about the heads: frames held by the limits, motion too fast."""
        lines = []
        for motion in self.by_name.values():
            motion.finish()
            if motion.clamped_frames:
                lines.append(f"{motion.name}: {motion.clamped_frames} frames clamped to limits")
            for excess in motion.excesses:
                beats = (f"beat {_beat(excess.first_pip)}"
                         if excess.first_pip == excess.last_pip else
                         f"beats {_beat(excess.first_pip)} to {_beat(excess.last_pip)}")
                lines.append(f"{excess.fixture}: {excess.axis} asks for up to "
                             f"{excess.peak:.1f} deg/s (max {excess.allowed:g}) in {beats}")
        return lines


def _beat(pip: int) -> str:
    return f"{pip / PIPS_PER_BEAT:g}"


class UniverseHeads:
    """What a DMX sender of one universe writes for the show's heads: a sender keeps one (its
    own head rig, of which it steps the heads of its universe once a frame it sends) and
    writes the heads' bytes into its universe's with one pack a run of channels."""

    def __init__(self, rig: HeadRig, universe: int):
        self.rig = rig
        # (index in a frame, motion) of each head patched in this universe
        self._placed = [(index, m) for index, m in enumerate(rig.motions)
                        if m is not None and m.head.universe == universe]
        self.motions = [m for _, m in self._placed]
        self._runs = _byte_runs([m.head for m in self.motions])

    @property
    def channels(self) -> list[int]:
        return [channel for m in self.motions for channel, _ in dmx_bytes(m.head, m.centre())]

    def _write(self, data: bytearray, values: list[int]) -> None:
        """Pack pan, tilt, pan, tilt, ... of the heads' DMX values into `data`."""
        for offset, packer, pieces in self._runs:
            if pieces is None:
                packer.pack_into(data, offset, *values)
            else:
                packer.pack_into(data, offset, *[values[place] >> shift & mask
                                                 for place, shift, mask in pieces])

    def send(self, data: bytearray, frame) -> None:
        """Step the heads to `frame` and write their bytes into `data`."""
        self._write(data, _step_values(self._placed, frame.outs, frame.pip))

    def park(self, data: bytearray) -> None:
        self._write(data, [v for m in self.motions for v in m.hold(m.park)[2:4]])

    def blackout(self, data: bytearray) -> None:
        """Each head at the middle of its ranges, within its limits."""
        self._write(data, [v for m in self.motions for v in m.centre()[2:4]])


def _byte_runs(heads) -> list[tuple[int, struct.Struct, list | None]]:
    """(first byte, struct, pieces) of each run of the heads' pan and tilt bytes: a run packs
    big-endian, coarse then fine, and its gaps lie within the heads' own channels (which
    nothing else drives, and which the heads leave at 0), so a pack never overwrites what
    another fixture sent. `pieces` is (place in the values, shift, mask) of each field where
    the values do not map onto the fields one for one (a fine channel that does not follow
    its coarse one, pan after tilt), else None."""
    fields = []     # (first byte, code, place, shift, mask)
    for k, head in enumerate(heads):
        for place, axis in ((2 * k, head.pan), (2 * k + 1, head.tilt)):
            if axis.fine is None:
                fields.append((axis.channel - 1, "B", place, 0, 0xFF))
            elif axis.fine == axis.channel + 1:
                fields.append((axis.channel - 1, "H", place, 0, 0xFFFF))
            else:
                fields += [(axis.channel - 1, "B", place, 8, 0xFF),
                           (axis.fine - 1, "B", place, 0, 0xFF)]
    fields.sort()
    owned = {channel - 1 for head in heads for channel in head.channels}
    runs, run, end = [], [], None
    for field in fields:
        if run and not all(byte in owned for byte in range(end, field[0])):
            runs.append(run)
            run = []
        run.append(field)
        end = field[0] + (2 if field[1] == "H" else 1)
    if run:
        runs.append(run)
    made = []
    for run in runs:
        codes, end = [">"], run[0][0]
        for first, code, *_ in run:
            codes.append("x" * (first - end) + code)
            end = first + (2 if code == "H" else 1)
        pieces = [(place, shift, mask) for _, _, place, shift, mask in run]
        whole = len(runs) == 1 and pieces == [(p, 0, m) for p, (_, _, _, _, m) in
                                              enumerate(run)]
        made.append((run[0][0], struct.Struct("".join(codes)), None if whole else pieces))
    return made
