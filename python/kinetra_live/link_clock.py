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

When the session's phase moves under us by more than a pip (we joined a session that was
there before us, or its timeline settled), the clock does not jump to it and does not wait for
it: it bends its tempo until it is on the session's phase, as a nudge does, by at most an
eighth for a small difference and otherwise over one bar. It slows down by at most half a bar
(so it never runs below half speed) and otherwise speeds up to the next place in phase.
"""

from __future__ import annotations

import threading
from fractions import Fraction

import link

from .timebase import exact, pip_of

MICROS = 1_000_000
BAR_BEATS = 4
# A move of the session's phase larger than this is bent onto, not followed at once.
JUMP_BEATS = Fraction(1, 64)
BEND = Fraction(1, 8)


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
        # (micros, session beat, our beat) of the last read
        self._latest: tuple[int, Fraction, Fraction] | None = None
        self._whole_quanta = Fraction(0)  # added to the session's count to keep ours continuous
        self._bend: tuple[int, int, Fraction] | None = None  # (start, length micros, offset)
        self._link.enabled = True

    def now(self) -> Fraction:
        return Fraction(self._clock.micros(), MICROS)

    def _micros(self, seconds: object) -> int:
        return round(exact(seconds, "seconds") * MICROS + self._latency_micros)

    def _offset(self, micros: int) -> Fraction:
        """How far our beat is from the session's at `micros`, while a bend closes the gap."""
        if self._bend is None:
            return Fraction(0)
        start, length, offset = self._bend
        if micros <= start:
            return offset
        if micros >= start + length:
            return Fraction(0)
        return offset * (start + length - micros) / length

    def _bend_onto(self, micros: int, offset: Fraction, tempo: Fraction) -> Fraction:
        """Start a bend that closes `offset` (ours minus the session's); returns the whole
        quanta it moved to the session's count to get there."""
        rest = offset % self.quantum
        whole = offset - rest
        if rest > min(Fraction(BAR_BEATS, 2), self.quantum / 2):
            rest -= self.quantum
            whole += self.quantum
        rest = Fraction(round(rest * MICROS), MICROS)
        if rest == 0:
            self._bend = None
            return whole
        beats = min(abs(rest) / BEND, Fraction(BAR_BEATS))
        length = max(1, round(beats * 60 / tempo * MICROS))
        self._bend = (micros, length, rest)
        return whole

    def beat_at(self, seconds: object) -> Fraction:
        micros = self._micros(seconds)
        state = self._link.captureAppSessionState()
        session_beat = Fraction(round(state.beatAtTime(micros, float(self.quantum)) * MICROS),
                                MICROS)
        with self._lock:
            session = session_beat + self._whole_quanta
            if self._latest is None or micros < self._latest[0]:
                beat = session + self._offset(micros)
                if self._latest is None:
                    self._latest = (micros, session, beat)
                return beat
            then, last_session, last = self._latest
            tempo = exact(state.tempo(), "tempo")
            moved = session - (last_session + Fraction(micros - then, MICROS) * tempo / 60)
            if abs(moved) > JUMP_BEATS:
                # the session's phase moved: carry on from where we were and bend onto it
                whole = self._bend_onto(micros, self._offset(micros) - moved, tempo)
                self._whole_quanta += whole
                session += whole
            beat = max(session + self._offset(micros), last)
            self._latest = (micros, session, beat)
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
