"""`render SHOW --format csv|gltf|midi --out FILE`: a render written to a file.

The frames are the ones `render` writes as CSV (one sampler, the same head mapping, the same
timing), made one at a time. CSV and MIDI files stream: memory does not grow with
`--seconds`. glTF holds every frame until the end (see `gltf`). Every file is written beside
its target and renamed over it when complete (see `atomic`), so a failed or interrupted
render leaves the target as it was.
"""

from __future__ import annotations

import argparse
import contextlib
import csv
import importlib
import io
import signal
import sys
from pathlib import Path

from ..midi_clock import TraceError
from ..outputs.degrees import HeadRig
from ..quoting import one_line, quote
from .atomic import Interrupted, replacing, signals_raise

FORMATS = ("csv", "gltf", "midi")
MODULES = {"gltf": "gltf", "midi": "midi_file"}     # each needs a library of the live extra
LIVE_EXTRA = "pip install \"kinetra[live]\""


class ExportError(ValueError):
    """An export that cannot be made; the message starts with the argument or key at fault."""


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--format", choices=FORMATS, default="csv",
                        help="csv (the default), gltf (.glb or .gltf) or midi "
                             "(a standard MIDI file)")
    parser.add_argument("--out", type=Path, metavar="FILE",
                        help="write to FILE, replacing it only once complete (CSV goes to "
                             "standard output without it)")


def wanted(args: argparse.Namespace) -> bool:
    """Whether a render goes to a file rather than CSV on standard output."""
    return args.format != "csv" or args.out is not None


# `render` imports this package for its arguments: what it needs of `render` is imported late.
def _writer(show, args, fps, trace):
    """The glTF or MIDI file export the arguments ask for, checked before anything is written;
    None for CSV."""
    from ..render import frame_count

    out = args.out
    if args.format == "csv":
        return None
    if out is None:
        shape = "FILE.glb or FILE.gltf" if args.format == "gltf" else "FILE.mid"
        raise ExportError(f"--out: a {args.format} export is written to a file: "
                          f"give --out {shape}")
    try:
        module = importlib.import_module(f"{__name__}.{MODULES[args.format]}")
    except ImportError as exc:
        raise ExportError(f"--format {args.format}: needs the live extra ({LIVE_EXTRA}): "
                          f"{exc}") from None
    if args.format == "gltf":
        suffix = out.suffix.lower()
        if suffix not in module.SUFFIXES:
            raise ExportError(f"--out: a glTF export is .glb (binary) or .gltf (text), got "
                              f"{quote(out.name)}")
        return module.GltfExport(show, frame_count(args.seconds, fps), fps, suffix == ".glb")
    if trace is not None:
        given = "--timecode" if getattr(args, "timecode", None) is not None else "--midi-clock"
        raise ExportError(f"{given}: a MIDI file carries the show's tempo map; render it "
                          "without a clock trace")
    return module.MidiFileExport(show, args.seconds, fps, out)


def _write(show, args, fps, trace, heads, writer, file, follower, check) -> None:
    from ..render import MidiClockFollower, frames, rows

    follower = follower or MidiClockFollower
    if writer is None:
        text = io.TextIOWrapper(file, encoding="utf-8", newline="")
        lines = csv.writer(text, lineterminator="\n")
        for row in rows(show, args.seconds, fps, trace, heads, follower=follower):
            check()
            lines.writerow(row)
        text.detach()
        return
    for n, _, frame, angles, sent in frames(show, args.seconds, fps, trace, heads,
                                            follower=follower):
        check()
        writer.add(n, frame, angles, sent)
    writer.write(file)


def main(show, args: argparse.Namespace, fps: int, trace, follower=None) -> int:
    """Render to `args.out` in `args.format`; 0, or 2 with one line on standard error."""
    out = args.out
    try:
        writer = _writer(show, args, fps, trace)
        if out.is_dir():
            raise ExportError(f"--out: {one_line(str(out), 200)}: is a folder")
    except ExportError as exc:
        print(f"render: {exc}", file=sys.stderr)
        return 2
    heads = HeadRig(show, fps)
    name = one_line(str(out), 200)
    try:
        with signals_raise() as check, replacing(out) as file, contextlib.ExitStack() as stack:
            if isinstance(writer, contextlib.AbstractContextManager):
                stack.enter_context(writer)     # its scratch space, gone with the export
            _write(show, args, fps, trace, heads, writer, file, follower, check)
    except (KeyboardInterrupt, Interrupted) as exc:
        print(f"render: interrupted; {name} was not written", file=sys.stderr)
        return 128 + getattr(exc, "signum", signal.SIGINT)
    except TraceError as exc:
        print(f"render: --midi-clock: {exc}", file=sys.stderr)
        return 2
    except OSError as exc:
        if args.midi_clock is not None and exc.filename == str(args.midi_clock):
            print(f"render: --midi-clock: {exc}", file=sys.stderr)
        else:
            print(f"render: --out: {name}: {exc.strerror or exc}", file=sys.stderr)
        return 2
    for line in heads.report():
        print(f"render: {line}", file=sys.stderr)
    return 0
