"""Reader for the catalogue table, data/catalogue.tsv."""

from __future__ import annotations

from dataclasses import dataclass
from pathlib import Path

TABLE_COLUMNS = ("name", "period_pips", "dimensions", "recipe", "description")


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

    @property
    def where(self) -> str:
        """The row's line of the table, for messages."""
        return f"data/catalogue.tsv:{self.index + 2}"


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
