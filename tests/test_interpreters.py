"""The module on the newest CPython the machine offers: built for it, used there, and refused
cleanly by an isolated sub-interpreter while the main interpreter keeps working."""

import glob
import json
import os
import re
import shutil
import subprocess
import tempfile
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent


def runs(path):
    try:
        return subprocess.run([path, "-c", "import _interpreters"], capture_output=True, timeout=30).returncode == 0
    except OSError:
        return False


def newest_python():
    """The highest CPython 3.13 or later under pyenv or on PATH that starts, as (version, path).
    pyenv's shims are skipped: they refuse versions that are not selected."""
    found = {}
    candidates = sorted(glob.glob(os.path.expanduser("~/.pyenv/versions/3.*/bin/python3.*")))
    candidates += [shutil.which(f"python3.{minor}") for minor in range(13, 20)]
    for path in filter(None, candidates):
        m = re.search(r"python3\.(\d+)$", path)
        if m and int(m.group(1)) >= 13 and int(m.group(1)) not in found and "shims" not in path \
                and runs(path):
            found[int(m.group(1))] = path
    if not found:
        return None
    minor = max(found)
    return (3, minor), found[minor]


def build_for(python, build: Path) -> None:
    """Builds the module for that interpreter into the given folder."""
    pybind11 = pytest.importorskip("pybind11")
    generator = ["-G", "Ninja"] if shutil.which("ninja") else []
    subprocess.run(["cmake", "-S", ROOT, "-B", build, *generator, "-DCMAKE_BUILD_TYPE=Release",
                    f"-DPython_EXECUTABLE={python}", f"-Dpybind11_DIR={pybind11.get_cmake_dir()}"],
                   check=True, capture_output=True)
    subprocess.run(["cmake", "--build", build, "-j", "2"], check=True, capture_output=True)


PROBE = r"""
import json, sys
import _interpreters
where = sys.argv[1]
out = {}

def in_sub(config, code):
    interp = _interpreters.create(config)
    try:
        failure = _interpreters.exec(interp, f"import sys; sys.path.insert(0, {where!r})\n" + code)
    finally:
        _interpreters.destroy(interp)
    return None if failure is None else [failure.type.__name__, failure.msg]

# Refused before the main interpreter has ever loaded it, and again after.
out["isolated_first"] = in_sub("isolated", "import kinetra")
sys.path.insert(0, where)
import kinetra
out["isolated_after"] = in_sub("isolated", "import kinetra")
out["legacy"] = in_sub("legacy", "import kinetra; assert kinetra.sample('circle', 16).as_tuple() == (1.0, 0.0, 0.0)")
out["version"] = list(sys.version_info[:2])
out["file"] = kinetra.__file__
out["circle"] = kinetra.sample("circle", 16).as_tuple()
out["listed"] = len(kinetra.catalogue())
p = kinetra.SampledPattern("mine", "", [(0.25, 0.0, 0.0)] * 2)
out["library"] = kinetra.PatternLibrary([p]).sample("mine", -1).as_tuple()
try:
    kinetra.bounce(2**31)
except TypeError:
    out["refuses_wide_pip"] = True
print(json.dumps(out))
"""


@pytest.mark.interpreter_build
def test_newest_interpreter_refuses_sub_interpreters_and_keeps_working():
    found = newest_python()
    if found is None:
        pytest.skip("no CPython 3.13 or later on this machine")
    version, python = found
    # A folder of its own, removed afterwards: a whole build is about 100 MB.
    with tempfile.TemporaryDirectory(prefix="kinetra-interp-") as folder:
        build = Path(folder)
        build_for(python, build)
        run = subprocess.run([python, "-c", PROBE, str(build)], capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    out = json.loads(run.stdout)
    refused = ["ImportError", "module kinetra does not support loading in subinterpreters"]
    assert out["isolated_first"] == refused
    assert out["isolated_after"] == refused
    # A legacy sub-interpreter does not check the declaration (CPython's choice); there the
    # module must still work correctly.
    assert out["legacy"] is None
    assert out["version"] == list(version) and out["file"].startswith(str(build))
    import kinetra
    assert out["circle"] == list(kinetra.sample("circle", 16).as_tuple())
    assert out["listed"] >= 15
    assert out["library"] == [0.25, 0.0, 0.0]
    assert out["refuses_wide_pip"]
