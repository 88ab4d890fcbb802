"""Generate the sampled catalogue from the pattern data.

Reads data/catalogue.tsv and each recipe's parameters, checks the rules the data states of
itself (data_rules.py), computes every row's samples and checks them against the catalogue's
invariants and what the row's line declares, stopping at the first fault with the file, line
and row to fix, and writes, only where their content changed:
  catalogue_samples.bin  the sample block, little-endian binary64 triples
  catalogue_samples.S    the block as read-only data (assembled by .incbin)
  catalogue_table.cpp    the rows, one accessor per row and the sorted name index
"""

from __future__ import annotations

import argparse
import functools
import multiprocessing
import os
import sys
import time
from concurrent.futures import ProcessPoolExecutor, as_completed
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import checks  # noqa: E402
import data_rules  # noqa: E402
import generated_sources  # noqa: E402
from catalogue_data import DataError, Row, read_table  # noqa: E402
from params import ParamFile  # noqa: E402
from recipes import RECIPES  # noqa: E402

SCRIPT = generated_sources.SCRIPT
Samples = generated_sources.Samples


def round12(v: float) -> float:
    # Correct rounding of the exact binary value, ties to even (a C-style floor(v * 1e12 + 0.5)
    # misrounds the many exact ties of the eased rows).
    return round(v, 12)


@functools.cache
def _param_file(data_dir: Path, name: str) -> ParamFile:
    return ParamFile(data_dir, name)


def _row_fault(row: Row, message: str, where: str | None = None) -> DataError:
    """A fault of a row, at `where` (data/FILE:LINE) or else at the row's line of the table."""
    return DataError(f"{where or row.where}: row {row.index} {row.name}: {message}")


def compute_row(row: Row, data_dir: Path) -> Samples:
    """The row's samples rounded to twelve decimals; DataError names the line, the row and
    the fault (for a fault found while reading parameters, the line of the last key read)."""
    recipe = RECIPES.get(row.recipe)
    if recipe is None:
        raise _row_fault(row, f"there is no recipe {row.recipe!r}")
    files = _param_file(data_dir, recipe.data) if recipe.data else None
    if files is not None:
        files.trail.note(None, ())
    try:
        raw = recipe.compute(row, files.params if files else None)
    except Exception as exc:
        where = files.located(files.trail.where, files.trail.keys) \
            if files is not None and files.trail.where else None
        message = str(exc) if isinstance(exc, DataError) else f"{type(exc).__name__}: {exc}"
        raise _row_fault(row, message, where) from None
    return [tuple(round12(float(v)) for v in s) for s in raw]


def checked_row(row: Row, data_dir: Path) -> Samples:
    samples = compute_row(row, data_dir)
    checks.check_samples(row, samples)
    return samples


def check_rules(rows: list[Row], data_dir: Path) -> None:
    """The rules the data states about itself, row by row: the first fault, at its line."""
    for row in rows:
        rule = data_rules.RULES.get(row.recipe)
        if rule is None:
            continue
        files = _param_file(data_dir, RECIPES[row.recipe].data)
        raw = {stem: values for stem, (_, values) in files.files.items()}
        for stem, keys, message in rule(row, raw):
            where = files.files[stem][0]
            raise _row_fault(row, message, files.located(where, keys))


_stop = None  # set in each worker: another worker has found a fault


def _start_worker(stop) -> None:
    global _stop
    _stop = stop


def _compute_chunk(args: tuple[list[Row], Path]) -> tuple[list[Samples], dict[str, set]]:
    rows, data_dir = args
    samples = []
    for row in rows:
        if _stop is not None and _stop.is_set():
            break
        try:
            samples.append(checked_row(row, data_dir))
        except BaseException:
            if _stop is not None:
                _stop.set()
            raise
    used = {name: _param_file(data_dir, name).used
            for name in {RECIPES[row.recipe].data for row in rows} if name}
    return samples, used


def compute_all(rows: list[Row], data_dir: Path, jobs: int) -> list[Samples]:
    """Every row's samples, checked, in table order; then every data file must be read whole.

    The first fault stops the run: the data rules are checked before anything is computed,
    and a worker that meets a faulty row stops the others after the row they are on."""
    _param_file.cache_clear()  # read the data as it is now, and note afresh what rows read
    check_rules(rows, data_dir)
    used: dict[str, set] = {}
    if jobs <= 1:
        results, used = _compute_chunk((rows, data_dir))
    else:
        # Small interleaved chunks balance the heavy families across the workers and leave
        # little to finish once a fault is found.
        n = min(len(rows), jobs * 32)
        results = [None] * len(rows)
        stop = multiprocessing.get_context().Event()
        with ProcessPoolExecutor(max_workers=jobs, initializer=_start_worker,
                                 initargs=(stop,)) as pool:
            futures = {pool.submit(_compute_chunk, (rows[i::n], data_dir)): i for i in range(n)}
            try:
                for future in as_completed(futures):
                    chunk, chunk_used = future.result()
                    if len(chunk) < len(range(futures[future], len(rows), n)):
                        continue  # stopped early: another chunk's fault is on its way
                    results[futures[future]::n] = chunk
                    for name, keys in chunk_used.items():
                        used.setdefault(name, set()).update(keys)
            except BaseException:
                stop.set()
                pool.shutdown(cancel_futures=True)
                raise
    check_data_read(data_dir, used)
    return results


def check_recipes(rows: list[Row], data_dir: Path) -> None:
    """Before any computing: every row's recipe exists, and recipes and data files match."""
    faults = []
    for row in rows:
        if row.recipe not in RECIPES:
            faults.append(f"{row.where}: row {row.index} {row.name}: "
                          f"there is no recipe {row.recipe!r}")
    for name, recipe in RECIPES.items():
        if not any(row.recipe == name for row in rows):
            faults.append(f"recipe {name} has no row in data/catalogue.tsv")
        elif recipe.data and not (data_dir / recipe.data).exists():
            faults.append(f"recipe {name}: data/{recipe.data} is absent")
    declared = {recipe.data.rstrip("/") for recipe in RECIPES.values() if recipe.data}
    for path in sorted(data_dir.iterdir()):
        if path.name != "catalogue.tsv" and path.name not in declared:
            faults.append(f"data/{path.name} belongs to no recipe")
    _raise_all(faults)


def check_data_read(data_dir: Path, used: dict[str, set]) -> None:
    """Fail on a score file, table or key of the data that no row read."""
    faults = []
    for name in sorted(used):
        files = ParamFile(data_dir, name)
        files.used = used[name]
        faults += files.unused()
    _raise_all(faults)


def _raise_all(faults: list[str], shown: int = 20) -> None:
    if faults:
        more = f"\n  ... and {len(faults) - shown} more" if len(faults) > shown else ""
        raise DataError("\n  ".join(faults[:shown]) + more)


def build_catalogue(data_dir: Path, jobs: int) -> list[tuple[Row, Samples]]:
    """Every row with its samples, every invariant checked; raises on the first fault."""
    rows = read_table(data_dir / "catalogue.tsv")
    checks.check_table(rows)
    check_recipes(rows, data_dir)
    present = list(zip(rows, compute_all(rows, data_dir, jobs)))
    checks.check_block({row.name: s for row, s in present})
    return present


# What a fault of the data (or a data folder that cannot be read) raises.
FAULTS = (DataError, checks.CatalogueError, OSError, UnicodeDecodeError)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--data", type=Path, required=True, help="the data/ folder")
    parser.add_argument("--out", type=Path, required=True, help="folder for generated files")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    args = parser.parse_args()

    began = time.monotonic()
    try:
        present = build_catalogue(args.data, args.jobs)
    except FAULTS as exc:
        print(f"{SCRIPT}: {exc}", file=sys.stderr)
        return 1

    size = generated_sources.write_all(args.out, present)
    print(f"{SCRIPT}: {len(present)} rows, {size // generated_sources.SAMPLE_BYTES} samples, "
          f"{time.monotonic() - began:.1f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
