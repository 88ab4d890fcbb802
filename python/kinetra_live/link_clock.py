"""The network tempo session as a clock (needs the `live` extra: LinkPython-extern).

A session shares tempo and the phase within a quantum, not the beat count: two machines may
count beats 4.55 and 0.55 at quantum 4. Give the clock the show's quantum (by default
`timebase.quantum_of` its loop lengths) and every loop of the show is in phase on every machine;
a rig larger than one machine is one instance of `run` per machine on one session.

The clock only reads the session and never commits a session state, so joining leaves the
session's tempo as it is (our `bpm` is used only when we are alone), and a tempo change by
another peer is followed at the beat where that peer made it. The session reports beats in
whole micro-beats, which are read exactly. A later read never goes back: when the session's
time estimate moves our beat back by a few micro-beats, the clock holds its last beat, and when
the session realigns our count by whole quanta, the clock keeps counting on from where it was.
"""

from __future__ import annotations

import threading
from fractions import Fraction

import link

from .timebase import exact, pip_of

MICROS = 1_000_000


class LinkClock:
    name = "link"

    def __init__(self, bpm: object, quantum: object = 4, *, latency_ms: object = 0):
        bpm, quantum = exact(bpm, "bpm"), exact(quantum, "quantum")
        if bpm <= 0:
            raise ValueError(f"bpm: expected a positive tempo, got {bpm}")
        if quantum <= 0:
            raise ValueError(f"quantum: expected a positive number of beats, got {quantum}")
        self.quantum = quantum
        self._latency_micros = exact(latency_ms, "latency_ms") * 1000
        self._link = link.Link(float(bpm))
        self._clock = self._link.clock()
        self._lock = threading.Lock()
        self._latest: tuple[int, Fraction] | None = None  # (micros, beat) of the last read
        self._whole_quanta = Fraction(0)  # added to the session's count to keep ours continuous
        self._link.enabled = True

    def now(self) -> Fraction:
        return Fraction(self._clock.micros(), MICROS)

    def _micros(self, seconds: object) -> int:
        return round(exact(seconds, "seconds") * MICROS + self._latency_micros)

    def beat_at(self, seconds: object) -> Fraction:
        micros = self._micros(seconds)
        state = self._link.captureAppSessionState()
        session_beat = Fraction(round(state.beatAtTime(micros, float(self.quantum)) * MICROS),
                                MICROS)
        with self._lock:
            beat = session_beat + self._whole_quanta
            if self._latest is not None and micros >= self._latest[0]:
                # The session may realign our count by whole quanta (on joining, or when its
                # timeline settles); keep counting on instead, which leaves every loop in phase.
                then, last = self._latest
                expected = last + Fraction(micros - then, MICROS) * exact(state.tempo(), "tempo") / 60
                slip = round((expected - beat) / self.quantum) * self.quantum
                if slip:
                    self._whole_quanta += slip
                    beat += slip
                if beat < last:
                    return last
            if self._latest is None or micros >= self._latest[0]:
                self._latest = (micros, beat)
        return beat

    def pip_at(self, seconds: object) -> int:
        return pip_of(self.beat_at(seconds))

    def bpm_at(self, seconds: object) -> Fraction:
        return exact(self._link.captureAppSessionState().tempo(), "tempo")

    def running_at(self, seconds: object) -> bool:
        return True

    @property
    def peers(self) -> int:
        return self._link.numPeers()

    def close(self) -> None:
        self._link.enabled = False
