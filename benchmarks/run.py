"""Measure kinetra against floors built and timed in the same run, and print every ratio.

    python benchmarks/run.py [--quick] [--no-clean-build] [--json FILE]

The floors: a minimal module of the same binding library with kinetra's call shapes (built
here into a temporary folder), CPython's own math.sin, pure-Python equivalents of two
rudiments and of the catalogue's dict building, and Python's own conversion of the nested
lists that the constructors take. Per-call figures are net of the empty timing loop.
"""

from __future__ import annotations

import argparse
import gc
import json
import math
import os
import platform
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import timeit
from pathlib import Path

import kinetra

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent


def cmake_build(source: Path, build: Path, jobs: int = 2) -> float:
    """Configure and build a CMake project for this interpreter; returns the seconds taken."""
    import pybind11

    generator = ["-G", "Ninja"] if shutil.which("ninja") else []
    began = time.perf_counter()
    subprocess.run(["cmake", "-S", str(source), "-B", str(build), *generator,
                    "-DCMAKE_BUILD_TYPE=Release", f"-DPython_EXECUTABLE={sys.executable}",
                    f"-Dpybind11_DIR={pybind11.get_cmake_dir()}"],
                   check=True, capture_output=True)
    subprocess.run(["cmake", "--build", str(build), "-j", str(jobs)], check=True, capture_output=True)
    return time.perf_counter() - began


def built_module(build: Path, stem: str) -> Path:
    return next(build.glob(f"{stem}.*.so"))


# --- per-call timing -------------------------------------------------------------------------

class Timer:
    def __init__(self, quick: bool):
        self.number = 20_000 if quick else 100_000
        self.repeat = 5 if quick else 9
        self.empty = 0.0
        self.empty = self.per_call("pass", {})

    def per_call(self, stmt: str, names: dict) -> float:
        """Least net seconds per execution of stmt over several rounds."""
        timer = timeit.Timer(stmt, globals=names)
        best = min(timer.repeat(repeat=self.repeat, number=self.number)) / self.number
        return max(best - self.empty, 1e-12)

    def pair(self, a: tuple[str, dict], b: tuple[str, dict]) -> tuple[float, float]:
        # Alternating rounds keep a busy neighbour from favouring either side.
        ta, tb = [], []
        for _ in range(3):
            ta.append(self.per_call(*a))
            tb.append(self.per_call(*b))
        return min(ta), min(tb)


def py_bounce(pip):
    t = (pip % 64) * 0.015625
    return (1.0 - abs(t - 0.5) * 4.0, 0.0, 0.0)


def py_circle(pip):
    a = (pip % 64) * 0.015625 * 6.283185307179586 - 1.5707963267948966
    return (math.cos(a), math.sin(a), 0.0)


def fail_call(fn, name):
    try:
        fn(name, 5)
    except ValueError:
        pass


def render_loop(sample, objects, frames):
    for pip in range(frames):
        for name, phase in objects:
            sample(name, pip + phase)


def every_name(sample, names, passes):
    for pip in range(passes):
        for name in names:
            sample(name, pip)


def loop_costs(timer: Timer, floor, listed: list[str]) -> list[dict]:
    """Whole loops as a program runs them, against the floor's same loop, per call."""
    results = []
    rounds = 5 if timer.repeat < 9 else 9
    # 64 patterns spread over the table (every family), 1,000 objects with their own phases,
    # one frame per pip.
    patterns = listed[::len(listed) // 64][:64]
    objects = [(patterns[i % 64], (i * 37) % 1024) for i in range(1000)]
    frames = 20 if timer.repeat < 9 else 60
    cases = [
        ("render loop: 1,000 objects, 64 patterns", 1.10, render_loop, objects, frames,
         len(objects) * frames),
        (f"every catalogue name in turn ({len(listed)})", 1.30, every_name, listed, frames // 2,
         len(listed) * (frames // 2)),
    ]
    for what, goal, loop, items, count, calls in cases:
        ours, theirs = [], []
        for _ in range(rounds):
            for fn, times in ((kinetra.sample, ours), (floor.named, theirs)):
                began = time.perf_counter()
                loop(fn, items, count)
                times.append(time.perf_counter() - began)
        mine, base = min(ours) / calls, min(theirs) / calls
        results.append({"what": what, "ns": mine * 1e9, "base": "pybind11 floor",
                        "base_ns": base * 1e9, "ratio": mine / base, "goal": goal})
    return results


def call_costs(timer: Timer, floor) -> list[dict]:
    results = []

    def compare(what, ours, base, goal=None, base_name="pybind11 floor"):
        mine, theirs = timer.pair(ours, base)
        results.append({"what": what, "ns": mine * 1e9, "base": base_name,
                        "base_ns": theirs * 1e9, "ratio": mine / theirs, "goal": goal})

    k, f = kinetra, floor
    names = {"k": k, "f": f}
    compare("bounce(5)", ("k.bounce(5)", names), ("f.at(5)", names), 1.15)
    compare("helix(5) (sin and cos)", ("k.helix(5)", names), ("f.at(5)", names), 1.15)
    compare("sample(rudiment name)", ("k.sample('circle', 5)", names),
            ("f.named('circle', 5)", names), 1.15)
    listed = [e["name"] for e in kinetra.catalogue()[15:]]
    if listed:
        # The middle of the names in byte order, as every earlier figure was measured.
        name = sorted(listed, key=str.encode)[len(listed) // 2]
        n = {**names, "name": name}
        compare(f"sample(catalogue name, {len(listed)} rows)", ("k.sample(name, 5)", n),
                ("f.named(name, 5)", n), 1.05)
    if listed:
        results.extend(loop_costs(timer, floor, listed))
    n = {**names, "fail": fail_call}
    compare("sample(unknown name) -> ValueError", ("fail(k.sample, 'no_such_pattern')", n),
            ("fail(f.unknown, 'no_such_pattern')", n), 1.15)

    samples = [(0.1, 0.2, 0.3)] * 64
    mine = kinetra.SampledPattern("mine", "", samples)
    library = kinetra.PatternLibrary([mine])
    holder = floor.Holder(samples)
    rows = [[0.1, 0.2, 0.3, 0.4]] * 64
    recording = kinetra.SampledRecording("take", ["a", "b", "c", "d"], rows, 120.0)
    floor_rows = floor.Rows(rows, 4)
    o, p = kinetra.bounce(5), floor.at(5)
    n = {"mine": mine, "library": library, "holder": holder, "recording": recording,
         "floor_rows": floor_rows, "o": o, "p": p}
    compare("SampledPattern.sample", ("mine.sample(5)", n), ("holder.sample(5)", n), 1.15)
    compare("PatternLibrary.sample(stored)", ("library.sample('mine', 5)", n),
            ("holder.sample_named('mine', 5)", n), 1.15)
    compare("PatternLibrary.sample(fallback)", ("library.sample('circle', 5)", n),
            ("holder.sample_named('circle', 5)", n), 1.15)
    compare("SampledRecording.sample (4 axes)", ("recording.sample(5)", n),
            ("floor_rows.sample(5)", n), 1.15)
    compare("Offset3.as_tuple", ("o.as_tuple()", n), ("p.as_tuple()", n), 1.15)

    n = {"k": k, "py_bounce": py_bounce, "py_circle": py_circle}
    compare("bounce(5).as_tuple() vs Python", ("k.bounce(5).as_tuple()", n), ("py_bounce(5)", n),
            base_name="pure Python")
    compare("circle(5).as_tuple() vs Python", ("k.circle(5).as_tuple()", n), ("py_circle(5)", n),
            base_name="pure Python")
    n = {"math": math}
    results.append({"what": "math.sin(0.5) (interpreter floor)",
                    "ns": timer.per_call("math.sin(0.5)", n) * 1e9})
    return results


# --- listings and constructors ---------------------------------------------------------------

def best_of(fn, rounds: int) -> float:
    times = []
    for _ in range(rounds):
        gc.collect()
        began = time.perf_counter()
        fn()
        times.append(time.perf_counter() - began)
    return min(times)


def bulk_costs(quick: bool) -> list[dict]:
    results = []
    rounds = 3 if quick else 7
    entries = kinetra.catalogue()
    rows = [(e["name"], e["description"], e["period_pips"], e["dimensions"]) for e in entries]

    def python_catalogue():
        return [{"name": n, "description": d, "period_pips": p, "dimensions": k} for n, d, p, k in rows]

    # The same, making each text anew from its UTF-8 bytes as the native listing must.
    encoded = [(n.encode(), d.encode(), p, k) for n, d, p, k in rows]

    def python_catalogue_decoding():
        return [{"name": n.decode(), "description": d.decode(), "period_pips": p, "dimensions": k}
                for n, d, p, k in encoded]

    library = kinetra.PatternLibrary()
    base = best_of(python_catalogue, rounds * 20)
    decoding = best_of(python_catalogue_decoding, rounds * 20)
    for what, fn in (("catalogue()", kinetra.catalogue), ("PatternLibrary.catalogue()", library.catalogue)):
        t = best_of(fn, rounds * 20)
        results.append({"what": f"{what} ({len(entries)} dicts)", "ms": t * 1e3,
                        "base": "dicts built in Python", "base_ms": base * 1e3,
                        "ratio": t / base, "goal": 1.6})
        results.append({"what": f"{what} vs Python decoding", "ms": t * 1e3,
                        "base": "dicts built in Python from UTF-8", "base_ms": decoding * 1e3,
                        "ratio": t / decoding, "goal": 1.6})

    # 1,024 patterns of 1,024 samples each: the largest pack a library takes.
    pack = [[((i % 7) * 0.125, (j % 5) * 0.25, 0.5) for j in range(1024)] for i in range(1024)]

    def python_pack():
        return [[(float(a), float(b), float(c)) for a, b, c in s] for s in pack]

    patterns = []

    def make_patterns():
        patterns[:] = [kinetra.SampledPattern(f"p{i}", "", s) for i, s in enumerate(pack)]

    base = best_of(python_pack, rounds)
    t = best_of(make_patterns, rounds)
    results.append({"what": "1,024 SampledPattern of 1,024 samples", "ms": t * 1e3,
                    "base": "Python converts the lists", "base_ms": base * 1e3,
                    "ratio": t / base, "goal": 1.0})
    t = best_of(lambda: kinetra.PatternLibrary(patterns), rounds)
    results.append({"what": "PatternLibrary of those 1,024 patterns", "ms": t * 1e3,
                    "base": "Python converts the lists", "base_ms": base * 1e3,
                    "ratio": t / base, "goal": 1.0})

    # One million values: 250,000 rows of four axes.
    recorded = [[(r % 9) * 0.1, 0.5, -0.5, (r % 3) * 0.25] for r in range(250_000)]

    def python_rows():
        return [[float(v) for v in row] for row in recorded]

    base = best_of(python_rows, rounds)
    t = best_of(lambda: kinetra.SampledRecording("take", ["a", "b", "c", "d"], recorded, 120.0), rounds)
    results.append({"what": "SampledRecording of 1,000,000 values", "ms": t * 1e3,
                    "base": "Python converts the lists", "base_ms": base * 1e3,
                    "ratio": t / base, "goal": 1.0})
    return results


# --- import, memory, size, build -------------------------------------------------------------

IMPORT_PROBE = """
import sys, time
def rss():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
sys.path.insert(0, sys.argv[2])
before = rss()
began = time.perf_counter()
__import__(sys.argv[1])
took = time.perf_counter() - began
print(took, rss() - before, rss())
"""


def import_costs(floor_dir: Path, quick: bool) -> dict:
    runs = 8 if quick else 25
    measured = {"kinetra": [], "kinetra_floor": []}
    kinetra_dir = Path(kinetra.__file__).parent
    for _ in range(runs):
        for name, where in (("kinetra", kinetra_dir), ("kinetra_floor", floor_dir)):
            out = subprocess.run([sys.executable, "-S", "-c", IMPORT_PROBE, name, str(where)],
                                 check=True, capture_output=True, text=True).stdout.split()
            measured[name].append((float(out[0]), int(out[1]), int(out[2])))
    result = {}
    for name, values in measured.items():
        result[name] = {"import_ms": min(v[0] for v in values) * 1e3,
                        "rss_added_kib": statistics.median(v[1] for v in values),
                        "rss_after_kib": statistics.median(v[2] for v in values)}
    return result


def machine() -> str:
    cpu = "unknown CPU"
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    return (f"{cpu}, {os.cpu_count()} cores, {platform.system()} {platform.release()}, "
            f"CPython {platform.python_version()}")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="fewer rounds, for a smoke run")
    parser.add_argument("--no-clean-build", action="store_true", help="skip timing a clean build")
    parser.add_argument("--json", type=Path, help="also write every figure to this file")
    args = parser.parse_args()

    report: dict = {"machine": machine()}
    print(f"machine: {report['machine']}")
    with tempfile.TemporaryDirectory(prefix="kinetra-bench-") as tmp:
        floor_build = Path(tmp) / "floor"
        cmake_build(HERE / "floor", floor_build)
        sys.path.insert(0, str(floor_build))
        import kinetra_floor

        if not args.no_clean_build:
            report["clean_build_s"] = cmake_build(ROOT, Path(tmp) / "kinetra")
            report["clean_build_so_bytes"] = built_module(Path(tmp) / "kinetra", "kinetra").stat().st_size

        timer = Timer(args.quick)
        report["calls"] = call_costs(timer, kinetra_floor)
        report["bulk"] = bulk_costs(args.quick)
        report["import"] = import_costs(floor_build, args.quick)
        report["so_bytes"] = Path(kinetra.__file__).stat().st_size
        report["floor_so_bytes"] = built_module(floor_build, "kinetra_floor").stat().st_size
        report["catalogue_rows"] = len(kinetra.catalogue())

    def verdict(row):
        if row.get("goal") is None:
            return ""
        return "ok" if row["ratio"] <= row["goal"] else "MISSED"

    print(f"\nper call (net of the timing loop), catalogue of {report['catalogue_rows']} patterns")
    print(f"{'operation':44} {'kinetra':>9} {'baseline':>9} {'ratio':>6}  goal")
    for row in report["calls"]:
        if "ratio" in row:
            goal = f"<= {row['goal']:.2f} {verdict(row)}" if row["goal"] else f"({row['base']})"
            print(f"{row['what']:44} {row['ns']:7.1f}ns {row['base_ns']:7.1f}ns {row['ratio']:6.2f}  {goal}")
        else:
            print(f"{row['what']:44} {row['ns']:7.1f}ns")
    print(f"\n{'listings and constructors':44} {'kinetra':>9} {'baseline':>9} {'ratio':>6}  goal")
    for row in report["bulk"]:
        print(f"{row['what']:44} {row['ms']:7.2f}ms {row['base_ms']:7.2f}ms {row['ratio']:6.2f}  "
              f"<= {row['goal']:.2f} {verdict(row)}")
    ours, floor = report["import"]["kinetra"], report["import"]["kinetra_floor"]
    added_ms = ours["import_ms"] - floor["import_ms"]
    added_mib = (ours["rss_added_kib"] - floor["rss_added_kib"]) / 1024
    report["import_added_ms"], report["import_added_mib"] = added_ms, added_mib
    print("\nimport (fresh interpreter, least time, median resident memory)")
    for name, row in report["import"].items():
        print(f"  {name:14} {row['import_ms']:6.2f} ms, +{row['rss_added_kib'] / 1024:5.2f} MiB "
              f"resident ({row['rss_after_kib'] / 1024:.1f} MiB after)")
    print(f"  kinetra over the floor: {added_ms:+.2f} ms (goal < 5 {'ok' if added_ms < 5 else 'MISSED'}), "
          f"{added_mib:+.2f} MiB (goal < 3 {'ok' if added_mib < 3 else 'MISSED'})")
    print(f"\nmodule size: {report['so_bytes'] / 2**20:.1f} MiB installed "
          f"(floor module {report['floor_so_bytes'] / 2**10:.0f} KiB)")
    if "clean_build_s" in report:
        print(f"clean build: {report['clean_build_s']:.1f} s on 2 jobs "
              f"(module {report['clean_build_so_bytes'] / 2**20:.1f} MiB)")
    if args.json:
        args.json.write_text(json.dumps(report, indent=2) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
