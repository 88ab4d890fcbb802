import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tools"))
sys.path.insert(0, str(ROOT / "src" / "catalogue"))


@pytest.fixture(scope="session")
def catalogue_table():
    """The catalogue rows as the data declares them, in table order."""
    from catalogue_data import read_table

    return read_table(ROOT / "data" / "catalogue.tsv")


def row_samples(name: str, period: int) -> list[tuple[float, float, float]]:
    """One loop of a default pattern, read back through the built module."""
    import kinetra

    return [kinetra.sample(name, k).as_tuple() for k in range(period)]
