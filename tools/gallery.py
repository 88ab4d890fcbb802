"""Write one self-contained HTML page that shows every pattern a library can sample.

    python tools/gallery.py gallery.html                  # the default patterns
    python tools/gallery.py mine.html --pack my_pack.json # defaults plus your own patterns

A pack file is a JSON list of {"name", "description", "samples": [[x, y, z], ...]}, the
arguments of kinetra.SampledPattern. From Python, build_page(library) takes any
PatternLibrary. The page works offline: inline SVG, inline script, no external files.
"""

from __future__ import annotations

import argparse
import html
import json
import sys
from collections.abc import Callable
from pathlib import Path

import kinetra

BOX = 200        # SVG user units of a path figure
MAX_POINTS = 256  # points drawn per loop; long loops are thinned evenly

Sampler = Callable[[str, int], "kinetra.Offset3"]

STYLE = """
body{font:14px/1.4 system-ui,sans-serif;margin:0;background:#f7f7f5;color:#222}
header{position:sticky;top:0;background:#fff;padding:12px 20px;border-bottom:1px solid #ddd;z-index:1}
header h1{font-size:18px;margin:0 0 6px}
#filter{width:min(480px,90%);font-size:15px;padding:6px 8px}
#count{margin-left:12px;color:#666}
section{padding:4px 20px 16px}
section h2{font-size:15px;margin:14px 0 8px;color:#555}
.grid{display:flex;flex-wrap:wrap;gap:10px}
figure{margin:0;width:210px;background:#fff;border:1px solid #e3e3e0;border-radius:6px;padding:6px}
figure[hidden],section[hidden]{display:none}
figcaption{font-size:11px;color:#444;word-wrap:break-word}
figcaption b{font-size:12px;color:#111;display:block}
svg{display:block;background:#fcfcfb}
.meta{color:#888}
"""

SCRIPT = """
const input = document.getElementById('filter');
const count = document.getElementById('count');
function apply() {
  const words = input.value.toLowerCase().split(/\\s+/).filter(Boolean);
  let shown = 0;
  for (const section of document.querySelectorAll('section')) {
    let any = false;
    for (const fig of section.querySelectorAll('figure')) {
      const text = fig.dataset.search;
      const ok = words.every(w => text.includes(w));
      fig.hidden = !ok;
      if (ok) { any = true; shown++; }
    }
    section.hidden = !any;
  }
  count.textContent = shown + ' of ' + document.querySelectorAll('figure').length + ' patterns';
}
input.addEventListener('input', apply);
const initial = new URLSearchParams(location.search).get('filter');
if (initial) input.value = initial;
apply();
"""


def family_of(name: str) -> str:
    if name.startswith("beat_"):
        return "beat study: " + name[len("beat_"):].rsplit("_", 1)[0]
    return name.split("_", 1)[0] if "_" in name else name


def loop(sample: Sampler, name: str, period: int) -> list[tuple[float, float, float]]:
    step = max(1, period // MAX_POINTS)
    return [sample(name, k).as_tuple() for k in range(0, period, step)] + [sample(name, 0).as_tuple()]


def _u(v: float) -> str:
    return f"{(v + 1) * BOX / 2:.1f}"


def path_figure(points, period: int, dims: int) -> str:
    """x-y path with depth as colour along it; crosses mark each beat.

    The catalogue's y points down, as SVG's does, so a lift is drawn upward.
    """
    parts = [f'<svg viewBox="0 0 {BOX} {BOX}" width="{BOX}" height="{BOX}" role="img">',
             f'<rect x="0" y="0" width="{BOX}" height="{BOX}" fill="none" stroke="#eee"/>']
    if dims == 3:
        # Depth as colour: short runs of the path, each tinted by its mean z (blue far, red near).
        run = 16
        for start in range(0, len(points) - 1, run):
            chunk = points[start:start + run + 1]
            hue = 240 - (sum(p[2] for p in chunk) / len(chunk) + 1) * 120
            coords = " ".join(f"{_u(x)},{_u(y)}" for x, y, _ in chunk)
            parts.append(f'<polyline points="{coords}" fill="none" '
                         f'stroke="hsl({hue:.0f},70%,45%)" stroke-width="1.6"/>')
    else:
        coords = " ".join(f"{_u(x)},{_u(y)}" for x, y, _ in points)
        parts.append(f'<polyline points="{coords}" fill="none" stroke="#2a6fb0" stroke-width="1.4"/>')
    step = len(points) - 1
    for b in range(0, period, 64):
        x, y, _ = points[b * step // period]
        parts.append(f'<circle cx="{_u(x)}" cy="{_u(y)}" r="2.6" fill="#d33"/>')
    parts.append("</svg>")
    return "".join(parts)


def curve_figure(values: list[float], period: int) -> str:
    """A one-axis motion as a curve over its loop, with beat lines."""
    height = BOX // 2
    n = len(values) - 1
    parts = [f'<svg viewBox="0 0 {BOX} {height}" width="{BOX}" height="{height}" role="img">']
    for b in range(0, period + 1, 64):
        x = b * BOX / period
        parts.append(f'<line x1="{x:.1f}" y1="0" x2="{x:.1f}" y2="{height}" stroke="#eee"/>')
    coords = " ".join(f"{j * BOX / n:.1f},{(1 - v) * height / 2:.1f}" for j, v in enumerate(values))
    parts.append(f'<polyline points="{coords}" fill="none" stroke="#2a6fb0" stroke-width="1.4"/>')
    parts.append("</svg>")
    return "".join(parts)


def figure(entry: dict, sample: Sampler) -> str:
    name, period, dims = entry["name"], entry["period_pips"], entry["dimensions"]
    points = loop(sample, name, period)
    if dims == 1:
        art = curve_figure([p[0] for p in points], period)
    elif dims == 2 and not any(p[0] for p in points):
        art = curve_figure([-p[1] for p in points], period)  # y-only motions, up drawn up
    else:
        art = path_figure(points, period, dims)
    beats = period / 64
    search = html.escape(f"{name} {entry['description']}".lower(), quote=True)
    return (f'<figure data-search="{search}">{art}<figcaption><b>{html.escape(name)}</b>'
            f'{html.escape(entry["description"])}<br/><span class="meta">{beats:g} beats, '
            f'{dims} {"axis" if dims == 1 else "axes"}</span></figcaption></figure>')


def build_page(library: kinetra.PatternLibrary | None = None, title: str = "kinetra patterns") -> str:
    entries = library.catalogue() if library is not None else kinetra.catalogue()
    sample: Sampler = library.sample if library is not None else kinetra.sample
    defaults = len(kinetra.catalogue())
    groups: dict[str, list[str]] = {}
    for i, entry in enumerate(entries):
        # Listings put the fifteen rudiments first and a library's own patterns last.
        if i < 15:
            key = "rudiments"
        elif i >= defaults:
            key = "your patterns"
        else:
            key = family_of(entry["name"])
        groups.setdefault(key, []).append(figure(entry, sample))
    body = "".join(
        f'<section><h2>{html.escape(group)} ({len(figs)})</h2><div class="grid">{"".join(figs)}</div></section>'
        for group, figs in groups.items())
    return ("<!DOCTYPE html>\n"
            f'<html lang="en"><head><meta charset="utf-8"/><title>{html.escape(title)}</title>'
            f"<style>{STYLE}</style></head><body><header><h1>{html.escape(title)}</h1>"
            '<input id="filter" type="search" placeholder="Filter by name or description"/>'
            f'<span id="count"></span></header>{body}<script>{SCRIPT}</script></body></html>\n')


def load_pack(path: Path) -> kinetra.PatternLibrary:
    items = json.loads(path.read_text(encoding="utf-8"))
    return kinetra.PatternLibrary([kinetra.SampledPattern(p["name"], p["description"], p["samples"])
                                   for p in items])


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("output", type=Path, help="the HTML file to write")
    parser.add_argument("--pack", type=Path, help="a JSON pattern pack to show beside the defaults")
    args = parser.parse_args()
    library = load_pack(args.pack) if args.pack else None
    args.output.write_text(build_page(library), encoding="utf-8")
    print(f"wrote {args.output}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
