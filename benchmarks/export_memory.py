"""Memory of `render --format csv|midi|gltf --out FILE` against the length of the render.

    python benchmarks/export_memory.py [--quick] [--json]

Each render runs in a process of its own, at 1,000 fps, and its peak resident memory comes
from the kernel (wait4). CSV and MIDI stream, so a render of 600 s may use at most 1.2 times
the memory of one of 6 s (`--quick`: 60 s). glTF holds every frame: its figure is the memory a
frame costs, measured between two lengths, beside what the export says it holds a frame.
`--json` prints the figures as one JSON object on the last line.
"""

from __future__ import annotations

import argparse
import json
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "python"))

from kinetra_live.exports import gltf  # noqa: E402
from kinetra_live.show import load_show  # noqa: E402

FPS = 1000
GOAL = 1.2
# Two 14-bit washes on three axes, two 7-bit dots on two, a tempo change: values change most
# frames, so the MIDI tracks grow with every second rendered.
SHOW = """fps = 1000
[clock]
bpm = 124
tempo_changes = [[64, "127.5"]]
""" + "".join(f"""[[fixture]]
name = "wash_{k}"
pattern = "figure_eight"
phase_pips = {k * 8}
midi = {{ channel = {k + 1}, cc = [20, 21, 22], bits = 14 }}
[[fixture]]
name = "dot_{k}"
pattern = "circle"
speed = "3/2"
midi = {{ channel = {k + 3}, cc = [7, 8], bits = 7 }}
""" for k in range(2))


def peak_kib(show: Path, fmt: str, seconds: int, out: Path) -> tuple[int, float]:
    """Peak resident memory (KiB) and seconds taken of one render in a process of its own."""
    began = time.perf_counter()
    child = subprocess.Popen([sys.executable, "-m", "kinetra_live", "render", str(show),
                              "--seconds", str(seconds), "--format", fmt, "--out", str(out)],
                             env={**os.environ, "PYTHONPATH": str(ROOT / "python")})
    _, status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode != 0:
        raise SystemExit(f"render {fmt} {seconds} s failed with status {child.returncode}")
    return usage.ru_maxrss, time.perf_counter() - began


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="60 s instead of 600 s")
    parser.add_argument("--json", action="store_true")
    args = parser.parse_args()
    short, long = 6, 60 if args.quick else 600
    figures: dict[str, float] = {"fps": FPS, "short_s": short, "long_s": long}
    with tempfile.TemporaryDirectory() as folder:
        show = Path(folder) / "show.toml"
        show.write_text(SHOW)
        print(f"{'format':8}{'seconds':>9}{'peak MiB':>10}{'took s':>8}")
        for fmt, suffix in (("csv", ".csv"), ("midi", ".mid")):
            out = Path(folder) / f"out{suffix}"
            peaks = []
            for seconds in (short, long):
                peak, took = peak_kib(show, fmt, seconds, out)
                peaks.append(peak)
                print(f"{fmt:8}{seconds:>9}{peak / 1024:>10.1f}{took:>8.1f}")
            figures[f"{fmt}_ratio"] = round(peaks[1] / peaks[0], 3)
            figures[f"{fmt}_file_mib"] = round(out.stat().st_size / 2**20, 1)
        # glTF between two lengths it can hold: what a frame costs at the peak
        out = Path(folder) / "out.glb"
        frames = []
        for seconds in (short, short * 10):
            peak, took = peak_kib(show, "gltf", seconds, out)
            frames.append(peak)
            print(f"{'gltf':8}{seconds:>9}{peak / 1024:>10.1f}{took:>8.1f}")
        measured = (frames[1] - frames[0]) * 1024 / (short * 9 * FPS)
        figures["gltf_bytes_a_frame"] = gltf.bytes_a_frame(load_show(show))
        figures["gltf_peak_bytes_a_frame"] = round(measured, 1)
    for fmt in ("csv", "midi"):
        ratio = figures[f"{fmt}_ratio"]
        print(f"{fmt}: {long} s over {short} s at {FPS} fps: {ratio:.3f}x "
              f"(goal at most {GOAL}x: {'met' if ratio <= GOAL else 'MISSED'}); "
              f"file {figures[f'{fmt}_file_mib']} MiB")
    print(f"gltf: holds {figures['gltf_bytes_a_frame']} bytes a frame; peak memory grows "
          f"{figures['gltf_peak_bytes_a_frame']} bytes a frame "
          f"(limit {gltf.MAX_BUFFER_BYTES >> 20} MiB held)")
    if args.json:
        print(json.dumps(figures))


if __name__ == "__main__":
    main()
