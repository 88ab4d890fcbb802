"""`python -m kinetra_live VERB ...`: each verb lives in a module of its own."""

from __future__ import annotations

import argparse
import importlib
import sys

from .quoting import one_line

# verb -> (module, one-line help); a module offers add_arguments(parser) and main(args) -> int.
VERBS = {
    "run": ("kinetra_live.run", "follow the show's clock and drive its outputs"),
    "render": ("kinetra_live.render", "render a show offline: CSV, glTF or a MIDI file"),
    "preview": ("kinetra_live.preview", "serve a page that shows every pattern moving"),
    "gallery": ("kinetra_live.gallery", "write the preview as one offline HTML page"),
    "analyse": ("kinetra_live.analyse", "read an audio file's beats and print its [clock]"),
}


class _Parser(argparse.ArgumentParser):
    """Command-line faults as one line naming the argument, exit 2 (argparse would print the
    usage first: `--help` shows it)."""

    def error(self, message: str):
        self.exit(2, f"{self.prog}: {one_line(message)}\n")


def main(argv: list[str] | None = None) -> int:
    parser = _Parser(prog="python -m kinetra_live", description=__doc__)
    verbs = parser.add_subparsers(dest="verb", required=True, metavar="VERB")
    modules = {}
    for verb, (module_name, help_text) in VERBS.items():
        sub = verbs.add_parser(verb, help=help_text, description=help_text)
        modules[verb] = importlib.import_module(module_name)
        modules[verb].add_arguments(sub)
    args = parser.parse_args(argv)
    return modules[args.verb].main(args)


if __name__ == "__main__":
    sys.exit(main())
