"""Beats from sound: band-split onsets, a tempo inside a BPM range, and a phase-locked grid.

The onset strength comes from librosa (spectral flux of a mel spectrogram, summed in three
bands: the kick and bass, the snare and claps, the hats), each band scaled to its own median
so quiet hats weigh as much as loud kicks. On top of it:
- `tempo_in_range`: the period whose comb of autocorrelation lags (1, 2, 3, 4 periods) is
  strongest, searched only inside the range, so a 174 BPM track stays 174 in 120..200;
- `metrical_level`: offline, that tempo weighed against its 2:3 and 3:4 relatives in the
  range by how the accents repeat over two bars, so a broken beat is not read at 2:3;
- `Grid`: one beat at a time, the strongest onset near the predicted beat pulls the phase and
  the period a little (a phase-locked loop), so the grid holds through fills and gaps and a
  stray onset moves it by a fraction of its error;
- `segments`: the beat times as constant-tempo pieces, split only where one line no longer
  fits, which is the clock a show plays.
Needs numpy and librosa (the `audio` extra).
"""

from __future__ import annotations

import math
from dataclasses import dataclass, field

import numpy as np
from scipy.ndimage import median_filter

DEFAULT_BPM_RANGE = (90.0, 180.0)
FRAME_RATE = 100.0            # onset frames a second (hop of 10 ms)
MELS = 96
BANDS = (0, 12, 40, MELS)     # edges in mel bins of the low, middle and high bands
PHASE_GAIN = 0.35
PERIOD_GAIN = 0.12
SEARCH = 0.16                 # an onset this share of a beat from the prediction counts
LOCK_HITS = 4                 # hits in the last LOCK_WINDOW beats to be locked
LOCK_WINDOW = 6
SEGMENT_TOLERANCE = 0.03      # seconds a beat may sit off its segment's line
RUN = 4                       # beats in a row off the line that make a tempo change
HEAD_SECONDS = 10
MIN_PIECE = 8                 # beats a tempo holds at least
MIN_STRENGTH = 0.1            # a pulse weaker than this is no pulse (noise scores 0.05)
ONSET_LAG = 0.008             # seconds the flux peaks after the attack (measured on the corpus)
KICK_LAG = 1.7                # frames the kicks' plain level peaks after their flux (likewise)
ACCENT_LAG = 0.4              # frames the live accents then still peak after the attack
UNBIASED_FLOOR = 0.25         # the least share of the curve a lag's products are scaled to
COMB = ((0.5, 0.5), (1, 1.0), (2, 0.7), (3, 0.5), (4, 0.4))
COMB_TOTAL = sum(w for _, w in COMB)
BAR_COMB = ((0.5, 0.5), (1, 1.0), (2, 1.0), (4, 1.0), (8, 1.0))   # a beat up to two bars
RELATIVES = (2 / 3, 3 / 2, 3 / 4, 4 / 3)
STEADY_SHARE = 0.97           # what one tempo must keep of the pieces' fit to be chosen
ACCENT_WEIGHTS = (0.5, 1.5, 0.3, 3.0)   # low, middle, high bands, the kicks' plain level
COMB_BEATS = 8                # beats of accents a windowed grid lays its line through
COMB_STRETCH = 0.01           # share of a beat the windowed line's period may differ
PHASE_BEATS = 16              # beats of accents that weigh the grid's phase against others
PHASE_MIN_BEATS = 8
# the phases a grid is weighed against, as shares of a beat; over a half moves it back
PHASE_SHARES = np.array([0.0, 0.25, 1 / 3, 0.5, -1 / 3, -0.25])
PHASE_SWITCH = 1.25           # how much stronger another phase must be (no steady track on
                              # the corpus comes within 1.14 at the true phase)
BAR_MIN_BEATS = 5             # beats the bar's shape needs: the clock starts after six
BAR_CLOSE = 0.8               # phases whose accents are at least this share of the grid's own
BAR_SWITCH = 1.25             # are weighed by the bar's shape, and must fit it this much better
TRACK_CLOSE = 0.75            # likewise over a whole track, where the bar's contrast is surer
FLOOR_FRAMES = 101            # frames of the running median a band's onsets are taken above
NOISE_FLOOR = 0.9             # that median's share of the snares' band in noise (clean and
                              # reverberant tracks of the corpus stay under 0.85)
STEP_SHARE = 0.02             # share of a beat two accents in a row must be off the same way
STEP_GAIN = 1.4               # how much more accent a line of their own must find them
STEP_RANGE = 0.08             # share of a beat the period may move at a tempo step
BACKBEATS = ((1, 3), (2,))    # where a bar's snares fall after its first beat: two and four,
                              # or half-time on three
RISE_FRAMES = 2.0             # frames a dry accent takes from half its height to its peak; a
                              # room's tail building on each hit takes longer, and the line
                              # is laid earlier by the excess
RISE_REACH = 5                # frames back a rise is looked for
RISE_BEATS = 4                # rises heard before their lag is trusted


class NoPulse(ValueError):
    """Audio with no steady beat to follow (silence, noise, a single chord)."""


def _librosa():
    import librosa   # the `audio` extra; imported late, it is slow to load
    return librosa


def hop_for(rate: int) -> int:
    return max(int(round(rate / FRAME_RATE)), 1)


def fft_for(rate: int) -> int:
    return 1 << max(int(math.ceil(math.log2(rate * 0.046))), 8)


def band_onsets(samples: np.ndarray, rate: int, *, centre: bool = True) -> np.ndarray:
    """The band-split onset strength, one row per band and a last row with the low band's
    rise in plain (not logarithmic) level, which tells a kick from a quiet bass note;
    `rate / hop_for(rate)` frames a second, frame k the change arriving at sample k * hop."""
    librosa = _librosa()
    hop, n_fft = hop_for(rate), fft_for(rate)
    mel = librosa.feature.melspectrogram(
        y=np.asarray(samples, dtype=np.float32), sr=rate, hop_length=hop, n_fft=n_fft,
        n_mels=MELS, fmax=min(rate / 2, 11025), center=centre)
    bands = librosa.onset.onset_strength_multi(
        S=librosa.power_to_db(mel), sr=rate, hop_length=hop, n_fft=n_fft,
        channels=list(BANDS), aggregate=np.mean, center=centre)
    level = np.sqrt(mel[:BANDS[1]].sum(axis=0))
    # delayed as librosa delays its onsets, so both rows mark an onset in the same frame
    delay = n_fft // (2 * hop) if centre else 0
    rise = np.concatenate([np.zeros(delay), np.maximum(np.diff(level), 0)])
    rise = np.pad(rise, (0, max(bands.shape[1] - len(rise), 0)))[:bands.shape[1]]
    return np.vstack([bands, rise[None, :]])


def combine(bands: np.ndarray, scale: np.ndarray | None = None) -> np.ndarray:
    """One onset curve: each band divided by its typical strength (or the given `scale`)."""
    if scale is None:
        scale = band_scale(bands)
    return (bands / scale[:, None]).sum(axis=0) + 0.5 * bands[0] / scale[0]


def band_scale(bands: np.ndarray) -> np.ndarray:
    active = [np.percentile(b[b > 0], 90) if np.any(b > 0) else 1.0 for b in bands]
    return np.maximum(np.array(active), 1e-6)


def tempo_in_range(onsets: np.ndarray, frame_rate: float,
                   bpm_range: tuple[float, float] = DEFAULT_BPM_RANGE) -> tuple[float, float]:
    """(bpm, strength) of the strongest pulse inside the range; strength in 0..1 is the
    comb's share of the curve's energy."""
    lo, hi = bpm_range
    ac = _autocorrelation(onsets, UNBIASED_FLOOR)
    if ac is None:
        return 0.0, 0.0
    best, strength = 0.0, -1.0
    for bpm in np.arange(lo, hi, 0.05):
        # the beat's multiples and its half: a pulse with eighths under it beats its 3:2
        score = _comb(ac, 60 * frame_rate / bpm, COMB, COMB_TOTAL)
        if score > strength:
            best, strength = bpm, score
    return float(best), float(max(strength, 0.0))


def metrical_level(onsets: np.ndarray, accents: np.ndarray, frame_rate: float, bpm: float,
                   bpm_range: tuple[float, float]) -> float:
    """`bpm` or the relative of it at 2:3, 3:2, 3:4 or 4:3 inside the range whose comb
    over the onsets, plus the accents' repetition at a half, one, two, four and eight of
    its beats, is strongest. A broken beat's onsets can repeat as strongly every beat and
    a half as every beat, but its bars repeat at four and eight beats of the true tempo."""
    return max(metrical_scores(onsets, accents, frame_rate, bpm, bpm_range),
               key=lambda candidate: candidate[1])[0]


def metrical_scores(onsets: np.ndarray, accents: np.ndarray, frame_rate: float, bpm: float,
                    bpm_range: tuple[float, float], reach: float = 1.0
                    ) -> list[tuple[float, float]]:
    """(tempo, score) of `bpm`, then of each of its relatives inside the range, as
    `metrical_level` weighs them; only `bpm`, scored 0, for a flat curve. The combs look
    at lags up to `reach` of the curves' length: on a few seconds, the last lags rest on a
    handful of frames."""
    lo, hi = bpm_range
    onset_ac, accent_ac = _autocorrelation(onsets), _autocorrelation(accents)
    if onset_ac is None or accent_ac is None:
        return [(bpm, 0.0)]
    candidates = [bpm] + [tempo_in_range(onsets, frame_rate,
                                         (max(bpm * r * 0.98, lo), min(bpm * r * 1.02, hi)))[0]
                          for r in RELATIVES if lo <= bpm * r <= hi]
    limit = max(int(reach * len(accents)), 3)

    def score(tempo: float) -> float:
        lag = 60 * frame_rate / tempo
        return (0.5 * _comb(onset_ac[:limit], lag, COMB, COMB_TOTAL)
                + _comb(accent_ac[:limit], lag, BAR_COMB))

    return [(tempo, score(tempo)) for tempo in candidates]


def _autocorrelation(curve: np.ndarray, floor: float = 0.0) -> np.ndarray | None:
    """The unbiased autocorrelation as a share of lag 0; None for a flat curve. A lag's
    sum is scaled up to at most `floor` of the curve's length: on the live tracker's few
    seconds the last lags rest on one pair of clicks, which would outweigh every other lag."""
    x = curve - np.mean(curve)
    n = len(x)
    if n < 4 or not np.any(x):
        return None
    spectrum = np.fft.rfft(x, 2 * n)
    ac = np.fft.irfft(spectrum * np.conj(spectrum))[:n]
    if ac[0] <= 0:
        return None
    return ac / ac[0] / np.maximum(1 - np.arange(n) / n + 1e-9, floor)


def _comb(ac: np.ndarray, lag: float, comb, total: float | None = None) -> float:
    """The weighted autocorrelation at the comb's multiples of `lag`, divided by `total`
    (by default the weights of the multiples the curve is long enough for)."""
    terms = [(w * _at(ac, k * lag), w) for k, w in comb if k * lag < len(ac) - 1]
    if total is None:
        total = sum(w for _, w in terms) or 1.0
    return sum(t for t, _ in terms) / total


def _at(values: np.ndarray, position: float) -> float:
    i = int(position)
    f = position - i
    return float(values[i] * (1 - f) + values[i + 1] * f)


def _peak(onsets: np.ndarray, centre: float, half_width: float) -> tuple[float, float] | None:
    """The strongest local maximum within half_width frames of centre, weighted towards the
    centre, as (frame with sub-frame precision, height); None if there is none."""
    lo, hi = max(int(centre - half_width), 1), min(int(centre + half_width) + 1, len(onsets) - 1)
    best = None
    for k in range(lo, hi):
        v = onsets[k]
        if v <= onsets[k - 1] or v < onsets[k + 1]:
            continue
        weight = v * (1 - 0.5 * ((k - centre) / half_width) ** 2)
        if best is None or weight > best[2]:
            best = (k, v, weight)
    if best is None:
        return None
    k, v, _ = best
    a, b, c = onsets[k - 1], onsets[k], onsets[k + 1]
    denominator = a - 2 * b + c
    offset = 0.5 * (a - c) / denominator if denominator else 0.0
    return k + max(min(offset, 0.5), -0.5), float(v)


@dataclass
class Grid:
    """A phase-locked beat grid over an onset curve, in frames: `beat` is the frame of the
    beat last placed, `period` the frames a beat, `measured` the frame of the onset that
    confirmed it (None if none did)."""

    beat: float
    period: float
    frame_rate: float
    bpm_range: tuple[float, float] = DEFAULT_BPM_RANGE
    threshold: float = 0.0
    hits: list[bool] = field(default_factory=list)
    measured: float | None = None
    placed: list[float] = field(default_factory=list)    # the last beats placed
    errors: list[float | None] = field(default_factory=list)   # their accents' offsets
    # (frame, beats since, period before) of the beat a tempo step started after
    anchor: tuple[float, int, float] | None = None
    refit: bool = False           # the last beat was placed on the line laid since a step
    rises: list[float] = field(default_factory=list)   # the last beats' accents' rise times
    lag: float = 0.0              # frames the accents peak later than on a dry recording

    @property
    def locked(self) -> bool:
        return len(self.hits) >= LOCK_WINDOW and sum(self.hits[-LOCK_WINDOW:]) >= LOCK_HITS

    def step(self, onsets: np.ndarray, accents: np.ndarray | None = None,
             shape: tuple[np.ndarray, np.ndarray] | None = None) -> float:
        """Place the next beat (its onset frames must all be in `onsets`) and return it.
        Given `accents`, a confirmed beat goes where the line through the last COMB_BEATS
        beats of accents is strongest, instead of being pulled by the one onset near it;
        `shape` (see `bar_rows`) lets the bar's shape choose between phases. Two beats in a
        row off the line the same way, growing, that fit a line of their own from the beat
        before them clearly better, are a tempo step: the grid then lays its line from that
        beat through only the beats since, until COMB_BEATS have passed."""
        predicted = self.beat + self.period
        found = _peak(onsets, predicted, SEARCH * self.period)
        hit = found is not None and found[1] > self.threshold
        self.hits = self.hits[-(LOCK_WINDOW * 4):] + [hit]
        self.measured = found[0] if hit else None
        # where this beat's own accent peaks, against the line's prediction
        lone = _peak(accents, predicted + ACCENT_LAG, SEARCH * self.period) \
            if hit and accents is not None else None
        if lone and (rise := _rise(accents, lone[0])) is not None:
            # a reverberant room's tail builds on each hit: its accents rise slowly, peak late
            self.rises = self.rises[-(PHASE_BEATS - 1):] + [rise]
            # the mean, not the median: where the rises fall into two sets (fills, a tempo
            # change) the median flips between them; and no further than most rises are
            # late, as a dry recording's rises scatter about the figure
            low = float(np.percentile(self.rises, 25)) - RISE_FRAMES
            self.lag = max(min(float(np.mean(self.rises)) - RISE_FRAMES, 2 * low), 0.0) \
                if len(self.rises) >= RISE_BEATS else 0.0
        late = ACCENT_LAG + self.lag
        self.errors = self.errors[-1:] + [lone[0] - predicted - late if lone else None]
        self.refit = False
        if not hit:
            self.beat = predicted
            if self.anchor is not None:
                frame, beats, before = self.anchor
                self.anchor = (frame, beats + 1, before)
        elif accents is None:
            error = found[0] - predicted
            self.beat = predicted + PHASE_GAIN * error
            self._set_period(self.period + PERIOD_GAIN * error)
        else:
            if self.anchor is None and len(self.hits) > COMB_BEATS and self._stepped() \
                    and self._step_fits(accents):
                # the tempo stepped a beat ago: a new line from the last beat before it
                self.anchor = (self.placed[-2], 1, self.period)
            if self.anchor is not None:
                # around the period before the step, so the new line cannot wander off it
                frame, beats, before = self.anchor
                beats += 1
                self.anchor = (frame, beats, before)
                period = step_line(accents, frame + self.lag, before, beats)
                self.beat = frame + beats * period
                self._set_period(period)
                self.refit = True
                if beats >= COMB_BEATS:
                    self.anchor = None
            else:
                offset, stretch = comb_line(accents, predicted + self.lag, self.period)
                self.beat = predicted + offset + self.period * better_phase(
                    accents, predicted + offset + self.lag, self.period,
                    min(len(self.hits), PHASE_BEATS), shape)
                self._set_period(self.period + stretch)
        self.placed = self.placed[-2:] + [self.beat]
        return self.beat

    def _stepped(self) -> bool:
        """Whether the last two beats' accents are both clearly off the predictions the same
        way: a tempo step (a stray onset or a push is off on one beat)."""
        first, second = self.errors[-2:]
        limit = STEP_SHARE * self.period
        # the beats drift apart a step a beat: the second is off by at least most of the first
        return first is not None and second is not None and first * second > 0 \
            and min(abs(first), abs(second)) > limit and abs(second) >= 0.6 * abs(first)

    def _step_fits(self, accents: np.ndarray) -> bool:
        """Whether the two beats since the last before the step lie clearly better on a line
        of their own than on the grid's: a new tempo, not a fill."""
        anchor = self.placed[-2] + self.lag
        period = step_line(accents, anchor, self.period, 2)
        old, new = (np.interp(anchor + ACCENT_LAG + p * np.arange(1, 3), np.arange(len(accents)),
                              accents, left=0, right=0).sum() for p in (self.period, period))
        # a line at the end of the range fits something else than a step
        return new > STEP_GAIN * old and \
            STEP_SHARE * self.period < abs(period - self.period) < 0.99 * STEP_RANGE * self.period

    def move_to(self, beat: float, period: float) -> None:
        """Carry on from `beat` at another `period`: a tempo step under way and the accents'
        offsets from the old line no longer apply."""
        self.beat, self.period, self.anchor = beat, period, None
        self.errors, self.placed = [None, None], [beat] * 3

    def _set_period(self, period: float) -> None:
        low, high = (60 * self.frame_rate / b for b in reversed(self.bpm_range))
        self.period = min(max(period, low * 0.97), high * 1.03)


def better_phase(accents: np.ndarray, beat: float, period: float, beats: int,
                 shape: tuple[np.ndarray, np.ndarray] | None = None) -> float:
    """The share of a beat to move a grid whose last `beats` beats end at `beat` by, if the
    accents on a line a quarter, a third or a half of a beat off it are clearly stronger
    (a grid started on a push or an offbeat); 0 if not, or with too few beats to tell.
    A share over a half moves it back. Given the bar's `shape` (see `bar_rows`), a phase
    whose accents are close to the grid's own is taken where it fits the bar clearly better,
    from a bar on: offbeat kicks and pushes can weigh as much as the beat, but the backbeat
    lands on the beat."""
    if beats < (PHASE_MIN_BEATS if shape is None else BAR_MIN_BEATS):
        return 0.0
    shares = PHASE_SHARES
    positions = beat + period * (shares[:, None] - np.arange(beats)[None, :])
    score = np.interp(positions, np.arange(len(accents)), accents, left=0, right=0).sum(axis=1)
    best = int(np.argmax(score))
    if beats >= PHASE_MIN_BEATS and score[best] > PHASE_SWITCH * score[0]:
        return float(shares[best])
    if shape is None:
        return 0.0
    kick, back = bar_fit(shape, positions)
    # the kick must lead the bar there as well as here: a snare on every offbeat (as in
    # dembow) fits the backbeat half a beat off
    close = (score >= BAR_CLOSE * score[0]) & (kick >= BAR_CLOSE * kick[0])
    fits = np.where(close, kick + back, -1.0)
    best = int(np.argmax(fits))
    return float(shares[best]) if fits[best] > BAR_SWITCH * fits[0] else 0.0


def bar_fit(shape: tuple[np.ndarray, np.ndarray], positions: np.ndarray):
    """How well each row of beat `positions` (the latest first) fits a bar of four, at the
    best of the four places the bar may start: (the low band on its first beats, the
    snares on its second and fourth, or on its third in a half-time bar, counted twice
    as there is one a bar)."""
    low, snare = (np.interp(positions, np.arange(len(row)), row, left=0, right=0)
                  for row in shape)
    place = np.arange(positions.shape[1])
    fits = [(low[:, (d - place) % 4 == 0].sum(axis=1),
             snare[:, np.isin((d - place) % 4, beats)].sum(axis=1) * 2 / len(beats))
            for d in range(4) for beats in BACKBEATS]
    start = np.argmax([kick + back for kick, back in fits], axis=0)
    rows = np.arange(len(positions))
    return (np.array([k for k, _ in fits])[start, rows],
            np.array([b for _, b in fits])[start, rows])


def bar_phase(accents: np.ndarray, above: np.ndarray, beats: np.ndarray) -> float:
    """The share of a beat to move a whole track's `beats` (frames) by, if a phase a quarter,
    a third or a half of a beat off has accents close to theirs and a bar that stands out
    more on both of its rows: the kicks on its first beats above its other beats, the snares
    on two and four above one and three. `above` holds the scaled rows of `band_onsets`
    above their running median, so steady noise raises no beat."""
    if len(beats) < 2 * BAR_MIN_BEATS:
        return 0.0
    shares = PHASE_SHARES
    period = np.diff(beats)
    period = np.append(period, period[-1])
    positions = (beats[None, :] + shares[:, None] * period[None, :])[:, 4:-4]
    frames = np.arange(len(accents))
    score = np.interp(positions, frames, accents, left=0, right=0).sum(axis=1)
    rows = _smooth(above[3]), _smooth(np.minimum(above[1], above[2]))
    place = np.arange(positions.shape[1])
    kick, back = (np.array([
        (row_at[:, (place - d) % every == first].mean(axis=1)
         - row_at[:, (place - d) % every != first].mean(axis=1)) / (row.mean() + 1e-9)
        for d in range(4)])
        for row, every, first in ((rows[0], 4, 0), (rows[1], 2, 1))
        for row_at in [np.interp(positions, frames, row, left=0, right=0)])
    start = np.argmax(kick + back, axis=0)
    kick, back = kick[start, np.arange(len(shares))], back[start, np.arange(len(shares))]
    fits = np.where((score >= TRACK_CLOSE * score[0]) & (kick >= kick[0]) & (back >= back[0]),
                    kick + back, -np.inf)
    best = int(np.argmax(fits))
    return float(shares[best]) if best and fits[best] > BAR_SWITCH * max(kick[0] + back[0], 0) \
        else 0.0


def comb_line(accents: np.ndarray, predicted: float, period: float,
              beats: int = COMB_BEATS) -> tuple[float, float]:
    """(frames to move the predicted beat, frames to add to the period) that put the line
    of `beats` beats ending at it on the most accent: a push, a fill or a flam falls on
    one beat of the line, so it moves the line far less than it would move a single beat."""
    offsets = np.arange(-SEARCH * period, SEARCH * period + 0.125, 0.25)
    stretches = np.linspace(-COMB_STRETCH, COMB_STRETCH, 9) * period
    back = np.arange(beats)[None, None, :] * (period + stretches[:, None, None])
    positions = predicted + ACCENT_LAG + offsets[None, :, None] - back
    score = np.interp(positions, np.arange(len(accents)), accents, left=0, right=0).sum(axis=2)
    i, j = np.unravel_index(np.argmax(score), score.shape)
    return float(offsets[j]), float(stretches[i])


def step_line(accents: np.ndarray, anchor: float, period: float, beats: int) -> float:
    """The period of the line from `anchor` whose next `beats` beats fall on the most accent:
    after a tempo step only the beats since it say where the beat now is."""
    periods = period * (1 + np.linspace(-STEP_RANGE, STEP_RANGE, 161))
    positions = anchor + ACCENT_LAG + periods[:, None] * np.arange(1, beats + 1)[None, :]
    score = np.interp(positions, np.arange(len(accents)), accents, left=0, right=0).sum(axis=1)
    return float(periods[int(np.argmax(score))])


def _rise(accents: np.ndarray, peak: float) -> float | None:
    """Frames from where the accent before `peak` first reaches half its height to it; None
    if it does not rise from below half within RISE_REACH frames (hits too close to part)."""
    top = int(round(peak))
    half, k = 0.5 * accents[top], top
    while k > 0 and accents[k - 1] > half:
        k -= 1
        if top - k > RISE_REACH:
            return None
    below, above = accents[k - 1] if k else 0.0, accents[k]
    return peak - (k - (above - half) / (above - below) if above > below else k)


def accent_curve(bands: np.ndarray, scale: np.ndarray | None = None,
                 kick_lag: float = 0.0) -> np.ndarray:
    """What marks a beat rather than an offbeat: kicks' plain level most, the hats least.
    `kick_lag` frames moves the kicks' level back onto their flux: it rises over the whole
    window, and left late it drags a grid that lays its line through the accents."""
    curve = _weighted(bands, scale, kick_lag).sum(axis=0)
    # smoothed, so a sharp onset a frame off the comb still counts
    return _smooth(curve)


def bar_rows(bands: np.ndarray, scale: np.ndarray, kick_lag: float
             ) -> tuple[np.ndarray, np.ndarray]:
    """`accent_curve`, and the bar's rows: the accents of the low band with the kicks, and of
    the snares (the lesser of the middle and high bands): the kick leads a bar and the snares
    or claps mark its backbeat. One weighing of the bands serves both."""
    weighted = _weighted(bands, scale, kick_lag)
    # a snare or clap is noise: it rises in the middle and the high band at once, where a
    # bell or a tom rises in one alone
    snare = np.minimum(weighted[1] / ACCENT_WEIGHTS[1], weighted[2] / ACCENT_WEIGHTS[2])
    return _smooth(weighted.sum(axis=0)), np.vstack(
        [_smooth(weighted[0] + weighted[3]), _smooth(ACCENT_WEIGHTS[1] * snare)])


def _weighted(bands: np.ndarray, scale: np.ndarray | None, kick_lag: float) -> np.ndarray:
    scaled = bands / (band_scale(bands) if scale is None else scale)[:, None]
    if kick_lag and len(scaled) == len(ACCENT_WEIGHTS):
        frames = np.arange(scaled.shape[1])
        scaled[-1] = np.interp(frames + kick_lag, frames, scaled[-1], right=0)
    return scaled * np.array(ACCENT_WEIGHTS[:len(scaled)])[:, None]


def _smooth(curve: np.ndarray) -> np.ndarray:
    return np.convolve(curve, np.hanning(7))[3:3 + len(curve)]


def start_grid(onsets: np.ndarray, frame_rate: float, bpm: float, bpm_range,
               accents: np.ndarray, shape: tuple[np.ndarray, np.ndarray] | None = None) -> Grid:
    """The grid's first beat: the phase of the period whose comb over the accent curve is
    strongest, so offbeat hats and bass notes do not pull it offbeat; given the bar's
    `shape`, a phase nearly as strong that fits the bar clearly better."""
    period = 60 * frame_rate / bpm
    curve = accents
    count = int(len(curve) // period) - 1
    if count < 2:
        raise NoPulse("too short to find a beat")
    best, phase = -1.0, 0.0
    for start in np.arange(0, period, 0.5):
        total = sum(_at(curve, start + k * period) for k in range(count))
        if total > best:
            best, phase = total, start
    if shape is not None:
        last = phase + (count - 1) * period
        phase = (phase + period * better_phase(curve, last, period, count, shape)) % period
    threshold = 0.1 * np.percentile(onsets, 95)
    return Grid(phase - period, period, frame_rate, tuple(bpm_range), threshold)


@dataclass(frozen=True)
class Analysis:
    beats: np.ndarray             # seconds of each beat the grid placed
    hits: np.ndarray              # whether an onset confirmed it
    bpm: float                    # the first segment's tempo
    downbeat: int                 # index into beats of the first downbeat
    segments: list                # (first beat index, seconds of it, bpm)


def analyse(samples: np.ndarray, rate: int, bpm_range=DEFAULT_BPM_RANGE,
            beats_per_bar: int = 4) -> Analysis:
    """Every beat of a track, the grid's tempo pieces and the first downbeat."""
    samples = np.asarray(samples, dtype=np.float32)
    if samples.ndim > 1:
        samples = samples.mean(axis=1)
    if len(samples) < rate or np.max(np.abs(samples)) < 1e-4:
        raise NoPulse("silent" if len(samples) >= rate else "shorter than a second")
    bands = band_onsets(samples, rate)
    frame_rate = rate / hop_for(rate)
    bands, kicks = bands[:-1], bands[-1] / band_scale(bands[-1:])[0]
    onsets = combine(bands)
    bpm, strength = tempo_in_range(onsets, frame_rate, bpm_range)
    if strength < MIN_STRENGTH:
        raise NoPulse(f"no steady pulse (strength {strength:.2f})")
    accents = accent_curve(np.vstack([bands, kicks]))
    bpm = metrical_level(onsets, accents, frame_rate, bpm, bpm_range)
    # the octave from the whole track; the grid starts from the tempo and phase of its start
    head = slice(0, int(HEAD_SECONDS * frame_rate))
    if len(onsets) > 2 * head.stop:
        local, _ = tempo_in_range(onsets[head], frame_rate, (bpm * 0.95, bpm * 1.05))
        bpm = local or bpm
    grid = start_grid(onsets[head], frame_rate, bpm, bpm_range, accents[head])
    beats, hits = [], []
    while grid.beat + grid.period * (1 + SEARCH) < len(onsets) - 1:
        beats.append(grid.step(onsets))
        hits.append(grid.hits[-1])
    beats_s = np.array(beats) / frame_rate - ONSET_LAG
    hits_a = np.array(hits)
    if len(beats_s) < 8 or hits_a.mean() < 0.6:
        raise NoPulse(f"no steady pulse ({hits_a.mean():.0%} of beats found an onset)"
                      if len(beats_s) else "no steady pulse")
    first_hit = int(np.argmax(hits_a))
    beats_s, hits_a = beats_s[first_hit:], hits_a[first_hit:]
    downbeat = _downbeat(kicks, beats_s, frame_rate, beats_per_bar)
    pieces = refine(segments(beats_s, np.ones(len(beats_s), bool)), len(beats_s),
                    accents, frame_rate)
    pieces = move_changes(pieces, len(beats_s), accents, frame_rate)
    if len(pieces) > 1:
        # one tempo for the whole track, unless the pieces fit the sound clearly better
        steady = refine([(0, pieces[0][1], 60 * (len(beats_s) - 1)
                          / (beats_s[-1] - beats_s[0]))], len(beats_s), accents, frame_rate,
                        span=0.01)
        if fit(steady, len(beats_s), accents, frame_rate) >= \
                STEADY_SHARE * fit(pieces, len(beats_s), accents, frame_rate):
            pieces = steady
    grid_beats = beats_of(pieces, len(beats_s))
    scaled = np.vstack([bands / band_scale(bands)[:, None], kicks])
    share = 0.0
    if median_filter(scaled[1], FLOOR_FRAMES).mean() > NOISE_FLOOR * scaled[1].mean():
        # steady noise is most of the snares' band: the accents, ruled by the kicks, cannot
        # see the backbeat, so the bar's shape above the noise decides the phase
        floor = median_filter(scaled, size=(1, FLOOR_FRAMES))
        share = bar_phase(accents, np.maximum(scaled - floor, 0),
                          (grid_beats + ONSET_LAG) * frame_rate)
    if share:
        # the whole grid moves: every piece's line starts that share of its beat later
        pieces = [(first, start + share * 60 / bpm, bpm) for first, start, bpm in pieces]
        grid_beats = beats_of(pieces, len(beats_s))
        downbeat = _downbeat(kicks, grid_beats, frame_rate, beats_per_bar)
    return Analysis(grid_beats, hits_a, pieces[0][2], downbeat, pieces)


def _downbeat(kicks: np.ndarray, beats: np.ndarray, frame_rate: float, per_bar: int) -> int:
    """The index of the first beat of the place in the bar the kicks are strongest on."""
    frames = np.minimum(np.round(beats * frame_rate).astype(int), len(kicks) - 1)
    return int(np.argmax([kicks[frames[r::per_bar]].mean()
                          for r in range(min(per_bar, len(beats)))]))


def beats_of(pieces, count: int) -> np.ndarray:
    """The seconds of beats 0 .. count - 1 on the pieces' lines."""
    out = np.empty(count)
    for n, (first, start, bpm) in enumerate(pieces):
        stop = pieces[n + 1][0] if n + 1 < len(pieces) else count
        out[first:stop] = start + (np.arange(first, stop) - first) * 60 / bpm
    return out


def fit(pieces, count: int, accents: np.ndarray, frame_rate: float) -> float:
    """The accents on the pieces' beats, summed."""
    times = (beats_of(pieces, count) + ONSET_LAG) * frame_rate
    return float(np.interp(times, np.arange(len(accents)), accents, right=0).sum())


def move_changes(pieces, count: int, accents: np.ndarray, frame_rate: float):
    """Each tempo change moved to the beat, up to three before or one after, where the
    refined pieces fit the accents best: the grid follows a change a few beats late."""
    for i in range(1, len(pieces)):
        best, score = pieces, fit(pieces, count, accents, frame_rate)
        for shift in (-3, -2, -1, 1):
            first = pieces[i][0] + shift
            upper = pieces[i + 1][0] if i + 1 < len(pieces) else count
            if not pieces[i - 1][0] + 2 <= first <= upper - 2:
                continue
            trial = pieces[:i] + [(first, pieces[i][1], pieces[i][2])] + pieces[i + 1:]
            trial = refine(trial, count, accents, frame_rate)
            if (trial_score := fit(trial, count, accents, frame_rate)) > score:
                best, score = trial, trial_score
        pieces = best
    return pieces


def refine(pieces, count: int, accents: np.ndarray, frame_rate: float, span: float = 0.004):
    """Each piece's line moved to where the accents along it are strongest: a line through
    smoothed onsets lands on the beats' centre, where a fit to single onsets is pulled by
    every push and flam. The first piece may move its start, the others only their tempo."""
    out = []
    frames = np.arange(len(accents))
    for n, (first, start, bpm) in enumerate(pieces):
        stop = pieces[n + 1][0] if n + 1 < len(pieces) else count
        index = np.arange(stop - first + 1)[None, None, :]
        slopes = 60 / bpm * (1 + np.linspace(-span, span, int(span * 20000) + 1))[None, :, None]
        starts = (start + np.linspace(-0.03, 0.03, 31) if not out else
                  np.array([out[-1][1] + (first - out[-1][0]) * 60 / out[-1][2]]))
        times = (starts[:, None, None] + index * slopes + ONSET_LAG) * frame_rate
        score = np.interp(times, frames, accents, right=0).sum(axis=2)
        i, j = np.unravel_index(np.argmax(score), score.shape)
        out.append((first, float(starts[i]), float(60 / slopes[0, j, 0])))
    return out


def _line(times: np.ndarray, index: np.ndarray, anchor: tuple[float, float] | None):
    """Least-squares (start seconds, seconds a beat) through (index, times), through the
    anchor (index, seconds) if one is given."""
    if anchor is None:
        slope, intercept = np.polyfit(index, times, 1)
        return intercept, slope
    i0, t0 = anchor
    di, dt = index - i0, times - t0
    slope = float(np.dot(di, dt) / np.dot(di, di))
    return t0 - i0 * slope, slope


def segments(beats: np.ndarray, hits: np.ndarray,
             tolerance: float = SEGMENT_TOLERANCE) -> list[tuple[int, float, float]]:
    """Constant-tempo pieces as (first beat index, its seconds, bpm): each piece starts where
    the one before ends, and a new one starts only where RUN confirmed beats in a row sit
    more than `tolerance` off the line through the piece so far (one is a stray onset)."""
    index = np.arange(len(beats), dtype=float)
    use = hits.astype(bool)
    pieces: list[tuple[int, float, float]] = []
    start, anchor = 0, None

    def fit(stop: int):
        sel = use[start:stop]
        if sel.sum() < 2:
            return beats[start], float(np.median(np.diff(beats)))
        return _line(beats[start:stop][sel], index[start:stop][sel], anchor)

    def off(line, k: int) -> bool:
        return use[k] and abs(beats[k] - line[0] - k * line[1]) > tolerance

    while True:
        end = min(start + 6, len(beats))
        line = fit(end)
        while end < len(beats):
            if end - start >= MIN_PIECE and end + RUN <= len(beats) \
                    and all(off(line, k) for k in range(end, end + RUN)):
                # the drift grows a step a beat from the change: find where it began
                ks = np.arange(end, end + RUN)
                drift = beats[ks] - line[0] - ks * line[1]
                step, at = np.polyfit(ks, drift, 1)
                change = int(round(-at / step)) if step else end
                end = min(max(change, start + 2), end) + 1
                line = fit(end)
                break
            end += 1
            line = fit(end)
        intercept, slope = line
        first = start
        pieces.append((first, intercept + first * slope, 60 / slope))
        if end >= len(beats):
            return pieces
        # the next piece starts at the last beat this one still holds
        start = end - 1
        anchor = (float(start), intercept + start * slope)
