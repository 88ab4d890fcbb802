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

from typing import NamedTuple

from .. import aiming
from .. import show as shows
from ..heads import HeadAxis, HeadPatch
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


def dmx_value(axis: HeadAxis, degrees: float) -> int:
    # the nearest step may lie a little outside a limit that is not itself a step
    value = round(degrees / axis.span * ((1 << axis.bits) - 1))
    return min(max(value, axis.step_low), axis.step_high)


def dmx_bytes(head: HeadPatch, angles: HeadAngles) -> list[tuple[int, int]]:
    """(channel, byte) pairs: coarse, then fine where the mode has it."""
    pairs = []
    for axis, value in ((head.pan, angles.pan_value), (head.tilt, angles.tilt_value)):
        if axis.fine is None:
            pairs.append((axis.channel, value))
        else:
            pairs += [(axis.channel, value >> 8), (axis.fine, value & 0xFF)]
    return pairs


class HeadMotion:
    """One head's angles frame after frame."""

    __slots__ = ("name", "head", "park", "frame_seconds", "last", "asked", "clamped_frames",
                 "_excess", "excesses", "_axes", "_mirror", "_watch")

    def __init__(self, fixture: shows.Fixture, fps: int):
        head = fixture.head
        self.name, self.head, self.park = fixture.name, head, fixture.park
        self.frame_seconds = 1.0 / fps
        self.last: tuple[float, float] | None = None     # angles sent
        self.asked: tuple[float, float] | None = None    # angles the motion asked for
        self.clamped_frames = 0
        self._excess: dict[str, list] = {}
        self.excesses: list[SpeedExcess] = []
        # per axis, what a frame needs, read once: (low, half width, limits, span, top, steps)
        self._axes = tuple((a.low, (a.high - a.low) * 0.5, a.limit_low, a.limit_high, a.span,
                            float((1 << a.bits) - 1), a.step_low, a.step_high)
                           for a in (head.pan, head.tilt))
        self._mirror = -1.0 if head.hang == "truss" else 1.0
        self._watch = head.pan.max_speed is not None or head.tilt.max_speed is not None

    def wanted(self, out) -> tuple[float, float, bool]:
        head = self.head
        if head.aim is not None:
            pan, tilt = head.pan, head.tilt
            at, size = head.aim.at, head.aim.size
            target = (at[0] + out[0] * size[0], at[1] + out[1] * size[1],
                      at[2] + out[2] * size[2])
            return aiming.solve(head.position, target, pan.span, tilt.span, head.hang,
                                (pan.limit_low, pan.limit_high),
                                (tilt.limit_low, tilt.limit_high),
                                None if self.last is None else self.last[0])
        (p_low, p_half, p_min, p_max, *_), (t_low, t_half, t_min, t_max, *_) = self._axes
        x = min(max(out[0] * self._mirror, -1.0), 1.0)
        y = min(max(out[1], -1.0), 1.0)
        p = p_low + (x + 1.0) * p_half
        t = t_low + (y + 1.0) * t_half
        kept_p = p_min if p < p_min else p_max if p > p_max else p
        kept_t = t_min if t < t_min else t_max if t > t_max else t
        return kept_p, kept_t, kept_p != p or kept_t != t

    def step(self, out, pip: int) -> HeadAngles:
        """The angles of the next frame, at the show's `pip`."""
        pan, tilt, clamped = self.wanted(out)
        head = self.head
        if self._watch:
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
        self.last = (pan, tilt)
        if clamped:
            self.clamped_frames += 1
        # dmx_value, inlined
        (*_, p_span, p_steps, p_first, p_top), (*_, t_span, t_steps, t_first, t_top) = self._axes
        p_value, t_value = round(pan / p_span * p_steps), round(tilt / t_span * t_steps)
        return HeadAngles(pan, tilt,
                          p_first if p_value < p_first else p_top if p_value > p_top
                          else p_value,
                          t_first if t_value < t_first else t_top if t_value > t_top
                          else t_value, clamped)

    def hold(self, out) -> HeadAngles:
        """Angles for a single frame outside the motion (park), within the limits."""
        pan, tilt, clamped = self.wanted(out)
        return HeadAngles(pan, tilt, dmx_value(self.head.pan, pan),
                          dmx_value(self.head.tilt, tilt), clamped)

    def centre(self) -> HeadAngles:
        """The middle of each range, or the nearest the limits allow (blackout): a dark head
        rests where it swings least to any cue, never at the end of a range."""
        angles = []
        for axis in (self.head.pan, self.head.tilt):
            angles.append(min(max(axis.span / 2, axis.limit_low), axis.limit_high))
        pan, tilt = angles
        return HeadAngles(pan, tilt, dmx_value(self.head.pan, pan),
                          dmx_value(self.head.tilt, tilt), False)

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
        self._steps = [None if m is None else m.step for m in self.motions]

    def step(self, frame) -> tuple[HeadAngles | None, ...]:
        pip = frame.pip
        return tuple([None if step is None else step(state.out, pip)
                      for step, state in zip(self._steps, frame.fixtures)])

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
    """What a DMX sender of one universe writes for the show's heads, as (channel, byte)
    pairs: a sender keeps one (its own head rig, stepped once a frame it sends)."""

    def __init__(self, rig: HeadRig, universe: int):
        self.rig = rig
        self.here = [m.head.universe == universe if m is not None else False
                     for m in rig.motions]
        self.motions = [m for m, here in zip(rig.motions, self.here) if here]

    @property
    def channels(self) -> list[int]:
        return [channel for m in self.motions for channel, _ in dmx_bytes(m.head, m.centre())]

    def send(self, frame) -> list[tuple[int, int]]:
        return [pair for motion, here, angles in zip(self.rig.motions, self.here,
                                                     self.rig.step(frame))
                if here for pair in dmx_bytes(motion.head, angles)]

    def park(self) -> list[tuple[int, int]]:
        return [pair for m in self.motions for pair in dmx_bytes(m.head, m.hold(m.park))]

    def blackout(self) -> list[tuple[int, int]]:
        """Each head at the middle of its ranges, within its limits."""
        return [pair for m in self.motions for pair in dmx_bytes(m.head, m.centre())]
