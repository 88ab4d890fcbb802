"""Readers for the pattern data: the catalogue table and each recipe's parameters."""

from __future__ import annotations

import tomllib
from dataclasses import dataclass
from pathlib import Path

TABLE_COLUMNS = ("name", "period_pips", "dimensions", "recipe", "description")


class RecipeMissing(Exception):
    """Raised by a recipe for a row whose parameters are not written yet; the row is left out."""


class DataError(Exception):
    """A fault in the pattern data; the message names where it was found."""


@dataclass(frozen=True)
class Row:
    index: int
    name: str
    period_pips: int
    dimensions: int
    recipe: str
    description: str


def read_table(path: Path) -> list[Row]:
    """Read the catalogue table: one row per line, tab-separated, in catalogue order."""
    rows = []
    with path.open(encoding="utf-8", newline="\n") as f:
        header = f.readline().rstrip("\n").split("\t")
        if tuple(header) != TABLE_COLUMNS:
            raise DataError(f"{path}: header must be {'/'.join(TABLE_COLUMNS)}")
        for line_no, line in enumerate(f, start=2):
            # Only the newline is stripped: a description may end in a blank.
            fields = line.removesuffix("\n").split("\t")
            if len(fields) != len(TABLE_COLUMNS):
                raise DataError(f"{path}:{line_no}: expected {len(TABLE_COLUMNS)} fields")
            name, period, dims, recipe, description = fields
            try:
                rows.append(Row(len(rows), name, int(period), int(dims), recipe, description))
            except ValueError as exc:
                raise DataError(f"{path}:{line_no}: row {name}: {exc}") from None
    return rows


def read_recipe_data(data_dir: Path, recipe: str) -> dict:
    """Parameters of one recipe: `data/<recipe>.toml`, or `data/<recipe>/*.toml` keyed by file stem."""
    single = data_dir / f"{recipe}.toml"
    folder = data_dir / recipe
    if single.exists() and folder.is_dir():
        raise DataError(f"recipe {recipe}: both {single} and {folder}/ exist")
    if single.exists():
        return _load_toml(single)
    if folder.is_dir():
        return {p.stem: _load_toml(p) for p in sorted(folder.glob("*.toml"))}
    return {}


def _load_toml(path: Path) -> dict:
    try:
        with path.open("rb") as f:
            return tomllib.load(f)
    except tomllib.TOMLDecodeError as exc:
        raise DataError(f"{path}: {exc}") from None
