"""Builds and runs the native checks of pieces Python cannot reach."""

import shutil
import subprocess
from pathlib import Path

import pytest

HERE = Path(__file__).resolve().parent / "native"


@pytest.mark.skipif(shutil.which("cmake") is None, reason="cmake is not installed")
def test_native_checks(tmp_path):
    subprocess.run(["cmake", "-S", HERE, "-B", tmp_path, "-DCMAKE_BUILD_TYPE=Release"],
                   check=True, capture_output=True)
    subprocess.run(["cmake", "--build", tmp_path], check=True, capture_output=True)
    run = subprocess.run([tmp_path / "native_tests"], capture_output=True, text=True)
    assert run.returncode == 0, run.stdout
    assert run.stdout.strip().endswith(" 0 failed")
