"""Write the list of row digests, tests/catalogue_digests.tsv, from data/.

Each catalogue row has one line: its name and a digest of its samples, computed and checked
exactly as the build computes them. The list is committed, so a change to the data shows in
its diff as the lines of the rows it moved and no others; tests/test_catalogue.py checks the
built module against it. After retuning rows, or after a merge of branches that both moved
rows, run this again rather than editing or resolving the list by hand.

  python tools/row_digests.py           rewrite the list, saying which rows moved
  python tools/row_digests.py --check   only say which rows moved; exit 1 if any did
"""

from __future__ import annotations

import argparse
import os
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "src" / "catalogue"))

import generated_sources  # noqa: E402
from generate import FAULTS, build_catalogue  # noqa: E402

NAME = "row_digests.py"


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--data", type=Path, default=ROOT / "data", help="the data/ folder")
    parser.add_argument("--out", type=Path, default=ROOT / generated_sources.DIGESTS,
                        help="the list to write")
    parser.add_argument("--check", action="store_true", help="compare only, write nothing")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    args = parser.parse_args()

    try:
        present = build_catalogue(args.data, args.jobs)
    except FAULTS as exc:
        print(f"{NAME}: {exc}", file=sys.stderr)
        return 1
    text = generated_sources.digest_list(present)
    try:
        # A list left with merge conflicts reads as whatever lines still parse.
        old = args.out.read_text(encoding="utf-8") if args.out.exists() else ""
        before = generated_sources.read_digest_list(
            "\n".join(line for line in old.splitlines() if line.count("\t") == 1))
    except (OSError, UnicodeDecodeError) as exc:
        print(f"{NAME}: {args.out}: {exc}", file=sys.stderr)
        return 2
    changes = generated_sources.moved_rows(before, generated_sources.read_digest_list(text))
    for change in changes:
        print(f"{NAME}: {change}")
    if args.check:
        print(f"{NAME}: {len(present)} rows, {len(changes)} changed")
        return 1 if changes or old != text else 0
    generated_sources.write_if_changed(args.out, text.encode())
    print(f"{NAME}: {len(present)} rows, {len(changes)} changed, "
          f"{'unchanged' if old == text else 'written'}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
