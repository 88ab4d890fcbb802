"""A typed render loop: many objects follow their own motions, offset in time.

Type-checks under mypy with the installed stubs, and runs as it is.
"""

from dataclasses import dataclass

import kinetra


@dataclass
class Dancer:
    motion: str
    offset_pips: int
    scale: float

    def position(self, pip: int) -> tuple[float, float, float]:
        x, y, z = kinetra.sample(self.motion, pip + self.offset_pips).as_tuple()
        return (x * self.scale, y * self.scale, z * self.scale)


def frame_pip(seconds: float, bpm: float, beat_zero_seconds: float = 0.0) -> int:
    """The pip sounding at a moment of a performance at a steady tempo."""
    beats = (seconds - beat_zero_seconds) * bpm / 60.0
    return int(beats * kinetra.PIPS_PER_BEAT // 1)


def main() -> None:
    troupe = [Dancer(m, i * 16, 1.0 + i / 4) for i, m in enumerate(("bounce", "circle", "helix", "flam"))]
    fps, bpm = 60.0, 128.0
    for frame in range(0, 120, 30):
        pip = frame_pip(frame / fps, bpm)
        positions = [d.position(pip) for d in troupe]
        print(f"frame {frame:3} pip {pip:4}: " + "  ".join(f"({x:+.2f},{y:+.2f},{z:+.2f})" for x, y, z in positions))
    names: list[str] = [entry["name"] for entry in kinetra.catalogue()]
    print(f"{len(names)} default patterns")


if __name__ == "__main__":
    main()
