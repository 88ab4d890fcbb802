"""Compute catalogue rows straight from the data, check them and draw a contact sheet.

    python tools/preview.py gesture_ mech_scotch_yoke --sheet /tmp/sheet.png

Each argument selects the rows whose name starts with it (or whose recipe it names). No
build is needed: the rows come from the generator's own recipes. Rows are shown even when
they miss the motion bar, which the flags STEP, SEAM and SPAN point out; the first fault the
build would stop at (a declared axis or peak the row misses, say) follows the row. The
contact sheet needs matplotlib, which nothing else here does.
"""

from __future__ import annotations

import argparse
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "src" / "catalogue"))
sys.path.insert(0, str(ROOT / "tools"))

import checks  # noqa: E402
import pattern_bar  # noqa: E402
from catalogue_data import DataError, read_table  # noqa: E402
from generate import compute_row  # noqa: E402


def draw_sheet(patterns, rows, path: Path, columns: int = 4) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    count = len(patterns)
    lines = (count + columns - 1) // columns
    fig, axes = plt.subplots(lines, columns, figsize=(3.2 * columns, 3.4 * lines), squeeze=False)
    for ax in axes.flat:
        ax.set_axis_off()
    for ax, (name, samples) in zip(axes.flat, patterns.items()):
        row = rows[name]
        ax.set_axis_on()
        xs = [s[0] for s in samples] + [samples[0][0]]
        ys = [s[1] for s in samples] + [samples[0][1]]
        zs = [s[2] for s in samples] + [samples[0][2]]
        if row.dimensions == 1 or name in ("lfo_double_pump",) or name.startswith("env_"):
            vertical = row.dimensions > 1 and not any(xs)
            lane = ys if vertical else xs
            ax.plot(range(len(lane)), lane, lw=1)
            # y points down, so a y lane is drawn with its lifts upward.
            ax.set_ylim((1.05, -1.05) if vertical else (-1.05, 1.05))
            for b in range(0, row.period_pips + 1, 64):
                ax.axvline(b, color="0.85", lw=0.5)
        else:
            ax.plot(xs, ys, lw=0.8, color="0.6")
            ax.scatter(xs[:-1], ys[:-1], c=zs[:-1] if row.dimensions == 3 else range(len(xs) - 1),
                       s=2, cmap="viridis")
            beats = list(range(0, row.period_pips, 64))
            ax.scatter([xs[b] for b in beats], [ys[b] for b in beats], s=12, c="red", marker="x")
            ax.set_xlim(-1.05, 1.05)
            ax.set_ylim(1.05, -1.05)  # y points down, as on a screen
            ax.set_aspect("equal")
        ax.set_title(f"{name}\n{row.period_pips} pips, {row.dimensions}D", fontsize=7)
        ax.tick_params(labelsize=5)
    fig.tight_layout()
    fig.savefig(path, dpi=90)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("select", nargs="+", help="name prefixes or recipe names")
    parser.add_argument("--data", type=Path, default=ROOT / "data")
    parser.add_argument("--sheet", type=Path, help="write a PNG contact sheet here")
    args = parser.parse_args()

    try:
        table = read_table(args.data / "catalogue.tsv")
    except (OSError, DataError) as exc:
        print(f"preview.py: {exc}", file=sys.stderr)
        return 2
    chosen = [r for r in table if any(r.name.startswith(s) or r.recipe == s for s in args.select)]
    patterns = {}
    print(f"{'row':34} {'P':>5} {'D'} {'peak':>8} {'maxstep':>8} {'seam':>6} spans")
    for row in chosen:
        try:
            samples = compute_row(row, args.data)
        except DataError as exc:
            print(f"preview.py: {exc}", file=sys.stderr)
            return 1
        patterns[row.name] = samples
        sp = pattern_bar.spans(samples)
        flags = []
        if pattern_bar.max_step(samples) > pattern_bar.MAX_STEP:
            flags.append("STEP")
        if pattern_bar.seam_jump(samples) > 0:
            flags.append("SEAM")
        if any(sp[a] < pattern_bar.MIN_SPAN for a in range(row.dimensions)):
            flags.append("SPAN")
        print(f"{row.name:34} {row.period_pips:5} {row.dimensions} {pattern_bar.peak(samples):8.5f} "
              f"{pattern_bar.max_step(samples):8.4f} {pattern_bar.seam_jump(samples):6.3f} "
              f"{sp[0]:.2f} {sp[1]:.2f} {sp[2]:.2f} {' '.join(flags)}")
        try:
            checks.check_samples(row, samples)
        except checks.CatalogueError as exc:
            print(f"    {exc}")
    if len(patterns) > 1:
        d, a, b = pattern_bar.closest_pair(patterns)
        print(f"closest pair: {a} / {b}, RMS {d:.4f}" + ("  TOO CLOSE" if d < pattern_bar.MIN_RMS else ""))
    if args.sheet and patterns:
        draw_sheet(patterns, {r.name: r for r in chosen}, args.sheet)
        print(f"contact sheet: {args.sheet}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
