"""A simulated clock for the live tests: a tempo map read at a time the test sets."""

from fractions import Fraction

from kinetra_live.timebase import TempoMap


class SimulatedClock:
    name = "simulated"

    def __init__(self, tempo_map: TempoMap):
        self.tempo_map, self.ns, self.closed = tempo_map, 0, False

    def now_ns(self) -> int:
        return self.ns

    def sleep(self, seconds: float) -> None:
        self.ns += max(1, round(seconds * 1e9))

    def now(self) -> Fraction:
        return Fraction(self.ns, 10**9)

    def beat_at(self, seconds):
        return self.tempo_map.beat_at(seconds)

    def pip_at(self, seconds):
        return self.tempo_map.pip_at(seconds)

    def bpm_at(self, seconds):
        return self.tempo_map.bpm_at(seconds)

    def running_at(self, seconds):
        return True

    def close(self):
        self.closed = True
