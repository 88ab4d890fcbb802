"""Per-output and per-fixture timing: what an output sends now is each fixture's motion
`delay_ms` (the output's) plus `lead_ms` (the fixture's) ahead of the clock, on top of the
clock's own `latency_ms`. A late visualiser or a slow node gets a positive `delay_ms`, a head
whose motors lag a positive `lead_ms`; negative values hold an output or a fixture back.

A frame is sampled once for each distinct offset, so a show without delays costs nothing more.
"""

from __future__ import annotations

from fractions import Fraction
from typing import Callable

from . import show as shows
from .outputs.degrees import HeadRig
from .sampler import Frame, Sampler


class Offsets:
    def __init__(self, show: shows.Show):
        self.delays = {o.name: Fraction(o.delay_ms) / 1000 for o in show.outputs}
        self.leads = tuple(Fraction(f.lead_ms) / 1000 for f in show.fixtures)
        self.none = not any(self.delays.values()) and not any(self.leads)
        # the undelayed frame is always wanted: what the show does now
        self.distinct = sorted({Fraction(0)} | set(self.delays.values()) |
                               {d + lead for d in self.delays.values() for lead in self.leads})

    def frames(self, sampler: Sampler, pip_at: Callable[[Fraction], int]
               ) -> tuple[Frame, dict[str, Frame]]:
        """The show's frame now, and each output's frame, from `pip_at(seconds past now)`."""
        sampled = {offset: sampler.frame(pip_at(offset)) for offset in self.distinct}
        leads = self.leads
        by_output = {}
        for name, delay in self.delays.items():
            states = tuple(sampled[delay + lead].fixtures[i] for i, lead in enumerate(leads))
            by_output[name] = Frame(sampled[delay].pip, states)
        return sampled[Fraction(0)], by_output


class RenderTiming:
    """A render's frames as each output sends them: with delays or leads, each output keeps
    a head rig of its own, as each of `run`'s DMX outputs does."""

    def __init__(self, show: shows.Show, fps: int, heads: HeadRig):
        self.offsets, self.heads = Offsets(show), heads
        self.output_heads = ({} if self.offsets.none else
                             {o.name: HeadRig(show, fps) for o in show.outputs})

    def frame(self, sampler: Sampler, pip_at: Callable[[Fraction], int]):
        """(the show's frame, its head angles, {output: (frame, head angles)})."""
        if self.offsets.none:
            frame = sampler.frame(pip_at(Fraction(0)))
            angles = self.heads.step(frame)
            return frame, angles, None
        frame, by_output = self.offsets.frames(sampler, pip_at)
        return frame, self.heads.step(frame), {
            name: (sent, self.output_heads[name].step(sent)) for name, sent in by_output.items()}
