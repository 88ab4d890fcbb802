"""Reader for the catalogue table, data/catalogue.tsv.

A row's line holds everything declared about it beside its parameters: its name, period and
dimensions, the axes that move, the peak it keeps to, whether a closed rule fixes its samples,
its recipe and its description. The generator checks each declaration against the samples.
"""

from __future__ import annotations

from dataclasses import dataclass
from pathlib import Path

TABLE_COLUMNS = ("name", "period_pips", "dimensions", "moves", "peak", "rule", "recipe",
                 "description")
AXES = "xyz"
UNDECLARED = "-"
RULE = {"yes": True, "no": False}


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
    # The axes that move, in order; empty for every axis the dimensions allow.
    moves: str = ""
    # The exact largest |component| the row keeps to, where it declares one.
    peak: float | None = None
    # A closed rule fixes every sample, so the motion bar does not judge the row.
    rule: bool = False

    @property
    def where(self) -> str:
        """The row's line of the table, for messages."""
        return f"data/catalogue.tsv:{self.index + 2}"

    @property
    def moving(self) -> str:
        return self.moves or AXES[:self.dimensions]


def _peak(text: str) -> float | None:
    if text == UNDECLARED:
        return None
    value = float(text)
    if not 0.0 < value <= 1.0 or repr(value) != text:
        raise ValueError(f"peak {text!r} is not {UNDECLARED} or a decimal in (0, 1]")
    return value


def _moves(text: str, dimensions: int) -> str:
    if not text or text not in ("x", "y", "z", "xy", "xz", "yz", "xyz") \
            or not set(text) <= set(AXES[:dimensions]):
        raise ValueError(f"moves {text!r} is not a run of the axes {AXES[:dimensions]}")
    return text


def read_table(path: Path) -> list[Row]:
    """Read the catalogue table: one row per line, tab-separated, in catalogue order."""
    rows = []
    with path.open(encoding="utf-8", newline="\n") as f:
        header = f.readline().rstrip("\n").split("\t")
        if tuple(header) != TABLE_COLUMNS:
            raise DataError(f"data/{path.name}:1: the header is {' '.join(TABLE_COLUMNS)}, "
                            "tab-separated")
        for line_no, line in enumerate(f, start=2):
            # Only the newline is stripped: a description may end in a blank.
            fields = line.removesuffix("\n").split("\t")
            if len(fields) != len(TABLE_COLUMNS):
                raise DataError(f"data/{path.name}:{line_no}: expected {len(TABLE_COLUMNS)} "
                                "fields")
            name, period, dims, moves, peak, rule, recipe, description = fields
            try:
                if rule not in RULE:
                    raise ValueError(f"rule {rule!r} is not yes or no")
                dimensions = int(dims)
                rows.append(Row(len(rows), name, int(period), dimensions, recipe, description,
                                _moves(moves, dimensions), _peak(peak), RULE[rule]))
            except ValueError as exc:
                raise DataError(f"data/{path.name}:{line_no}: row {len(rows)} {name}: {exc}") \
                    from None
    return rows
