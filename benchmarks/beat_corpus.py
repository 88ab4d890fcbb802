"""Test audio from the project's drum scores (data/beat/*.toml), with the true beat times.

Each lane is voiced by a small synthetic instrument: kick (a falling sine), snare and clap
(noise bursts over a tone), hats, ride and shaker (high noise), toms, congas, bells and the
other percussion (damped tones), bass and log drum (held sines that slide). The score's loop
repeats for the length of the track at the track's tempo map; beat 0, the first downbeat,
comes after a short lead-in of silence.
"""

from __future__ import annotations

import math
import tomllib
from dataclasses import dataclass
from fractions import Fraction
from pathlib import Path

import numpy as np

from kinetra_live.timebase import TempoMap

SCORES = Path(__file__).resolve().parent.parent / "data" / "beat"
RATE = 22050
LEAD_IN = 0.35
SECONDS = 30                  # the length of a corpus track
PIPS = 64
TONES = {"rim": (1700, 0.03), "tom_low": (110, 0.25), "tom_mid": (160, 0.2),
         "tom_high": (220, 0.18), "conga": (330, 0.15), "bell": (800, 0.3),
         "clave": (2500, 0.04), "perc": (600, 0.08)}
NOISES = {"closed_hat": (0.035, 0.25), "open_hat": (0.25, 0.3), "ride": (0.4, 0.25),
          "shaker": (0.05, 0.18), "crash": (1.0, 0.4)}


@dataclass(frozen=True)
class Track:
    name: str
    style: str
    style_bpm: int
    bpm: Fraction
    tempo_changes: tuple[tuple[int, Fraction], ...]
    noise: bool = False
    reverb: bool = False

    @property
    def steady(self) -> bool:
        return not self.tempo_changes

    def tempo_map(self) -> TempoMap:
        return TempoMap.from_beat_changes(self.bpm, self.tempo_changes)

    def beats(self, seconds: float) -> np.ndarray:
        """The true beat times in the audio (lead-in included) before `seconds`."""
        tempo_map, out, n = self.tempo_map(), [], 0
        while (t := LEAD_IN + float(tempo_map.seconds_at(n))) < seconds:
            out.append(t)
            n += 1
        return np.array(out)


def read_score(style: str) -> dict:
    return tomllib.loads((SCORES / f"{style}.toml").read_text(encoding="utf-8"))


def styles() -> list[str]:
    return sorted(p.stem for p in SCORES.glob("*.toml"))


def corpus() -> list[Track]:
    """Each style at its own tempo and at two others from 70 to 180 BPM; every fourth style's
    third track changes tempo twice, and every fifth has a noisy or a reverberant version."""
    tracks = []
    for index, style in enumerate(styles()):
        own = read_score(style)["bpm"]
        for k, factor in enumerate((1, Fraction(4, 5), Fraction(5, 4))):
            bpm = min(max(Fraction(own) * factor, 70), 180)
            bpm = Fraction(round(bpm * 10), 10)
            changes = ()
            if k == 2 and index % 4 == 0:
                # up 4% a third of the way in, back two thirds in
                third = round(bpm * SECONDS / 180)
                changes = ((third, bpm * Fraction(26, 25)), (2 * third, bpm))
            name = f"{style}@{float(bpm):g}" + ("~" if changes else "")
            tracks.append(Track(name, style, own, bpm, changes))
        if index % 5 == 0:
            tracks.append(Track(f"{style}@{own}+noise", style, own, Fraction(own), (), noise=True))
        if index % 5 == 2:
            tracks.append(Track(f"{style}@{own}+reverb", style, own, Fraction(own), (),
                                reverb=True))
    return tracks


def bpm_range(track: Track) -> tuple[float, float]:
    """The style's tempo range: an octave less a little around its own tempo, wide enough to
    hold the track's tempos."""
    return track.style_bpm * 0.76, track.style_bpm * 1.32


def _voice(lane: str, rng: np.random.Generator) -> np.ndarray:
    n = np.arange(int(0.5 * RATE)) / RATE
    if lane == "kick":
        phase = 2 * math.pi * (50 * n + 100 * 0.04 * (1 - np.exp(-n / 0.04)))
        return np.sin(phase) * np.exp(-n / 0.18)
    if lane in ("snare", "clap"):
        noise = rng.standard_normal(len(n))
        noise = np.diff(noise, prepend=0) * 0.5
        body = noise * np.exp(-n / (0.09 if lane == "snare" else 0.06))
        if lane == "snare":
            body += 0.6 * np.sin(2 * math.pi * 190 * n) * np.exp(-n / 0.06)
        else:
            for lag in (0.011, 0.022):
                shift = int(lag * RATE)
                body[shift:] += 0.7 * body[:-shift]
        return body * 0.8
    if lane in NOISES:
        decay, level = NOISES[lane]
        noise = np.diff(np.diff(rng.standard_normal(len(n)), prepend=0), prepend=0) * 0.25
        return noise * np.exp(-n / decay) * level * 2
    freq, decay = TONES[lane]
    return np.sin(2 * math.pi * freq * n) * np.exp(-n / decay) * 0.6


def _held(note: list, start: float, end: float) -> tuple[int, np.ndarray]:
    """A bass note from `start` to `end` seconds, sliding to its slide at its end."""
    length = max(end - start, 0.08)
    n = np.arange(int((length + 0.05) * RATE)) / RATE
    slide = note[3] if len(note) > 3 else 0.0
    freq = 55 * 2 ** (np.minimum(n / length, 1) * slide / 12)
    phase = 2 * math.pi * np.cumsum(freq) / RATE
    gain = np.minimum(1, n / 0.005) * np.where(n < length, 1, np.exp(-(n - length) / 0.01))
    return int(start * RATE), np.sin(phase) * gain * 0.5


def render(track: Track, seconds: float, seed: int = 0) -> np.ndarray:
    """`seconds` of the track as mono samples at `RATE`, peak 0.9."""
    score = read_score(track.style)
    period = score["period_pips"]
    rng = np.random.default_rng(seed)
    tempo_map = track.tempo_map()
    out = np.zeros(int(seconds * RATE) + RATE)
    loops = math.ceil((float(tempo_map.beat_at(seconds)) + 1) * PIPS / period) + 1
    for lane, hits in score["lanes"].items():
        voice = _voice(lane, rng) if lane not in ("bass", "log_drum") else None
        for loop in range(loops):
            for hit in hits:
                pip = loop * period + hit[0]
                start = LEAD_IN + float(tempo_map.seconds_at(Fraction(pip, PIPS)))
                if start >= seconds:
                    continue
                if voice is None:
                    length = hit[2] if len(hit) > 2 else 16
                    end = LEAD_IN + float(tempo_map.seconds_at(Fraction(pip + length, PIPS)))
                    at, sound = _held(hit, start, end)
                else:
                    at, sound = int(start * RATE), voice
                stop = min(at + len(sound), len(out))
                out[at:stop] += hit[1] * sound[:stop - at]
    out = out[:int(seconds * RATE)]
    if track.reverb:
        t = np.arange(int(1.2 * RATE)) / RATE
        tail = rng.standard_normal(len(t)) * np.exp(-t * 6.9 / 1.2) * 0.08
        tail[0] = 1.0
        out = np.convolve(out, tail)[:len(out)]
    if track.noise:
        noise = np.cumsum(rng.standard_normal(len(out))) * 0.02
        noise -= np.convolve(noise, np.ones(2000) / 2000, mode="same")
        noise += rng.standard_normal(len(out))
        level = np.sqrt(np.mean(out ** 2)) / np.sqrt(np.mean(noise ** 2)) / math.sqrt(10)
        out = out + noise * level      # 10 dB below the music
    return (out * (0.9 / max(np.max(np.abs(out)), 1e-9))).astype(np.float32)


def click_track(bpm: float, seconds: float) -> np.ndarray:
    """A plain click on every beat from the lead-in on, the first of each bar louder."""
    out = np.zeros(int(seconds * RATE))
    n = np.arange(int(0.03 * RATE)) / RATE
    click = np.sin(2 * math.pi * 1500 * n) * np.exp(-n / 0.008)
    beat = 0
    while (at := int((LEAD_IN + beat * 60 / bpm) * RATE)) < len(out):
        stop = min(at + len(click), len(out))
        out[at:stop] += (1.0 if beat % 4 == 0 else 0.6) * click[:stop - at]
        beat += 1
    return (out * 0.9).astype(np.float32)
