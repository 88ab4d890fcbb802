"""The files generated from the catalogue: one function per file, each returning its content.

The content depends on the rows and their samples alone, never on where the build runs, so a
rebuild from unchanged data rewrites nothing and compiles nothing.
"""

from __future__ import annotations

import hashlib
import os
import struct
from pathlib import Path

SCRIPT = "src/catalogue/generate.py"
HEADER = f"// Generated from data/ by {SCRIPT}. Do not edit."
SAMPLES_BIN = "catalogue_samples.bin"
SAMPLES_ASM = "catalogue_samples.S"
TABLE_CPP = "catalogue_table.cpp"

Samples = list[tuple[float, float, float]]
SAMPLE_BYTES = 24  # three little-endian binary64 values

# The committed list of row digests, and what writes it.
DIGESTS = "tests/catalogue_digests.tsv"
DIGEST_TOOL = "tools/row_digests.py"
DIGEST_HEX = 32  # the first 128 bits of the SHA-256


def write_if_changed(path: Path, content: bytes) -> None:
    # An unchanged file keeps its time stamp, so nothing that depends on it is rebuilt.
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


def samples_bin(catalogue: list[tuple[object, Samples]]) -> bytes:
    pack = struct.Struct("<3d").pack
    return b"".join(pack(*s) for _, samples in catalogue for s in samples)


def samples_asm(size: int) -> str:
    # The block is found on the assembler's include path: no path of this machine is written.
    return (
        f"{HEADER}\n"
        f"// The sample block: {size // SAMPLE_BYTES} samples, {size} bytes of read-only data.\n"
        "    .section .rodata.kinetra_catalogue_samples,\"a\",@progbits\n"
        "    .balign 64\n"
        "    .globl kinetra_catalogue_samples\n"
        "    .hidden kinetra_catalogue_samples\n"
        "    .type kinetra_catalogue_samples, @object\n"
        f"    .size kinetra_catalogue_samples, {size}\n"
        "kinetra_catalogue_samples:\n"
        f"    .incbin \"{SAMPLES_BIN}\"\n"
        "    .section .note.GNU-stack,\"\",@progbits\n"
    )


def table_cpp(catalogue: list[tuple[object, Samples]]) -> str:
    rows = [row for row, _ in catalogue]
    samples = sum(len(s) for _, s in catalogue)
    count = len(rows)
    lines = [
        HEADER,
        f"// {count} rows, {samples} samples in the block ({SAMPLE_BYTES * samples} bytes), "
        f"{count} accessors, a name index of {count} row numbers and its {count} name keys.",
        '#include "catalogue/catalogue.hpp"',
        "",
        "#include <array>",
        "#include <cstdint>",
        "",
        '#include "core/pip.hpp"',
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
        f"constexpr std::array<CatalogueRow, {count}> kRows{{{{",
    ]
    start = 0
    for row, row_samples in catalogue:
        lines.append(
            f"    {{{{{cpp_string(row.name)}, {cpp_string(row.description)}, "
            f"{row.period_pips}, {row.dimensions}}}, &sampled_row<{row.period_pips}, {start}>}},")
        start += len(row_samples)
    lines.append("}};")
    lines.append("")
    # Unsigned byte order, exactly the order of the lookup's comparisons.
    order = sorted(range(count), key=lambda i: rows[i].name.encode())
    lines.append(f"constexpr std::array<std::size_t, {count}> kNameIndex{{{{")
    for i in range(0, count, 16):
        lines.append("    " + " ".join(f"{n}," for n in order[i:i + 16]))
    lines.append("}};")
    lines += [
        "",
        f"constexpr std::array<NameKey, {count}> kNameKeys = name_keys_in_order(kRows, kNameIndex);",
        "static_assert(names_ascend(kRows, kNameIndex), \"the name index is out of order\");",
        "",
        "}  // namespace",
        "",
        "constinit const std::span<const CatalogueRow> catalogue_rows = kRows;",
        "constinit const std::span<const std::size_t> catalogue_name_index = kNameIndex;",
        "constinit const std::span<const NameKey> catalogue_name_keys = kNameKeys;",
        "",
        "}  // namespace kinetra",
    ]
    return "\n".join(lines) + "\n"


def row_digest(samples: Samples) -> str:
    """The digest of one row: its samples exactly as the block stores them."""
    pack = struct.Struct("<3d").pack
    return hashlib.sha256(b"".join(pack(*s) for s in samples)).hexdigest()[:DIGEST_HEX]


def digest_list(catalogue: list[tuple[object, Samples]]) -> str:
    """One line per row, in table order, so that a change shows as the lines of its rows."""
    lines = [f"# Generated from data/ by {DIGEST_TOOL}. Do not edit: run the tool.",
             f"# Each row's name and the first {DIGEST_HEX * 4} bits of the SHA-256 of its samples "
             "(x, y, z of each pip as little-endian binary64)."]
    lines += [f"{row.name}\t{row_digest(samples)}" for row, samples in catalogue]
    return "\n".join(lines) + "\n"


def read_digest_list(text: str) -> dict[str, str]:
    """Row name to digest, in the list's order."""
    return dict(line.split("\t") for line in text.splitlines() if not line.startswith("#"))


def moved_rows(before: dict[str, str], after: dict[str, str]) -> list[str]:
    """What a change did, row by row: rows whose samples moved, rows added and removed."""
    out = [f"{name} moved" for name in after if name in before and before[name] != after[name]]
    out += [f"{name} added" for name in after if name not in before]
    out += [f"{name} removed" for name in before if name not in after]
    return out


def write_all(out: Path, catalogue: list[tuple[object, Samples]]) -> int:
    """Write the three files where their content changed; returns the block's size in bytes."""
    out.mkdir(parents=True, exist_ok=True)
    block = samples_bin(catalogue)
    write_if_changed(out / SAMPLES_BIN, block)
    write_if_changed(out / SAMPLES_ASM, samples_asm(len(block)).encode())
    write_if_changed(out / TABLE_CPP, table_cpp(catalogue).encode())
    return len(block)
