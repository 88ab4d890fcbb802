"""Integer-pip rhythmic position functions"""

from collections.abc import Sequence
from typing import Final, SupportsFloat, SupportsIndex, TypedDict, type_check_only

# A pip is an integer: an int, a bool or anything with __index__. The module function sample
# and the rudiments also truncate other numbers that int() converts, which a type checker
# flags as a mistake.
_Pip = SupportsIndex
_Real = SupportsFloat | SupportsIndex

PIPS_PER_BEAT: Final[int]
"""Pips per beat: 64. Pip 0 starts beat 0, pip 32 is its half beat."""

@type_check_only
class _CatalogueEntry(TypedDict):
    name: str
    description: str
    period_pips: int
    dimensions: int

class SampledRecording:
    """A multi-axis recording captured once per pip against a tempo; it never loops."""

    def __init__(
        self,
        name: str | bytes,
        dimensions: Sequence[str | bytes],
        samples: Sequence[Sequence[_Real]],
        bpm: _Real,
        beat_zero_seconds: _Real = 0.0,
        start_pip: _Pip = 0,
    ) -> None:
        """Validate and store the rows; raises ValueError with the first fault found."""
    @property
    def name(self) -> str:
        """The recording's identifier."""
    @property
    def dimensions(self) -> list[str]:
        """The axis names, in the order of each row's values (a new list on every access)."""
    @property
    def sample_count(self) -> int:
        """The number of rows, one per pip from start_pip on."""
    @property
    def bpm(self) -> float:
        """The tempo the recording was captured against, in beats per minute."""
    @property
    def beat_zero_seconds(self) -> float:
        """The time of beat zero, in seconds."""
    @property
    def start_pip(self) -> int:
        """The pip of the first row."""
    def sample(self, pip: SupportsIndex) -> list[float]:
        """The row recorded at the pip; raises IndexError outside the recording."""

class Offset3:
    """A displacement of three floats, each in [-1, 1]; compare values through as_tuple()."""

    @property
    def x(self) -> float:
        """The first axis."""
    @property
    def y(self) -> float:
        """The second axis (0.0 for one-axis motions)."""
    @property
    def z(self) -> float:
        """The third axis (0.0 for motions of one or two axes)."""
    def as_tuple(self) -> tuple[float, float, float]:
        """The new tuple (x, y, z)."""

class SampledPattern:
    """A user pattern: one (x, y, z) sample per pip of one loop, validated once."""

    def __init__(self, name: str | bytes, description: str | bytes, samples: Sequence[Sequence[_Real]]) -> None:
        """Validate and store the pattern; raises ValueError with the first fault found."""
    @property
    def name(self) -> str:
        """The pattern's name."""
    @property
    def description(self) -> str:
        """The pattern's free-text description."""
    @property
    def period_pips(self) -> int:
        """The loop length: the number of samples."""
    def sample(self, pip_count: SupportsIndex) -> Offset3:
        """The sample at the pip, folded into the loop."""

class PatternLibrary:
    """User patterns layered over the default patterns, which they may never redefine."""

    def __init__(self, patterns: Sequence[SampledPattern] = ...) -> None:
        """Check the pack and store copies of its patterns; raises ValueError on a fault."""
    def sample(self, name: str | bytes, pip_count: SupportsIndex) -> Offset3:
        """A stored pattern's sample, otherwise the default pattern's; ValueError if unknown."""
    def catalogue(self) -> list[_CatalogueEntry]:
        """Every default pattern, then every stored user pattern."""

def sample(name: str | bytes, pip_count: _Pip) -> Offset3:
    """The position of a default pattern (rudiment or sampled) at the pip; ValueError if unknown."""

def catalogue() -> list[_CatalogueEntry]:
    """Every default pattern: the fifteen rudiments, then the sampled catalogue."""

def bounce(pip: _Pip, /) -> Offset3:
    """One-beat vertical bounce (x only): a triangle from -1 up to 1 and back."""

def sway(pip: _Pip, /) -> Offset3:
    """Two-beat side-to-side sway (x only): one sine cycle."""

def circle(pip: _Pip, /) -> Offset3:
    """One-beat circular orbit starting at the bottom, counter-clockwise."""

def figure_eight(pip: _Pip, /) -> Offset3:
    """Two-beat figure eight."""

def step_touch(pip: _Pip, /) -> Offset3:
    """Two-beat side step with a small lift."""

def box_step(pip: _Pip, /) -> Offset3:
    """Four-beat softened square path."""

def helix(pip: _Pip, /) -> Offset3:
    """Four-beat double-turn helix (all three axes)."""

def tamsel_background(pip: _Pip, /) -> Offset3:
    """Four-beat accented background drift through fourteen keyframes."""

def single_stroke_roll(pip: _Pip, /) -> Offset3:
    """Alternating R/L strokes with smooth attack and decay."""

def double_stroke_roll(pip: _Pip, /) -> Offset3:
    """RRLL strokes with a softer second motion."""

def multiple_bounce_roll(pip: _Pip, /) -> Offset3:
    """Decaying same-hand bounce clusters."""

def single_paradiddle(pip: _Pip, /) -> Offset3:
    """RLRR LRLL with accented lead strokes."""

def flam(pip: _Pip, /) -> Offset3:
    """Grace motion flowing into an opposite-hand primary motion."""

def drag(pip: _Pip, /) -> Offset3:
    """Two grace motions flowing into an opposite-hand primary motion."""

def five_stroke_roll(pip: _Pip, /) -> Offset3:
    """Two diddles resolving to an accented fifth motion."""
