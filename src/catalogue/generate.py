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
import struct
import sys
import time
from concurrent.futures import ProcessPoolExecutor
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

import checks  # noqa: E402
from catalogue_data import DataError, Row, read_table  # noqa: E402
from params import ParamFile  # noqa: E402
from recipes import RECIPES  # noqa: E402

SCRIPT = "src/catalogue/generate.py"
Samples = list[tuple[float, float, float]]


def round12(v: float) -> float:
    # Correct rounding of the exact binary value, ties to even (a C-style floor(v * 1e12 + 0.5)
    # misrounds the many exact ties of the eased rows).
    return round(v, 12)


@functools.cache
def _param_file(data_dir: Path, name: str) -> ParamFile:
    return ParamFile(data_dir, name)


def compute_row(row: Row, data_dir: Path) -> Samples:
    """The row's samples rounded to twelve decimals; DataError names the row and the fault."""
    recipe = RECIPES.get(row.recipe)
    if recipe is None:
        raise DataError(f"row {row.index} {row.name}: there is no recipe {row.recipe!r}")
    try:
        params = _param_file(data_dir, recipe.data).params if recipe.data else None
        raw = recipe.compute(row, params)
    except DataError as exc:
        raise DataError(f"row {row.index} {row.name}: {exc}") from None
    except Exception as exc:
        exc.add_note(f"in row {row.index} {row.name} (recipe {row.recipe})")
        raise
    return [tuple(round12(float(v)) for v in s) for s in raw]


def checked_row(row: Row, data_dir: Path) -> Samples:
    samples = compute_row(row, data_dir)
    checks.check_samples(row, samples, RECIPES[row.recipe].rule)
    return samples


def _compute_chunk(args: tuple[list[Row], Path]) -> tuple[list[Samples], dict[str, set]]:
    rows, data_dir = args
    samples = [checked_row(row, data_dir) for row in rows]
    used = {name: _param_file(data_dir, name).used
            for name in {RECIPES[row.recipe].data for row in rows} if name}
    return samples, used


def compute_all(rows: list[Row], data_dir: Path, jobs: int) -> list[Samples]:
    """Every row's samples, checked, in table order; then every data file must be read whole."""
    used: dict[str, set] = {}
    if jobs <= 1:
        results, used = _compute_chunk((rows, data_dir))
    else:
        # Interleaved chunks balance the heavy families across the workers.
        n = jobs * 4
        results = [None] * len(rows)
        with ProcessPoolExecutor(max_workers=jobs) as pool:
            for i, (chunk, chunk_used) in enumerate(pool.map(_compute_chunk, [
                    (rows[i::n], data_dir) for i in range(n)])):
                results[i::n] = chunk
                for name, keys in chunk_used.items():
                    used.setdefault(name, set()).update(keys)
    check_data_read(data_dir, used)
    return results


def check_recipes(rows: list[Row], data_dir: Path) -> None:
    """Before any computing: every row's recipe exists, and recipes and data files match."""
    faults = []
    for row in rows:
        if row.recipe not in RECIPES:
            faults.append(f"row {row.index} {row.name}: there is no recipe {row.recipe!r}")
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


def write_if_changed(path: Path, content: bytes) -> None:
    if path.exists() and path.read_bytes() == content:
        return
    tmp = path.with_suffix(path.suffix + ".tmp")
    tmp.write_bytes(content)
    os.replace(tmp, path)


def cpp_string(text: str) -> str:
    out = []
    for byte in text.encode():
        if byte in (0x22, 0x5C):
            out.append("\\" + chr(byte))
        elif 0x20 <= byte < 0x7F:
            out.append(chr(byte))
        else:
            out.append(f"\\{byte:03o}")  # octal escapes cannot run into the next character
    return '"' + "".join(out) + '"'


def sample_block(present: list[tuple[Row, Samples]]) -> bytes:
    pack = struct.Struct("<3d").pack
    return b"".join(pack(*s) for _, samples in present for s in samples)


def samples_asm(bin_path: Path, size: int) -> str:
    return (
        f"// Generated from data/ by {SCRIPT}. Do not edit.\n"
        f"// The sample block: {size // 24} samples, {size} bytes of read-only data.\n"
        "    .section .rodata.kinetra_catalogue_samples,\"a\",@progbits\n"
        "    .balign 64\n"
        "    .globl kinetra_catalogue_samples\n"
        "    .hidden kinetra_catalogue_samples\n"
        "    .type kinetra_catalogue_samples, @object\n"
        f"    .size kinetra_catalogue_samples, {size}\n"
        "kinetra_catalogue_samples:\n"
        f"    .incbin \"{bin_path.as_posix()}\"\n"
        "    .section .note.GNU-stack,\"\",@progbits\n"
    )


def table_cpp(present: list[tuple[Row, Samples]], left_out: int) -> str:
    lines = [
        f"// Generated from data/ by {SCRIPT}. Do not edit.",
        f"// {len(present)} rows ({left_out} left out until their recipes exist), "
        f"{sum(len(s) for _, s in present)} samples in the block "
        f"({24 * sum(len(s) for _, s in present)} bytes), "
        f"{len(present)} accessors, a name index of {len(present)} row numbers.",
        '#include "catalogue/catalogue.hpp"',
        "",
        "#include <array>",
        "#include <cstdint>",
        "",
        "#include \"core/pip.hpp\"",
        "",
        'extern "C" const kinetra::Offset3 kinetra_catalogue_samples[];',
        "",
        "namespace kinetra {",
        "namespace {",
        "",
        "template <std::int32_t Period, std::uint32_t Start>",
        "Offset3 sampled_row(std::int32_t pip) noexcept {",
        "    return kinetra_catalogue_samples[Start + static_cast<std::uint32_t>(wrap_pip_by<Period>(pip))];",
        "}",
        "",
        f"constexpr std::array<CatalogueRow, {len(present)}> kRows{{{{",
    ]
    start = 0
    for row, samples in present:
        lines.append(
            f"    {{{{{cpp_string(row.name)}, {cpp_string(row.description)}, "
            f"{row.period_pips}, {row.dimensions}}}, &sampled_row<{row.period_pips}, {start}>}},")
        start += len(samples)
    lines.append("}};")
    lines.append("")
    order = sorted(range(len(present)), key=lambda i: present[i][0].name.encode())
    lines.append(f"constexpr std::array<std::size_t, {len(order)}> kNameIndex{{{{")
    for i in range(0, len(order), 16):
        lines.append("    " + " ".join(f"{n}," for n in order[i:i + 16]))
    lines.append("}};")
    lines.append("")
    lines.append("}  // namespace")
    lines.append("")
    lines.append("constinit const std::span<const CatalogueRow> catalogue_rows = kRows;")
    lines.append("constinit const std::span<const std::size_t> catalogue_name_index = kNameIndex;")
    lines.append("")
    lines.append("}  // namespace kinetra")
    return "\n".join(lines) + "\n"


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
        check_recipes(rows, args.data)
        results = compute_all(rows, args.data, args.jobs)
        present = list(zip(rows, results))
        checks.check_block(rows, {row.name: s for row, s in present})
    except (DataError, checks.CatalogueError) as exc:
        print(f"{SCRIPT}: {exc}", file=sys.stderr)
        return 1
    except Exception as exc:
        # A recipe failed: say which row, without the worker pool's traceback around it.
        notes = "".join(f"\n  {note}" for note in getattr(exc, "__notes__", ()))
        print(f"{SCRIPT}: {type(exc).__name__}: {exc}{notes}", file=sys.stderr)
        return 1

    args.out.mkdir(parents=True, exist_ok=True)
    block = sample_block(present)
    bin_path = (args.out / "catalogue_samples.bin").resolve()
    write_if_changed(bin_path, block)
    write_if_changed(args.out / "catalogue_samples.S", samples_asm(bin_path, len(block)).encode())
    write_if_changed(args.out / "catalogue_table.cpp", table_cpp(present, 0).encode())

    print(f"{SCRIPT}: {len(present)} rows, {len(block) // 24} samples, "
          f"{time.monotonic() - began:.1f} s")
    return 0


if __name__ == "__main__":
    sys.exit(main())
