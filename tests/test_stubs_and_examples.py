"""The installed type stubs match the module, and the examples run as they are."""

import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
EXAMPLES = sorted((ROOT / "examples").glob("*.py"))


def run(*args, **kw):
    return subprocess.run([sys.executable, *args], capture_output=True, text=True, cwd=ROOT, **kw)


def test_stubs_match_the_module(tmp_path):
    pytest.importorskip("mypy")
    # stubtest has no cache option of its own; a config file keeps its cache out of the tree.
    config = tmp_path / "mypy.ini"
    config.write_text(f"[mypy]\ncache_dir = {os.devnull}\n")
    out = run("-m", "mypy.stubtest", "kinetra", "--allowlist", "stubs/stubtest-allowlist.txt",
              "--mypy-config-file", str(config))
    assert out.returncode == 0, out.stdout + out.stderr


def test_typed_example_type_checks():
    pytest.importorskip("mypy")
    out = run("-m", "mypy", "--strict", "--no-incremental", "--cache-dir", os.devnull, "examples/typed_usage.py")
    assert out.returncode == 0, out.stdout + out.stderr


def test_stubs_reject_misuse(tmp_path):
    pytest.importorskip("mypy")
    bad = tmp_path / "bad.py"
    lines = ["kinetra.bounce(pip=1)", "kinetra.Offset3().x = 2.0",
             "kinetra.SampledPattern('a', 'b', [(0, 0, 0)]).sample(1.5)",
             "kinetra.sample('circle', 1.5)", "kinetra.bounce(2.0)",
             "kinetra.SampledRecording('r', ['a'], [[0.0]], 120.0, start_pip=0.5)"]
    bad.write_text("import kinetra\n" + "".join(f"{line}\n" for line in lines))
    out = run("-m", "mypy", "--strict", "--no-incremental", "--cache-dir", os.devnull, str(bad))
    flagged = {int(m) for m in re.findall(r"bad\.py:(\d+): error:", out.stdout)}
    assert flagged == set(range(2, len(lines) + 2)), out.stdout


@pytest.mark.parametrize("example", EXAMPLES, ids=lambda p: p.name)
def test_examples_run(example):
    out = run(str(example), timeout=120)
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip()
