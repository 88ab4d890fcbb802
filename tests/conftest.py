import shutil
import sys
import tempfile
from pathlib import Path

import pytest
from hypothesis import settings
from hypothesis.configuration import set_hypothesis_home_dir

# Nothing is left behind: no example database in the tree, and the temporary folders of one
# run live in a folder of its own that the run removes (pytest would keep the last three).
# No deadline: an example may take longer on a loaded machine without being wrong.
settings.register_profile("kinetra", database=None, deadline=None)
settings.load_profile("kinetra")

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


def pytest_configure(config):
    own = Path(tempfile.mkdtemp(prefix="kinetra-tests-"))
    config.stash[_OWN_BASETEMP] = str(own)
    # Hypothesis keeps caches of its own beside the example database, whatever the profile.
    set_hypothesis_home_dir(own / "hypothesis")
    if config.option.basetemp is None:
        config.option.basetemp = str(own / "tmp")


def pytest_unconfigure(config):
    own = config.stash.get(_OWN_BASETEMP, None)
    if own is not None:
        shutil.rmtree(own, ignore_errors=True)


_OWN_BASETEMP = pytest.StashKey[str]()
