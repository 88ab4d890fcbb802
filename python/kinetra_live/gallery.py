"""Write the preview as one offline HTML page: every pattern moving at tempo, no server needed.

    python -m kinetra_live gallery gallery.html
    python -m kinetra_live gallery mine.html --pack my_pack.json

The samples travel inside the page, quantised to 1/2048 and deflated; the browser inflates
them itself, so the page needs no network and no other file.
"""

from __future__ import annotations

import argparse
import sys
from importlib import resources
from pathlib import Path

from . import page_data
from .packs import Pack, PackError, read_pack

STYLESHEET = '<link rel="stylesheet" href="preview.css">'
SCRIPT = '<script src="preview.js"></script>'


def asset(name: str) -> str:
    return resources.files("kinetra_live").joinpath("page", name).read_text(encoding="utf-8")


def build_page(pack: Pack | None = None) -> str:
    page = asset("index.html")
    # The block is base64 and the assets are ours, so no "</" can end these elements early.
    inline = (f'<script id="kinetra-data" type="application/octet-stream">'
              f'{page_data.compact_block(pack)}</script>\n<script>{asset("preview.js")}</script>')
    return page.replace(STYLESHEET, f"<style>{asset('preview.css')}</style>").replace(SCRIPT, inline)


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("output", type=Path, help="the HTML file to write")
    parser.add_argument("--pack", type=Path, help="a JSON pack of patterns and recordings to show")


def main(args: argparse.Namespace) -> int:
    try:
        pack = read_pack(args.pack) if args.pack else None
    except PackError as exc:
        print(f"error: {exc}", file=sys.stderr)
        return 2
    try:
        args.output.write_text(build_page(pack), encoding="utf-8")
    except OSError as exc:
        print(f"error: {str(args.output)[:200]!r}: cannot write: {exc.strerror}", file=sys.stderr)
        return 2
    print(f"wrote {args.output}")
    return 0
