"""Following the sound live: the beat grid of an audio input as a clock that never jumps.

Samples are stamped with the time they were heard (the file's own pace, or the input's ADC
time), so the buffer's delay never shifts a beat. `OnsetStream` turns blocks into the same
band-split onsets the offline analysis uses; `AudioTracker` listens until it has a tempo in
its BPM range and a phase, then steps the phase-locked grid one beat at a time:
- `listening`: no grid yet; the clock is not running and holds pip 0;
- `locked`: at least 4 of the last 6 beats found an onset; each beat corrects the clock;
- `unsure`: too few onsets; the clock freewheels at its last tempo, uncorrected. After
  `RELISTEN_BEATS` beats unsure the tracker listens afresh (the clock runs on meanwhile).
The clock is an exact tempo map. It starts at the first beat after the lock, at the grid's
tempo; corrections set the tempo (the beat stays where it is) and bend the phase with
`nudge`, and both only ever edit time after the latest instant anything has read, so a pip
once given is never taken back and never skips ahead.
"""

from __future__ import annotations

import threading
import time
from fractions import Fraction

import numpy as np

from . import beat_tracking as bt
from .timebase import TempoMap, exact, pip_of

BLOCK_SECONDS = 0.02
LISTEN_SECONDS = 2.5          # at least; and at least 4 beats of the slowest tempo in range
RELISTEN_BEATS = 16
BPM_GRID = 1000               # tempos set on the clock, in thousandths of a BPM
NUDGE_GRID = 10               # phase corrections, in tenths of a millisecond
TEMPO_TOLERANCE = 0.0005      # a share of the tempo the clock may differ before it is set
PHASE_TOLERANCE = 0.002       # seconds
DRIFT_SECONDS = 0.015
TOP_DB = 80.0                 # the dynamic range the onsets see, as librosa's power_to_db
ACCENT_REACH = 3 + int(np.ceil(bt.KICK_LAG))   # frames ahead an accent depends on
SCALE_FLOOR = 0.3             # the kicks' scale is at least this share of their loudest rise
RELEVEL_EVERY = 4             # beats between checks of the grid's tempo against its relatives
RELEVEL_FROM = 12             # beats a grid runs before the first check
RELEVEL_SECONDS = 8.0         # the window a check weighs
RELEVEL_GAIN = 0.15           # share of its own score a relative must beat it by, at
RELEVEL_CHECKS = 4            # this many checks in a row (the corpus' steady and changing
                              # tracks stay under 0.03 over four)
LISTEN_GAIN = 0.35            # likewise for the first grid's tempo, on the listening window
                              # alone (the corpus' right first tempos lose by at most 0.28)


class OnsetStream:
    """Band-split onsets of a sample stream, frame by frame as the samples arrive."""

    def __init__(self, rate: int):
        import librosa   # the `audio` extra
        self.rate, self.hop, self.n_fft = rate, bt.hop_for(rate), bt.fft_for(rate)
        self._window = np.hanning(self.n_fft + 1)[:-1].astype(np.float32)
        self._mel = librosa.filters.mel(sr=rate, n_fft=self.n_fft, n_mels=bt.MELS,
                                        fmax=min(rate / 2, 11025)).astype(np.float32)
        self._pending = np.zeros(0, np.float32)
        self._last_db: np.ndarray | None = None
        self._last_level = 0.0
        self._loudest = -100.0

    @property
    def first_frame_seconds(self) -> float:
        """Where frame 0's onset lies after sample 0: the end of its window, less the lag."""
        return self.n_fft / self.rate - bt.ONSET_LAG

    def push(self, samples: np.ndarray) -> np.ndarray:
        """The new frames' onsets: one row per band, then the kicks' plain level."""
        data = np.concatenate([self._pending, np.asarray(samples, np.float32)])
        count = (len(data) - self.n_fft) // self.hop + 1 if len(data) >= self.n_fft else 0
        self._pending = data[count * self.hop:]
        if count == 0:
            return np.zeros((len(bt.BANDS), 0))
        frames = np.lib.stride_tricks.sliding_window_view(data, self.n_fft)[::self.hop][:count]
        power = np.abs(np.fft.rfft(frames * self._window, axis=1)) ** 2
        mel = power @ self._mel.T
        db = 10 * np.log10(np.maximum(mel, 1e-10))
        # floored TOP_DB under the loudest yet, as the offline analysis floors under the
        # track's loudest: a hat out of near silence is not a jump of a hundred decibels
        self._loudest = max(self._loudest, float(db.max()))
        db = np.maximum(db, self._loudest - TOP_DB)
        level = np.sqrt(mel[:, :bt.BANDS[1]].sum(axis=1))
        previous = db[:1] if self._last_db is None else self._last_db[None, :]
        flux = np.maximum(np.diff(db, axis=0, prepend=previous), 0)
        rise = np.maximum(np.diff(level, prepend=self._last_level if self._last_db is not None
                                  else level[0]), 0)
        self._last_db, self._last_level = db[-1], float(level[-1])
        bands = [flux[:, a:b].mean(axis=1) for a, b in zip(bt.BANDS, bt.BANDS[1:])]
        return np.vstack(bands + [rise])


class AudioTracker:
    """The beat grid of a stream of samples; `feed` takes a block and the time its first
    sample was heard and returns the beats placed, as (seconds, tempo, confirmed, stepped:
    placed on the line the grid laid anew after a tempo step)."""

    def __init__(self, rate: int, bpm_range=bt.DEFAULT_BPM_RANGE):
        self.bpm_range = tuple(bpm_range)
        self.state = "listening"
        self._stream = OnsetStream(rate)
        self._rows = np.zeros((len(bt.BANDS), 4096))
        self._count = 0
        self._origin: float | None = None   # seconds of frame 0
        self.frame_rate = rate / self._stream.hop
        self._grid: bt.Grid | None = None
        self._grid_beats = 0
        self._better = 0              # checks in a row a relative beat the grid's tempo
        self._listen_from = 0
        self._unsure_beats = 0
        self._scale = np.ones(len(bt.BANDS) - 1)
        self._kick_scale = 1.0
        self._onsets = np.zeros(4096)
        self._accents = np.zeros(4096)
        self._shape = np.zeros((2, 4096))
        self._listen_frames = int(max(LISTEN_SECONDS, 4 * 60 / self.bpm_range[0])
                                  * self.frame_rate)

    def seconds_of(self, frame: float) -> float:
        return self._origin + frame / self.frame_rate

    def feed(self, samples: np.ndarray, heard: float) -> list[tuple[float, float, bool]]:
        if self._origin is None:
            self._origin = heard + self._stream.first_frame_seconds
        new = self._stream.push(samples)
        self._append(new)
        if self._grid is None:
            self._listen()
        beats = []
        grid = self._grid
        while grid is not None and \
                grid.beat + grid.period * (1 + bt.SEARCH) + ACCENT_REACH < self._count:
            frame = grid.step(self._onsets[:self._count], self._accents[:self._count],
                              self._shape[:, :self._count])
            beats.append((self.seconds_of(frame), 60 * self.frame_rate / grid.period,
                          grid.hits[-1], grid.refit))
            self._grid_beats += 1
            if self._grid_beats >= RELEVEL_FROM and self._grid_beats % RELEVEL_EVERY == 0:
                self._relevel()
            self._judge()
            grid = self._grid
        return beats

    def _append(self, new: np.ndarray) -> None:
        count = new.shape[1]
        while self._count + count > self._rows.shape[1]:
            self._rows = np.hstack([self._rows, np.zeros_like(self._rows)])
            self._onsets = np.concatenate([self._onsets, np.zeros_like(self._onsets)])
            self._accents = np.concatenate([self._accents, np.zeros_like(self._accents)])
            self._shape = np.hstack([self._shape, np.zeros_like(self._shape)])
        start, self._count = self._count, self._count + count
        self._rows[:, start:self._count] = new
        # each band is scaled by its typical strength over the last eight seconds
        recent = self._rows[:, max(0, self._count - int(8 * self.frame_rate)):self._count]
        if count and (start // 50 != self._count // 50 or start < 50):
            self._scale = bt.band_scale(recent[:-1])
            self._kick_scale = float(bt.band_scale(recent[-1:])[0])
        if not count:
            return
        scale = self._accent_scale(recent[-1])
        # the accents are smoothed over 7 frames and the kicks moved back by KICK_LAG: the
        # last few before the new ones change too
        lo = max(start - ACCENT_REACH, 0)
        context = max(lo - 3, 0)
        rows = self._rows[:, context:self._count]
        self._onsets[lo:self._count] = bt.combine(rows[:-1], self._scale)[lo - context:]
        accents, shape = bt.bar_rows(rows, scale, bt.KICK_LAG)
        self._accents[lo:self._count] = accents[lo - context:]
        self._shape[:, lo:self._count] = shape[:, lo - context:]

    def _accent_scale(self, kicks: np.ndarray) -> np.ndarray:
        """The bands' scales and the kicks': the first kick or bass note after hats alone is
        weighed against the loudest rise in `kicks`, not against the hats' faint rises in
        the low band."""
        return np.append(self._scale, max(self._kick_scale, SCALE_FLOOR * kicks.max()))

    def _listen(self) -> None:
        onsets = self._onsets[:self._count]
        active = np.nonzero(onsets[self._listen_from:] > 0.5)[0]
        if not len(active):
            return
        first = self._listen_from + max(int(active[0]) - 2, 0)
        if self._count - first < self._listen_frames:
            return
        window = slice(first, self._count)
        bpm, strength = bt.tempo_in_range(onsets[window], self.frame_rate, self.bpm_range)
        if strength < bt.MIN_STRENGTH:
            self._listen_from = self._count - self._listen_frames // 2   # try again later
            return
        # the accents weighed afresh by the bands' scale over the whole window: its first
        # frames were weighed before a snare or a kick had set their band's typical strength
        rows = self._rows[:, window]
        accents, shape = bt.bar_rows(rows, self._accent_scale(rows[-1]), bt.KICK_LAG)
        # a relative must win clearly, and still win without the longest lags, which rest
        # on the window's first and last frames alone (a click track's 2:3 wins on them)
        relative = self._relative(onsets[window], accents, bpm, LISTEN_GAIN)
        if relative and relative == self._relative(onsets[window], accents, bpm, 0.0, 0.8):
            bpm = relative
        try:
            grid = bt.start_grid(onsets[window], self.frame_rate, bpm, self.bpm_range,
                                 accents, shape)
        except bt.NoPulse:
            return
        grid.beat += first
        self._grid, self._grid_beats, self._better = grid, 0, 0

    def _relevel(self) -> None:
        """Move the grid to a relative of its tempo (2:3, 3:2, 3:4, 4:3) that the offline
        metrical weighing prefers clearly, check after check: a grid started at a relative
        otherwise keeps it for good."""
        grid = self._grid
        end = int(grid.beat)
        start = max(end - int(RELEVEL_SECONDS * self.frame_rate), 0)
        window = slice(start, end)
        tempo = self._relative(self._onsets[window], self._accents[window],
                               60 * self.frame_rate / grid.period, RELEVEL_GAIN)
        self._better = self._better + 1 if tempo else 0
        if self._better < RELEVEL_CHECKS:
            return
        try:
            line = bt.start_grid(self._onsets[window], self.frame_rate, tempo, self.bpm_range,
                                 self._accents[window], self._shape[:, window])
        except bt.NoPulse:
            return
        # the new line's last beat at or before the grid's, so no beat is placed twice
        phase = line.beat + start
        beat = phase + np.floor((grid.beat - phase) / line.period) * line.period
        grid.move_to(beat, line.period)
        self._better = 0

    def _relative(self, onsets: np.ndarray, accents: np.ndarray, bpm: float,
                  gain: float, reach: float = 1.0) -> float | None:
        """The relative of `bpm` the metrical weighing prefers by more than `gain` of
        `bpm`'s own score, if any."""
        (_, own), *others = bt.metrical_scores(onsets, accents, self.frame_rate, bpm,
                                               self.bpm_range, reach)
        if not others:
            return None
        tempo, best = max(others, key=lambda candidate: candidate[1])
        return tempo if best - own > gain * max(abs(own), 0.05) else None

    def _judge(self) -> None:
        if self._grid.locked:
            self.state, self._unsure_beats = "locked", 0
        elif self.state == "locked" or self.state == "unsure":
            self.state = "unsure"
            self._unsure_beats += 1
            if self._unsure_beats > RELISTEN_BEATS:
                self._grid, self._listen_from, self.state = None, self._count, "unsure"


class AudioClock:
    """A clock following an audio input: `device` is a sounddevice input (by name or
    number; the default input if None) or "file:PATH", a file played at real-time pace."""

    def __init__(self, device: str | None = None, *, bpm_range=None, latency_ms: object = 0,
                 now_ns=time.monotonic_ns, start: bool = True):
        self._now_ns = now_ns
        self._latency = exact(latency_ms, "latency_ms") / 1000
        self._bpm_range = tuple(bpm_range or bt.DEFAULT_BPM_RANGE)
        self._lock = threading.Lock()
        self._map: TempoMap | None = None
        self._read_until = Fraction(0)
        self._tracker: AudioTracker | None = None
        self.source = None
        self._device = device
        self.reads = 0
        if start:
            kind = FileSource if device and device.startswith("file:") else DeviceSource
            try:
                self.source = kind(device, self)
            except ImportError as exc:
                raise RuntimeError(f"clock.device: following audio needs the `audio` extra "
                                   f"({exc})") from None
            except OSError as exc:
                raise RuntimeError(f"clock.device: {exc}") from None

    @classmethod
    def for_show(cls, show, **options) -> AudioClock:
        spec = show.clock
        return cls(spec.device, bpm_range=spec.bpm_range, latency_ms=spec.latency_ms, **options)

    @property
    def state(self) -> str:
        return "listening" if self._tracker is None else self._tracker.state

    @property
    def name(self) -> str:
        return f"audio {self.state}"

    def now(self) -> Fraction:
        return Fraction(self._now_ns(), 1_000_000_000)

    def begin(self, rate: int) -> None:
        """Called by the source once it knows its sample rate."""
        self._tracker = AudioTracker(rate, self._bpm_range)

    def hear(self, samples: np.ndarray, heard: float) -> None:
        """A block of mono samples, its first one heard at `heard` (monotonic seconds)."""
        tracker = self._tracker
        beats = tracker.feed(samples, heard)
        newest = heard + len(samples) / tracker._stream.rate
        for seconds, bpm, confirmed, stepped in beats:
            if tracker.state == "locked" and confirmed:
                self._correct(seconds, bpm, newest, stepped)

    def _correct(self, beat_seconds: float, bpm: float, newest: float,
                 stepped: bool = False) -> None:
        """Bring the clock to a beat the grid placed at `beat_seconds` at `bpm`, having heard
        up to `newest`; `stepped` if the grid laid its line anew after a tempo step, which the
        clock then takes whole."""
        tempo = Fraction(round(bpm * BPM_GRID), BPM_GRID)
        with self._lock:
            edit_at = max(_exact_seconds(newest), self._read_until)
            if self._map is None:
                # start at the first grid beat not yet read
                period = 60 / bpm
                ahead = max(0, int((float(edit_at) - beat_seconds) / period) + 1)
                self._map = TempoMap(tempo, anchor_seconds=_exact_seconds(
                    beat_seconds + ahead * period), anchor_beat=0)
                return
            if abs(self._map.bpm_at(edit_at) - tempo) > TEMPO_TOLERANCE * tempo:
                self._map.set_tempo(edit_at, tempo)
            # where the clock will play the grid's next beat, against where the grid has it
            period = 60 / bpm
            ahead = max(0, int((float(edit_at) - beat_seconds) / period) + 1)
            target = beat_seconds + ahead * period
            number = round(self._map.beat_at(_exact_seconds(target)))
            error = float(self._map.seconds_at(number)) - target
            if abs(error) > PHASE_TOLERANCE and number >= 0:
                # a small error is half jitter: take half of it a beat; a large one is a drift
                share = 1 if stepped or abs(error) > DRIFT_SECONDS else Fraction(1, 2)
                self._map.nudge(edit_at, share * Fraction(round(error * 1000 * NUDGE_GRID),
                                                          NUDGE_GRID))

    def _show_time(self, seconds: object) -> Fraction:
        return exact(seconds, "seconds") + self._latency

    def beat_at(self, seconds: object) -> Fraction:
        at = self._show_time(seconds)
        with self._lock:
            self._read_until = max(self._read_until, at)
            self.reads += 1
            if self._map is None:
                return Fraction(0)
            return max(self._map.beat_at(at), Fraction(0))

    def pip_at(self, seconds: object) -> int:
        return pip_of(self.beat_at(seconds))

    def bpm_at(self, seconds: object) -> Fraction:
        with self._lock:
            return Fraction(0) if self._map is None else self._map.bpm_at(self._show_time(seconds))

    def running_at(self, seconds: object) -> bool:
        with self._lock:
            return self._map is not None and self._map.beat_at(self._show_time(seconds)) >= 0

    def tempo_map(self) -> TempoMap | None:
        return self._map

    def close(self) -> None:
        if self.source is not None:
            self.source.close()

    def wait(self, timeout: float | None = None) -> bool:
        """Wait until a file source has played to its end; True if it has."""
        return self.source.done.wait(timeout)


def _exact_seconds(seconds: float) -> Fraction:
    return Fraction(round(seconds * 1_000_000), 1_000_000)


class FileSource:
    """Plays an audio file into the clock at the pace it was recorded: each block is handed
    over when its last sample is due, stamped with the time its first sample was."""

    def __init__(self, device: str, clock: AudioClock):
        from .analyse import read_audio
        self.samples, self.rate = read_audio(device[len("file:"):])
        self._clock = clock
        clock.begin(self.rate)
        self.done = threading.Event()
        self.start = self._clock._now_ns() / 1e9
        self._closing = threading.Event()
        self._thread = threading.Thread(target=self._play, daemon=True, name="audio-file")
        self._thread.start()

    def _play(self) -> None:
        block = int(BLOCK_SECONDS * self.rate)
        start = self.start
        for first in range(0, len(self.samples), block):
            due = start + min(first + block, len(self.samples)) / self.rate
            if self._closing.wait(max(due - self._clock._now_ns() / 1e9, 0)):
                return
            self._clock.hear(self.samples[first:first + block], start + first / self.rate)
        self.done.set()

    def close(self) -> None:
        self._closing.set()
        self._thread.join()


class DeviceSource:
    """A sounddevice input stream; blocks stamped with the input's ADC time."""

    def __init__(self, device, clock: AudioClock):
        import sounddevice   # the `audio` extra, and PortAudio
        self._clock = clock
        self.done = threading.Event()
        try:
            self._open(sounddevice, device)
        except (sounddevice.PortAudioError, ValueError) as exc:
            raise OSError(f"audio input {device!r}: {exc}") from None

    def _open(self, sounddevice, device) -> None:
        if isinstance(device, str) and device.isdigit():
            device = int(device)
        info = sounddevice.query_devices(device, "input")
        rate = int(info["default_samplerate"])
        self._clock.begin(rate)
        self._stream = sounddevice.InputStream(
            device=device, channels=1, samplerate=rate, dtype="float32",
            blocksize=int(BLOCK_SECONDS * rate), callback=self._receive)
        self._offset = None
        self._stream.start()

    def _receive(self, data, frames, stamps, status) -> None:
        if self._offset is None:
            # the stream's clock against ours, taken once: both run at real time
            self._offset = self._clock._now_ns() / 1e9 - self._stream.time
        self._clock.hear(data[:, 0].copy(), stamps.inputBufferAdcTime + self._offset)

    def close(self) -> None:
        self._stream.close()
        self.done.set()


class Replay:
    """The live tracker's run over a recording, fed as fast as it goes (for measuring)."""

    def __init__(self, clock: AudioClock, reads: list[tuple[float, int]],
                 lock_seconds: float | None):
        self.clock, self.reads, self.lock_seconds = clock, reads, lock_seconds

    def score(self, truth: np.ndarray) -> dict:
        """Beats of the truth before the lock, the p95 phase error (ms) of the beats the
        clock played after it, and whether every pip step stayed within the fastest bend."""
        tempo_map = self.clock.tempo_map()
        if self.lock_seconds is None or tempo_map is None:
            return {"lock_beat": len(truth), "p95_ms": float("inf"), "steady": True}
        lock_beat = int(np.searchsorted(truth, self.lock_seconds))
        start = float(tempo_map.seconds_at(0))
        errors = []
        for beat in truth[truth > max(self.lock_seconds, start)]:
            number = round(tempo_map.beat_at(_exact_seconds(beat)))
            errors.append(abs(float(tempo_map.seconds_at(number)) - beat) * 1000)
        fastest = self.clock._bpm_range[1] * 1.03 * 9 / 8 / 60 * 64
        steady = all(b >= a and b - a <= fastest * (t2 - t1) + 1
                     for (t1, a), (t2, b) in zip(self.reads, self.reads[1:]))
        return {"lock_beat": lock_beat,
                "p95_ms": float(np.percentile(errors, 95)) if errors else float("inf"),
                "steady": steady}


def replay(samples: np.ndarray, rate: int, bpm_range=None) -> Replay:
    """Feed `samples` block by block as if heard from time 0, reading the pip after each
    block as a show would."""
    clock = AudioClock(bpm_range=bpm_range, start=False)
    clock.begin(rate)
    block = int(BLOCK_SECONDS * rate)
    reads, lock = [], None
    for first in range(0, len(samples), block):
        clock.hear(samples[first:first + block], first / rate)
        now = (first + block) / rate
        reads.append((now, clock.pip_at(_exact_seconds(now))))
        if lock is None and clock.state == "locked":
            lock = now
    return Replay(clock, reads, lock)
