"""The catalogue generator refuses faulty data, naming the row, and rewrites only what changed."""

import math
import re
import shutil
from dataclasses import replace
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
GENERATE = ROOT / "src" / "catalogue" / "generate.py"


def generate(data: Path, out: Path, *options: str):
    return subprocess.run([sys.executable, str(GENERATE), "--data", str(data), "--out", str(out),
                           *options], capture_output=True, text=True)


@pytest.fixture
def data(tmp_path):
    copy = tmp_path / "data"
    shutil.copytree(ROOT / "data", copy)
    return copy


def edit(path: Path, old: str, new: str):
    text = path.read_text(encoding="utf-8")
    assert old in text
    path.write_text(text.replace(old, new, 1), encoding="utf-8")


@pytest.mark.parametrize("path,old,new,message", [
    ("catalogue.tsv", "euclid_2_5\t160\t", "euclid_2_5\t288\t",
     "data/catalogue.tsv:214: row 212 euclid_2_5: period must be 32 pips per eighth note, 160"),
    ("catalogue.tsv", "lfo_surge\t256\t1\t", "lfo_breathe\t256\t1\t",
     "data/catalogue.tsv:3: row 1 lfo_breathe: the name occurs twice"),
    ("catalogue.tsv", "lfo_surge\t256\t1\t", "single_stroke_roll\t256\t1\t",
     "data/catalogue.tsv:3: row 1 single_stroke_roll: the name belongs to a rudiment"),
    ("catalogue.tsv", "lfo_surge\t256\t1\t", "lfo_surge\t70000\t1\t",
     "data/catalogue.tsv:3: row 1 lfo_surge: period 70000 is not 1 to 65535 pips"),
    ("catalogue.tsv", "lfo_surge\t256\t1\tx\t-\t", "lfo_surge\t256\t1\ty\t-\t",
     "data/catalogue.tsv:3: row 1 lfo_surge: moves 'y' is not a run of the axes x"),
    ("catalogue.tsv", "lfo_surge\t256\t1\tx\t-\t", "lfo_surge\t256\t1\tx\t.82\t",
     "data/catalogue.tsv:3: row 1 lfo_surge: peak '.82' is not - or a decimal in (0, 1]"),
    ("catalogue.tsv", "wave_pinched\t512\t1\tx\t0.82\t", "wave_pinched\t512\t1\tx\t0.8\t",
     "data/catalogue.tsv:54: row 52 wave_pinched: peaks at 0.82, not at the declared 0.8"),
    ("catalogue.tsv", "lfo_breathe\t256\t1\tx\t-\tyes\tlfo_sine", "lfo_breathe\t256\t1\tx\t-\tyes\tlfo_sin",
     "data/catalogue.tsv:2: row 0 lfo_breathe: there is no recipe 'lfo_sin'"),
    # Rules the data states of itself, checked before any row is computed.
    ("beat/techno_drive.toml", "bpm = 130", "bpm = nan",
     "data/beat/techno_drive.toml:6: row 644 beat_techno_drive_bounce: "
     "bpm is nan, not a tempo from 60 to 200"),
    ("mech.toml", "fall = 100", "fall = 200",
     "data/mech.toml:52: row 211 mech_cam_return: rise, dwell and fall span 410 degrees, "
     "leaving no closing dwell in the turn of 360"),
    ("silhouette.toml", "harmonics = [1, 2, 3]", "harmonics = [1, 3, 2]",
     "data/silhouette.toml:4: row 340 silhouette_harmonic_01: harmonics are [1, 3, 2], not three whole numbers a < b < c"),
    ("echo.toml", 'gaps = ["1", "2/3", "1/3"]', 'gaps = ["1", "2/3", "2/3"]',
     "data/echo.toml:6: row 517 echo_shrinking_3: the gaps of a shrinking row shrink from echo to echo"),
    ("seq.toml", "lilt = [88, 40]", "lilt = [64, 64]",
     "data/seq.toml:11: row 85 seq_up_down_lilt: lilt is [64, 64]: a lilt has long and short durations"),
    ("canon.toml", 'late = "3/2"', 'late = "1/4"',
     "data/canon.toml:7: row 500 canon_01_close: close is 1/3 and late 1/4 beats: 0 < close < late"),
    ("triplet.toml", 'offset = "1/4"', 'offset = "2/3"',
     "data/triplet.toml:8: row 580 triplet_01_answer: offset 2/3 lands on the triplet grid"),
    # A fault a recipe finds is reported at the line of the key it was reading.
    ("beat/techno_drive.toml", "[0, 1.0], [64, 1.0], [128, 1.0], [192, 1.0],",
     "[0, 1.0], [64, 1.0], [128, 1.0], [192, 1.5],",
     "data/beat/techno_drive.toml:9: row 644 beat_techno_drive_bounce: score techno_drive: "
     "lane kick: hit [192, 1.5] is outside the loop or its velocity outside (0, 1]"),
])
def test_data_faults_name_the_line_and_the_row(data, tmp_path, path, old, new, message):
    edit(data / path, old, new)
    # One worker: with more, the first row to fail may be any of the style's rows.
    run = generate(data, tmp_path / "out", "--jobs", "1")
    assert run.returncode == 1
    assert run.stderr.startswith(f"src/catalogue/generate.py: {message}\n"), run.stderr
    assert not (tmp_path / "out").exists()


@pytest.mark.slow
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


def test_recipes_and_data_files_must_match(data, catalogue_table):
    import generate
    from catalogue_data import DataError

    (data / "packet.toml").rename(data / "packets.toml")
    with pytest.raises(DataError) as fault:
        generate.check_recipes(catalogue_table, data)
    assert str(fault.value).split("\n  ") == [
        "recipe packet: data/packet.toml is absent", "data/packets.toml belongs to no recipe"]


@pytest.fixture
def packet_data(tmp_path):
    """A data folder with only the file that the packet_ rows read."""
    folder = tmp_path / "data"
    folder.mkdir()
    shutil.copy(ROOT / "data" / "packet.toml", folder)
    return folder


@pytest.mark.parametrize("old,new,message", [
    ("packet_alternating_2 = { width", "packet_alternating_2 = { wide",
     "data/packet.toml:6: row 484 packet_alternating_2: [packet_alternating_2] has no key 'width'"),
    ("tilt = 0.5 }", "tilt = 0.5, twist = 1.0 }",
     "data/packet.toml:7: key packet_cascading_2.twist is read by no row"),
    ("packet_crossing_2 =", "packet_crossed_2 =",
     "data/packet.toml:1: row 486 packet_crossing_2: there is no table [packet_crossing_2]"),
    ("packet_crossing_2 =", "packet_spare = { width = 0.5 }\npacket_crossing_2 =",
     "data/packet.toml:8: table [packet_spare] is read by no row"),
])
def test_parameter_faults_name_the_file_and_key(packet_data, catalogue_table, old, new, message):
    import generate
    from catalogue_data import DataError

    edit(packet_data / "packet.toml", old, new)
    rows = [r for r in catalogue_table if r.recipe == "packet"]
    with pytest.raises(DataError, match=re.escape(message)):
        generate.compute_all(rows, packet_data, jobs=1)


def test_an_absent_score_file_names_the_row_and_the_file(tmp_path, catalogue_table):
    import generate
    from catalogue_data import DataError

    shutil.copytree(ROOT / "data" / "beat", tmp_path / "beat")
    (tmp_path / "beat" / "afro_bell.toml").unlink()
    row = next(r for r in catalogue_table if r.name == "beat_afro_bell_surge")
    with pytest.raises(DataError, match=f"row {row.index} beat_afro_bell_surge: "
                                        "data/beat/afro_bell.toml is absent"):
        generate.compute_row(row, tmp_path)


def _loop(x, y=lambda k: 0.0, z=lambda k: 0.0):
    return [(round(x(k), 12), round(y(k), 12), z(k)) for k in range(256)]


def _wave(k):
    return 0.5 * math.sin(2 * math.pi * k / 256)


@pytest.mark.parametrize("dimensions,moves,peak,samples,message", [
    (2, "", None, _loop(_wave, _wave), None),
    (1, "", None, _loop(lambda k: -0.4 if k == 100 else _wave(k)), "axis x steps 0.7\\d+ from pip 99 to pip 100"),
    (1, "", None, _loop(lambda k: -0.5 + k / 256), "axis x steps 0.99\\d+ from pip 255 to pip 0"),
    (2, "", None, _loop(_wave, lambda k: 0.01 * _wave(k)), "axis y spans only 0.01, less than 0.05"),
    (2, "", None, _loop(_wave, _wave, lambda k: -0.0), "sample 0 axis z is -0.0 beyond the row's dimensions"),
    (2, "", None, _loop(_wave, _wave, lambda k: 0.1 if k == 9 else 0.0), "sample 9 axis z is 0.1 beyond"),
    (1, "", None, _loop(lambda k: -0.95 if k == 0 else 0.0), "sample 0 axis x is -0.95, not a finite value in \\[-0.92, 1.0\\]"),
    # What the row's line declares: the axes that move, and its peak.
    (2, "y", None, _loop(lambda k: 0.0, _wave), None),
    (2, "y", None, _loop(_wave, _wave), "axis x moves, but the row moves only y"),
    (2, "", None, _loop(lambda k: 0.0, _wave), "axis x never moves"),
    (1, "", 0.5, _loop(_wave), None),
    (1, "", 0.82, _loop(_wave), "peaks at 0.5, not at the declared 0.82"),
    (1, "", None, _loop(lambda k: 1.64 * _wave(k)), "peaks at exactly 0.82, the scaled families' peak, without declaring it"),
])
def test_samples_keep_the_bar_and_what_the_row_declares(dimensions, moves, peak, samples, message):
    import checks
    from catalogue_data import Row

    row = Row(7, "test_pattern", 256, dimensions, "test", "A test.", moves, peak)
    if message is None:
        checks.check_samples(row, samples)
        return
    with pytest.raises(checks.CatalogueError, match=f"data/catalogue.tsv:9: row 7 test_pattern: {message}"):
        checks.check_samples(row, samples)
    if "steps" in message:
        checks.check_samples(replace(row, rule=True), samples)  # a closed rule fixes its own samples


def test_only_the_data_states_defaults(packet_data, catalogue_table):
    import generate
    from catalogue_data import DataError

    rows = [r for r in catalogue_table if r.recipe == "packet"]
    stated = generate.compute_all(rows, packet_data, jobs=1)
    edit(packet_data / "packet.toml", ", tilt = 0.5 }", " }")
    with (packet_data / "packet.toml").open("a") as f:
        f.write("\n[defaults]\ntilt = 0.5\nwidth = 0.7\n")
    with pytest.raises(DataError, match=re.escape("key defaults.width is read by no row")):
        generate.compute_all(rows, packet_data, jobs=1)
    edit(packet_data / "packet.toml", "width = 0.7\n", "")
    assert generate.compute_all(rows, packet_data, jobs=1) == stated


def test_a_change_names_the_rows_it_moved_and_no_others(packet_data, catalogue_table):
    import generate
    import generated_sources as out

    rows = [r for r in catalogue_table if r.recipe == "packet"]
    before = out.read_digest_list(out.digest_list(zip(rows, generate.compute_all(rows, packet_data, 1))))
    assert list(before) == [r.name for r in rows]
    edit(packet_data / "packet.toml", "tilt = 0.5 }", "tilt = 0.45 }")
    after = out.read_digest_list(out.digest_list(zip(rows, generate.compute_all(rows, packet_data, 1))))
    assert out.moved_rows(before, after) == ["packet_cascading_2 moved"]
    assert out.moved_rows(after, {**after, "packet_new_2": "0" * 32}) == ["packet_new_2 added"]


def test_every_key_of_the_data_is_found_on_its_line():
    import tomllib

    from params import key_paths, line_of

    for path in sorted((ROOT / "data").rglob("*.toml")):
        lines = path.read_text(encoding="utf-8").splitlines()
        values = tomllib.loads(path.read_text(encoding="utf-8"))
        for keys in key_paths(values):
            name = [k for k in keys if isinstance(k, str)][-1]
            line = lines[line_of(path, keys) - 1].split("#", 1)[0]
            # The line writes the key: as a key, or as a part of a table's header.
            assert re.search(rf'(^|[\s.\[{{,"]){re.escape(name)}"?\s*[=\].]', line), (path.name, keys, line)


def test_a_faulty_row_stops_every_worker(packet_data, catalogue_table):
    import multiprocessing

    import generate
    from catalogue_data import DataError

    edit(packet_data / "packet.toml", "packet_alternating_2 = { width", "packet_alternating_2 = { wide")
    rows = [r for r in catalogue_table if r.recipe == "packet"]
    stop = multiprocessing.Event()
    generate._param_file.cache_clear()
    generate._start_worker(stop)
    try:
        with pytest.raises(DataError, match="row 484 packet_alternating_2"):
            generate._compute_chunk((rows, packet_data))
        assert stop.is_set()
        # The other workers see it before their next row.
        assert generate._compute_chunk((rows[1:], packet_data))[0] == []
    finally:
        generate._start_worker(None)
    with pytest.raises(DataError, match="row 484 packet_alternating_2"):
        generate.compute_all(rows, packet_data, jobs=2)
