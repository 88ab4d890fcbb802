"""Beat tracking on the drum-score corpus (benchmarks/beat_corpus.py), scored with mir_eval.

    python benchmarks/beats.py [--only NAME,NAME] [--every K] [--libraries] [--live]

For each track: kinetra's offline analysis with the style's BPM range and with the default
range (F-measure at +-70 ms of the clock's beats, tempo error on steady tracks, tempo octave
errors), the chosen library's own beat times scored the same way, and with `--libraries` the
other trackers installed here; with `--live`, the live tracker fed the file as fast as it can
go (lock, phase error after lock, pip steps, processor time per second of audio). Cost is
processor time per second of audio. Exit status 1 if a goal is missed.
"""

from __future__ import annotations

import argparse
import sys
import time
from pathlib import Path

import mir_eval
import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parent))
import beat_corpus as corpus  # noqa: E402

from kinetra_live import analyse as analysis  # noqa: E402
from kinetra_live import beat_tracking  # noqa: E402

WINDOW = 0.07


def f_measure(truth: np.ndarray, beats: np.ndarray) -> float:
    return float(mir_eval.beat.f_measure(truth, np.asarray(beats, float), WINDOW))


def octave_off(bpm: float, truth: float) -> bool:
    ratio = bpm / truth
    return any(abs(ratio - r) < 0.03 * r for r in (0.5, 2.0, 1 / 3, 3.0, 2 / 3, 1.5))


def kinetra(samples, bpm_range):
    start = time.process_time()
    try:
        clock = analysis.analyse_samples(samples, corpus.RATE, bpm_range)
    except beat_tracking.NoPulse:
        return None, [], time.process_time() - start
    beats = [float(s) for s, _ in analysis.beat_times(clock, len(samples) / corpus.RATE)]
    return clock, beats, time.process_time() - start


def librosa_beats(samples):
    import librosa
    start = time.process_time()
    tempo, beats = librosa.beat.beat_track(y=samples, sr=corpus.RATE, units="time")
    return float(np.atleast_1d(tempo)[0]), beats, time.process_time() - start


def essentia_beats(samples, method):
    import essentia.standard as es
    import librosa
    audio = librosa.resample(samples, orig_sr=corpus.RATE, target_sr=44100)
    start = time.process_time()
    bpm, beats, *_ = es.RhythmExtractor2013(method=method)(audio.astype(np.float32))
    return float(bpm), beats, time.process_time() - start


def aubio_beats(samples):
    import aubio
    hop = 256
    start = time.process_time()
    tracker = aubio.tempo("default", 1024, hop, corpus.RATE)
    beats = []
    padded = np.pad(samples, (0, -len(samples) % hop)).astype(np.float32)
    for i in range(0, len(padded), hop):
        if tracker(padded[i:i + hop])[0]:
            beats.append(tracker.get_last_s())
    return float(tracker.get_bpm()), np.array(beats), time.process_time() - start


LIBRARIES = {
    "librosa beat_track": librosa_beats,
    "essentia multifeature": lambda x: essentia_beats(x, "multifeature"),
    "essentia degara": lambda x: essentia_beats(x, "degara"),
    "aubio tempo": aubio_beats,
}


def live(samples, bpm_range):
    from kinetra_live.audio_clock import replay
    start = time.process_time()
    run = replay(samples, corpus.RATE, bpm_range)
    cost = time.process_time() - start
    return run, cost


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--only", help="comma-separated track names")
    parser.add_argument("--every", type=int, default=1, help="every K-th track only")
    parser.add_argument("--libraries", action="store_true", help="also the other trackers")
    parser.add_argument("--live", action="store_true", help="also the live tracker")
    args = parser.parse_args(argv)
    tracks = corpus.corpus()
    if args.only:
        names = args.only.split(",")
        tracks = [t for t in tracks if t.name in names]
        if len(tracks) != len(names):
            parser.error(f"unknown track in {args.only!r}")
    tracks = tracks[::args.every]
    seconds = corpus.SECONDS
    results = {"kinetra": [], "kinetra, default range": []}
    libraries = dict(LIBRARIES) if args.libraries else {"librosa beat_track": librosa_beats}
    results.update({name: [] for name in libraries})
    live_rows, failures, audio_seconds = [], [], 0.0
    for track in tracks:
        samples = corpus.render(track, seconds)
        audio_seconds += seconds
        truth = track.beats(seconds)
        for name, bpm_range in (("kinetra", corpus.bpm_range(track)),
                                ("kinetra, default range", beat_tracking.DEFAULT_BPM_RANGE)):
            clock, beats, cost = kinetra(samples, bpm_range)
            bpm = float(clock.bpm) if clock else 0.0
            results[name].append((track, f_measure(truth, beats), bpm, cost))
        for name, run in libraries.items():
            bpm, beats, cost = run(samples)
            results[name].append((track, f_measure(truth, beats), bpm, cost))
        if args.live:
            run, cost = live(samples, corpus.bpm_range(track))
            live_rows.append((track, run.score(truth), cost))
        f, bpm = results["kinetra"][-1][1:3]
        print(f"{track.name:36s} F {f:.3f}  bpm {bpm:8.3f} (true {float(track.bpm):g})",
              flush=True)

    print(f"\n{len(tracks)} tracks of {seconds} s; F-measure at +-{WINDOW * 1000:.0f} ms")
    print(f"{'tracker':26s} {'mean F':>7s} {'min F':>6s} {'octave':>6s} "
          f"{'tempo err':>9s} {'cost':>7s}")
    for name, rows in results.items():
        fs = np.array([r[1] for r in rows])
        octaves = sum(octave_off(r[2], float(r[0].bpm)) for r in rows if r[2])
        steady = [abs(r[2] - float(r[0].bpm)) for r in rows if r[0].steady and r[2]]
        cost = sum(r[3] for r in rows) / audio_seconds
        print(f"{name:26s} {fs.mean():7.3f} {fs.min():6.3f} {octaves:6d} "
              f"{max(steady, default=0):9.3f} {cost * 1000:5.1f}ms/s")
    rows = results["kinetra"]
    fs = np.array([r[1] for r in rows])
    if fs.mean() < 0.95:
        failures.append(f"mean F {fs.mean():.3f} < 0.95")
    failures += [f"{r[0].name}: F {r[1]:.3f} < 0.85" for r in rows if r[1] < 0.85]
    failures += [f"{r[0].name}: tempo octave ({r[2]:.2f})" for r in rows
                 if r[2] and octave_off(r[2], float(r[0].bpm))]
    failures += [f"{r[0].name}: tempo {r[2]:.3f}, off by more than 0.1" for r in rows
                 if r[0].steady and abs(r[2] - float(r[0].bpm)) > 0.1]
    if live_rows:
        locks = [s["lock_beat"] for _, s, _ in live_rows]
        p95 = [s["p95_ms"] for _, s, _ in live_rows]
        cost = sum(c for *_, c in live_rows) / (len(live_rows) * seconds)
        print(f"live: locked by beat {max(locks)} at worst (median {np.median(locks):.0f}), "
              f"phase error p95 {max(p95):.1f} ms at worst (median {np.median(p95):.1f}), "
              f"{cost:.1%} of a core, pip steps within the bend: "
              f"{all(s['steady'] for _, s, _ in live_rows)}")
        failures += [f"{t.name}: live locked at beat {s['lock_beat']}" for t, s, _ in live_rows
                     if s["lock_beat"] > 8]
        failures += [f"{t.name}: live phase p95 {s['p95_ms']:.1f} ms" for t, s, _ in live_rows
                     if s["p95_ms"] > 15]
        failures += [f"{t.name}: the pip jumped" for t, s, _ in live_rows if not s["steady"]]
        if cost > 0.10:
            failures.append(f"live cost {cost:.1%} of a core")
    for failure in failures:
        print("missed:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
