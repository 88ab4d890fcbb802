"""Generate the sampled catalogue from the pattern data.

Reads data/catalogue.tsv and each recipe's parameters, computes every row's samples,
checks the catalogue's invariants and writes, only where their content changed:
  catalogue_samples.bin  the sample block, little-endian binary64 triples
  catalogue_samples.S    the block as read-only data (assembled by .incbin)
  catalogue_table.cpp    the rows, one accessor per row and the sorted name index
"""

from __future__ import annotations

import argparse
import functools
import os
import sys
import time
from concurrent.futures import ProcessPoolExecutor
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import checks  # noqa: E402
import generated_sources  # noqa: E402
from catalogue_data import DataError, RecipeMissing, Row, read_recipe_data, read_table  # noqa: E402
from families import load_recipes  # noqa: E402

SCRIPT = generated_sources.SCRIPT
Samples = generated_sources.Samples


def round12(v: float) -> float:
    # Correct rounding of the exact binary value, ties to even (a C-style floor(v * 1e12 + 0.5)
    # misrounds the many exact ties of the eased rows).
    return round(v, 12)


@functools.cache
def _recipes():
    return load_recipes()


@functools.cache
def _recipe_data(data_dir: Path, recipe: str) -> dict:
    return read_recipe_data(data_dir, recipe)


def compute_row(row: Row, data_dir: Path) -> Samples | None:
    """The row's rounded samples, or None when its recipe is not written yet."""
    recipe = _recipes().get(row.recipe)
    if recipe is None:
        return None
    try:
        raw = recipe(row, _recipe_data(data_dir, row.recipe))
    except RecipeMissing:
        return None
    except Exception as exc:
        exc.add_note(f"in row {row.index} {row.name} (recipe {row.recipe})")
        raise
    samples = [tuple(round12(float(v)) for v in s) for s in raw]
    checks.check_samples(row, samples)
    return samples


def _compute_chunk(args: tuple[list[Row], Path]) -> list[Samples | None]:
    rows, data_dir = args
    return [compute_row(row, data_dir) for row in rows]


def compute_all(rows: list[Row], data_dir: Path, jobs: int) -> list[Samples | None]:
    if jobs <= 1:
        return _compute_chunk((rows, data_dir))
    # Interleaved chunks balance the heavy families across the workers.
    chunks = [(rows[i::jobs * 4], data_dir) for i in range(jobs * 4)]
    results: list[Samples | None] = [None] * len(rows)
    with ProcessPoolExecutor(max_workers=jobs) as pool:
        for i, chunk_result in enumerate(pool.map(_compute_chunk, chunks)):
            for j, samples in enumerate(chunk_result):
                results[i + j * jobs * 4] = samples
    return results


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--data", type=Path, required=True, help="the data/ folder")
    parser.add_argument("--out", type=Path, required=True, help="folder for generated files")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    args = parser.parse_args()

    began = time.monotonic()
    try:
        rows = read_table(args.data / "catalogue.tsv")
        checks.check_table(rows)
        results = compute_all(rows, args.data, args.jobs)
    except (DataError, checks.CatalogueError) as exc:
        print(f"{SCRIPT}: {exc}", file=sys.stderr)
        return 1
    except Exception as exc:
        # A recipe failed: say which row, without the worker pool's traceback around it.
        notes = "".join(f"\n  {note}" for note in getattr(exc, "__notes__", ()))
        print(f"{SCRIPT}: {type(exc).__name__}: {exc}{notes}", file=sys.stderr)
        return 1
    present = [(row, s) for row, s in zip(rows, results) if s is not None]
    missing = [row for row, s in zip(rows, results) if s is None]
    if not missing:
        try:
            checks.check_block(rows, {row.name: s for row, s in present})
        except checks.CatalogueError as exc:
            print(f"{SCRIPT}: {exc}", file=sys.stderr)
            return 1

    size = generated_sources.write_all(args.out, present)
    recipes_missing = sorted({row.recipe for row in missing})
    print(f"{SCRIPT}: {len(present)} rows, {size // generated_sources.SAMPLE_BYTES} samples, "
          f"{time.monotonic() - began:.1f} s")
    if missing:
        print(f"{SCRIPT}: left out {len(missing)} rows whose recipes are not written yet "
              f"({', '.join(recipes_missing)})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
