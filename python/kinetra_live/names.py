"""What a pattern name means: a default, a pack's pattern or a pack's recording, decided here
and only here, for the rig, the show loader and the preview alike.

A default name always means the default: a pack may hold a default's name only on an exact copy
(which the module accepts and never stores), and never on a recording (the pack reader refuses
that), so the defaults are looked up first. Within a pack a name means one thing: the pack
reader refuses a pattern and a recording that share one.
"""

from __future__ import annotations

from dataclasses import dataclass
from typing import Callable

import kinetra

from .packs import Pack

Triple = tuple[float, float, float]
DEFAULT, PATTERN, RECORDING = "default", "pattern", "recording"


@dataclass(frozen=True)
class Entry:
    name: str
    kind: str               # DEFAULT, PATTERN or RECORDING
    span_pips: int          # one loop of a pattern; the whole of a recording
    recording: kinetra.SampledRecording | None = None

    @property
    def loops(self) -> bool:
        return self.recording is None


_DEFAULTS: dict[str, int] = {}


def defaults() -> dict[str, int]:
    """Every default name and its loop length in pips."""
    if not _DEFAULTS:
        _DEFAULTS.update((row["name"], row["period_pips"]) for row in kinetra.catalogue())
    return _DEFAULTS


def resolve(name: str, pack: Pack | None = None) -> Entry | None:
    """What `name` means with `pack` (or with the defaults alone), or None if nothing."""
    period = defaults().get(name)
    if period is not None:
        return Entry(name, DEFAULT, period)
    if pack is None:
        return None
    pattern = pack.pattern(name)
    if pattern is not None:
        return Entry(name, PATTERN, pattern.period_pips)
    recording = pack.recording(name)
    if recording is not None:
        return Entry(name, RECORDING, recording.sample_count, recording)
    return None


Fold = tuple[Callable, str, int]


def fold(entry: Entry, pack: Pack | None = None) -> Fold | None:
    """(sample, name, period) of a pattern, None for a recording: `sample(name, pip % period)`
    is the pattern's sample at any integer pip, for callers that sample many fixtures in one
    expression rather than through a call of `source` each.

    A pattern gives the same sample at every pip congruent modulo its loop, so the pip is
    folded into the loop first: exact, and it keeps pips beyond 32 bits within the module's
    range."""
    if entry.kind == RECORDING:
        return None
    return (pack.library.sample if entry.kind == PATTERN else kinetra.sample, entry.name,
            entry.span_pips)


def source(entry: Entry, pack: Pack | None = None) -> Callable[[int], Triple | None]:
    """pip -> (x, y, z) of an entry, for any integer pip; None once a recording has ended.

    A pattern's pip is folded into its loop (`fold`). A recording does not loop: before its
    first pip it holds its first row; axes beyond the third are not motion, missing ones are
    0.0."""
    folded = fold(entry, pack)
    if folded is not None:
        lookup, name, period = folded
        return lambda pip: lookup(name, pip % period).as_tuple()
    recording, period = entry.recording, entry.span_pips
    first = recording.start_pip
    last = first + period - 1
    pad = [0.0, 0.0, 0.0]

    def sample(pip: int) -> Triple | None:
        if pip > last:
            return None
        return tuple((recording.sample(pip=max(pip, first)) + pad)[:3])
    return sample
