"""The catalogue generator refuses faulty data, naming the row, and rewrites only what changed."""

import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
GENERATE = ROOT / "src" / "catalogue" / "generate.py"


def generate(data: Path, out: Path):
    return subprocess.run([sys.executable, str(GENERATE), "--data", str(data), "--out", str(out)],
                          capture_output=True, text=True)


@pytest.fixture
def data(tmp_path):
    copy = tmp_path / "data"
    shutil.copytree(ROOT / "data", copy)
    return copy


def edit(path: Path, old: str, new: str):
    text = path.read_text(encoding="utf-8")
    assert old in text
    path.write_text(text.replace(old, new, 1), encoding="utf-8")


@pytest.mark.parametrize("old,new,message", [
    ("euclid_2_5\t160\t", "euclid_2_5\t288\t", "row 212 euclid_2_5: period must be 32 pips per eighth note"),
    ("lfo_surge\t256\t1\t", "lfo_breathe\t256\t1\t", "row 1 lfo_breathe: the name occurs twice"),
    ("lfo_surge\t256\t1\t", "single_stroke_roll\t256\t1\t", "row 1 single_stroke_roll: the name belongs to a rudiment"),
    ("lfo_surge\t256\t1\t", "lfo_surge\t300\t1\t", "row 1 lfo_surge: period 300 is not a catalogue period"),
])
def test_table_faults_name_the_row(data, tmp_path, old, new, message):
    edit(data / "catalogue.tsv", old, new)
    run = generate(data, tmp_path / "out")
    assert run.returncode == 1 and message in run.stderr
    assert not (tmp_path / "out").exists()


def test_sample_faults_name_the_row(data, tmp_path):
    edit(data / "eased_keys.toml", "[320, -0.8], [512, 0.0]]", "[320, -1.25], [512, 0.0]]")
    run = generate(data, tmp_path / "out")
    assert run.returncode == 1
    assert "row 75 env_hesitant: sample" in run.stderr and "not a finite value in [-1, 1]" in run.stderr


def test_outputs_are_rewritten_only_when_they_change(tmp_path):
    out = tmp_path / "out"
    assert generate(ROOT / "data", out).returncode == 0
    files = sorted(out.iterdir())
    assert [f.name for f in files] == ["catalogue_samples.S", "catalogue_samples.bin", "catalogue_table.cpp"]
    stamps = [f.stat().st_mtime_ns for f in files]
    assert generate(ROOT / "data", out).returncode == 0
    assert [f.stat().st_mtime_ns for f in files] == stamps
    table = (out / "catalogue_table.cpp").read_text()
    assert table.startswith("// Generated from data/ by src/catalogue/generate.py. Do not edit.")
    assert "// 1716 rows, 1022912 samples" in table and (out / "catalogue_samples.bin").stat().st_size == 24_549_888
    # Built elsewhere, the same data gives the same files: no path of this machine is written.
    assert not any(str(tmp_path).encode() in f.read_bytes() for f in files)
