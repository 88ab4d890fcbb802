"""render --format gltf|midi --out: files read back with their own libraries agree with the CSV."""

import argparse
import csv
import errno
import io
import json
import math
import os
import shutil
import signal
import struct
import subprocess
import sys
import time
import tracemalloc
from array import array
from fractions import Fraction
from pathlib import Path

import pytest

from kinetra_live import aiming, exports, render
from kinetra_live.exports import atomic, midi_file
from kinetra_live.show import load_show

pygltflib = pytest.importorskip("pygltflib", reason="glTF export needs the live extra")
mido = pytest.importorskip("mido", reason="MIDI export needs the live extra")

ROOT = Path(__file__).resolve().parent.parent
WASH = ROOT / "examples" / "fixtures" / "mac-700-wash.json"
SPOT = ROOT / "examples" / "fixtures" / "xs-250-spot.json"
SIZE = (4.0, 2.0, 0.5)
FPS = 50
# A tempo change off the 960 grid (7 does not divide it) and a tempo of no whole microseconds.
SHOW = f"""fps = {FPS}
[clock]
bpm = 124
tempo_changes = [["33/7", "127.5"]]
[export]
size = {list(SIZE)}
[[fixture]]
name = "wash"
pattern = "figure_eight"
scale = [0.8, 0.5, 1.0]
invert = [true, false, false]
rotate_degrees = 30
midi = {{ channel = 3, cc = [20, 21, 22], bits = 14 }}
[[fixture]]
name = "dot"
pattern = "circle"
speed = "3/2"
midi = {{ channel = 4, cc = [7], bits = 7 }}
[[fixture]]
name = "truss"
pattern = "circle"
profile = "{WASH}"
mode = "Basic 16-channel"
universe = 1
address = 17
hang = "truss"
position = [-3, 4, 6]
aim = {{ at = [0, 2, 0], size = [1.5, 1.5, 0] }}
[[fixture]]
name = "floor"
pattern = "figure_eight"
profile = "{SPOT}"
mode = "Standard"
universe = 1
address = 1
pan_degrees = [220, 320]
[[output]]
kind = "osc"
address = "127.0.0.1:9000"
[[output]]
kind = "sacn"
name = "stage"
address = "127.0.0.1"
[[output]]
kind = "midi"
address = "any"
"""


@pytest.fixture
def show_file(tmp_path):
    path = tmp_path / "show.toml"
    path.write_text(SHOW)
    return path


def rendered(capsys, *argv):
    parser = argparse.ArgumentParser()
    render.add_arguments(parser)
    status = render.main(parser.parse_args([str(a) for a in argv]))
    out, err = capsys.readouterr()
    return status, out, err


def csv_frames(capsys, show_file, seconds):
    """{(frame, fixture): CSV row as a dict}."""
    status, out, _ = rendered(capsys, show_file, "--seconds", seconds)
    assert status == 0
    return {(int(row["frame"]), row["fixture"]): row for row in csv.DictReader(io.StringIO(out))}


def float32_step(value):
    bits = struct.unpack("<I", struct.pack("<f", value))[0] & 0x7FFFFFFF
    return struct.unpack("<f", struct.pack("<I", bits + 1))[0] - abs(
        struct.unpack("<f", struct.pack("<f", value))[0])


def accessor_rows(document, index):
    accessor = document.accessors[index]
    view = document.bufferViews[accessor.bufferView]
    uri = document.buffers[0].uri
    data = document.binary_blob() if uri is None else document.get_data_from_buffer_uri(uri)
    values = array("f", data[view.byteOffset:view.byteOffset + view.byteLength])
    width = {"SCALAR": 1, "VEC3": 3, "VEC4": 4}[accessor.type]
    assert len(values) == accessor.count * width
    return [tuple(values[k:k + width]) for k in range(0, len(values), width)]


def rotate(q, v):
    x, y, z, w = q
    # v + 2 w (u x v) + 2 u x (u x v), u the vector part
    cx, cy, cz = y * v[2] - z * v[1], z * v[0] - x * v[2], x * v[1] - y * v[0]
    dx, dy, dz = y * cz - z * cy, z * cx - x * cz, x * cy - y * cx
    return (v[0] + 2 * (w * cx + dx), v[1] + 2 * (w * cy + dy), v[2] + 2 * (w * cz + dz))


@pytest.mark.parametrize("suffix", [".glb", ".gltf"])
def test_gltf_holds_every_frame_at_its_time_where_the_render_puts_it(capsys, show_file, suffix):
    out = show_file.with_suffix(suffix)
    status, _, err = rendered(capsys, show_file, "--seconds", 3, "--format", "gltf",
                              "--out", out)
    assert (status, err) == (0, "")
    document = pygltflib.GLTF2().load(str(out))
    show = load_show(show_file)
    assert [node.name for node in document.nodes] == [f.name for f in show.fixtures]
    assert document.scenes[document.scene].nodes == list(range(len(show.fixtures)))
    (animation,) = document.animations
    table = csv_frames(capsys, show_file, 3)
    count = 3 * FPS
    by_target = {}
    for channel in animation.channels:
        sampler = animation.samplers[channel.sampler]
        times = [t for (t,) in accessor_rows(document, sampler.input)]
        assert times == [struct.unpack("<f", struct.pack("<f", n / FPS))[0]
                         for n in range(count)]
        by_target[document.nodes[channel.target.node].name, channel.target.path] = \
            accessor_rows(document, sampler.output)
    assert set(by_target) == {(f.name, "translation") for f in show.fixtures} | {
        ("truss", "rotation"), ("floor", "rotation")}
    for fixture in show.fixtures:
        for n, value in enumerate(by_target[fixture.name, "translation"]):
            row = table[n, fixture.name]
            sent = [float(row["osc.x"]) * SIZE[0], -float(row["osc.y"]) * SIZE[1],
                    float(row["osc.z"]) * SIZE[2]]
            assert all(abs(a - b) <= float32_step(b) for a, b in zip(value, sent)), (n, fixture)
    heads = {f.name: f.head for f in show.fixtures if f.head is not None}
    for name, head in heads.items():
        rotations = by_target[name, "rotation"]
        for n, q in enumerate(rotations):
            row = table[n, name]
            sx, sy, sz = aiming.beam(float(row["stage.pan_deg"]), float(row["stage.tilt_deg"]),
                                     head.pan.span, head.tilt.span, head.hang)
            # the node's -z is the beam, the stage's (x, y, z) is glTF's (x, z, -y)
            assert math.dist(rotate(q, (0, 0, -1)), (sx, sz, -sy)) < 1e-6
            # never the long way round between two frames
            assert n == 0 or sum(a * b for a, b in zip(q, rotations[n - 1])) > 0
    # an aimed head's beam goes through its target
    head, position = heads["truss"], (-3, 4, 6)
    for n, q in enumerate(by_target["truss", "rotation"]):
        row = table[n, "truss"]
        target = [a + float(row[f"osc.{axis}"]) * s
                  for a, axis, s in zip(head.aim.at, "xyz", head.aim.size)]
        bx, by, bz = rotate(q, (0, 0, -1))
        towards = [t - p for t, p in zip(target, position)]
        length = math.hypot(*towards)
        assert math.dist((bx, -bz, by), [t / length for t in towards]) < 1e-5


THREE = Path("/usr/share/javascript/three")
PLAY = f"""const fs = require("fs"), vm = require("vm");
global.THREE = require("{THREE}/build/three.js");
vm.runInThisContext(fs.readFileSync("{THREE}/examples/js/loaders/GLTFLoader.js", "utf8"));
const data = fs.readFileSync(process.argv[2]);
new THREE.GLTFLoader().parse(data.buffer.slice(data.byteOffset, data.byteOffset + data.length),
                             "", (gltf) => {{
  const mixer = new THREE.AnimationMixer(gltf.scene);
  mixer.clipAction(gltf.animations[0]).play();
  console.log(JSON.stringify(JSON.parse(process.argv[3]).map((t) => {{
    mixer.setTime(t);
    return gltf.scene.children.map((n) => [n.name, ...n.position.toArray(),
                                           ...n.quaternion.toArray()]);
  }})));
}}, (error) => {{ console.error(error); process.exit(1); }});
"""


@pytest.mark.skipif(not (shutil.which("node") and (THREE / "build" / "three.js").exists()),
                    reason="needs node and Debian's libjs-three")
def test_three_js_plays_the_gltf_at_the_frame_times(capsys, show_file):
    out = show_file.with_suffix(".glb")
    assert rendered(capsys, show_file, "--seconds", 2, "--format", "gltf", "--out", out)[0] == 0
    document = pygltflib.GLTF2().load(str(out))
    samplers = document.animations[0].samplers
    frames = [0, 1, 37, 99]
    # a script of its own: `node -e` would give the loader a module scope it does not expect
    play = show_file.with_name("play.js")
    play.write_text(PLAY)
    played = json.loads(subprocess.run(
        ["node", str(play), str(out), json.dumps([n / FPS for n in frames])],
        capture_output=True, text=True, check=True).stdout)
    for channel in document.animations[0].channels:
        node, path = channel.target.node, channel.target.path
        values = accessor_rows(document, samplers[channel.sampler].output)
        for n, scene in zip(frames, played):
            got = scene[node][1:4] if path == "translation" else scene[node][4:]
            assert scene[node][0] == document.nodes[node].name
            assert all(abs(a - b) < 1e-6 for a, b in zip(got, values[n])), (n, node, path)


def test_a_midi_file_carries_the_tempo_map_and_the_csv_values(capsys, show_file):
    out = show_file.with_name("show.mid")
    status, _, err = rendered(capsys, show_file, "--seconds", 4, "--format", "midi",
                              "--out", out)
    assert (status, err) == (0, "")
    table = csv_frames(capsys, show_file, 4)
    song = mido.MidiFile(out)
    assert song.type == 1 and song.ticks_per_beat == 6720      # 960 and the 7 of 33/7
    tempo, *tracks = song.tracks
    ticks, tempos = 0, []
    for message in tempo:
        ticks += message.time
        if message.type == "set_tempo":
            tempos.append((ticks, message.tempo))
    assert tempos == [(0, 483871), (33 * 960, 470588)]
    assert [track.name for track in tracks] == ["wash", "dot"]
    patches = {"wash": (2, [20, 21, 22], 14), "dot": (3, [7], 7)}
    # every message at its frame's time, the state after each frame the CSV's values
    now, changes = 0.0, {}
    for message in song:
        now += message.time
        if message.type == "control_change":
            n = round(now * FPS)
            assert abs(now - n / FPS) < 1e-3
            changes.setdefault(n, []).append(message)
    held, last = {}, {}
    for n in range(4 * FPS):
        for message in changes.get(n, []):
            held[message.channel, message.control] = message.value
        changed = 0
        for name, (channel, ccs, bits) in patches.items():
            values = [held[channel, cc] << 7 | held[channel, cc + 32] if bits == 14
                      else held[channel, cc] for cc in ccs]
            assert " ".join(map(str, values)) == table[n, name]["midi.values"], (n, name)
            changed += sum(a != b for a, b in zip(values, last.get(name, [None] * 3))) * (bits // 7)
            last[name] = values
        # sent only on a change, a 14-bit value as its pair
        assert len(changes.get(n, [])) == changed, n


def test_exports_say_what_is_wrong_in_one_line(capsys, show_file, tmp_path):
    slow = tmp_path / "slow.toml"
    slow.write_text(SHOW.replace("bpm = 124", "bpm = 2"))
    nowhere = tmp_path / "nowhere" / "x.mid"
    for show, argv, message in [
            (show_file, ["--format", "gltf"],
             "--out: a gltf export is written to a file: give --out FILE.glb or FILE.gltf"),
            (show_file, ["--format", "gltf", "--out", tmp_path / "x.obj"],
             "--out: a glTF export is .glb (binary) or .gltf (text), got 'x.obj'"),
            (show_file, ["--format", "midi", "--out", nowhere],
             f"--out: {nowhere}: No such file or directory"),
            (show_file, ["--seconds", 40000, "--format", "gltf", "--out", tmp_path / "x.glb"],
             "--seconds: a glTF export holds every frame, 84 bytes a frame for this show, "
             "and at most 128 MiB: at most 1597830 frames (31956 seconds at 50 fps)"),
            (slow, ["--format", "midi", "--out", tmp_path / "x.mid"],
             "clock.bpm: a MIDI file holds tempos of at least 3.58 BPM, got 2")]:
        if "--seconds" not in argv:
            argv = ["--seconds", 1, *argv]
        status, out, err = rendered(capsys, show, *argv)
        assert (status, out, err) == (2, "", f"render: {message}\n")
    assert sorted(os.listdir(tmp_path)) == ["show.toml", "slow.toml"]


@pytest.mark.parametrize("fmt, suffix", [("csv", ".csv"), ("gltf", ".glb"), ("midi", ".mid")])
def test_an_export_that_fails_mid_write_leaves_the_target_as_it_was(
        capsys, show_file, monkeypatch, fmt, suffix):
    out = show_file.with_name(f"old{suffix}")
    out.write_bytes(b"the last good render")

    class FullDisk(io.FileIO):
        room = 500

        def write(self, data):
            if self.room <= 0:
                raise OSError(errno.ENOSPC, "No space left on device")
            written = super().write(bytes(data)[:self.room])
            self.room -= written
            return written

    monkeypatch.setattr(atomic.os, "fdopen", lambda fd, mode, closefd: io.BufferedWriter(
        FullDisk(fd, mode, closefd=closefd), buffer_size=64))
    status, _, err = rendered(capsys, show_file, "--seconds", 1, "--format", fmt, "--out", out)
    assert (status, err) == (2, f"render: --out: {out}: No space left on device\n")
    assert out.read_bytes() == b"the last good render"
    assert sorted(os.listdir(out.parent)) == ["old" + suffix, "show.toml"]


def test_a_terminated_export_leaves_nothing_behind(show_file):
    out = show_file.with_name("long.mid")
    child = subprocess.Popen([sys.executable, "-m", "kinetra_live", "render", str(show_file),
                              "--seconds", "600", "--fps", "1000", "--format", "midi",
                              "--out", str(out)], stderr=subprocess.PIPE, text=True,
                             env={**os.environ, "PYTHONPATH": str(ROOT / "python")})
    try:
        while not any(name.endswith(".part") for name in os.listdir(show_file.parent)):
            assert child.poll() is None, child.stderr.read()
            time.sleep(0.01)
        child.send_signal(signal.SIGTERM)
        err = child.communicate(timeout=120)[1]
    finally:
        child.kill()
    assert child.returncode == 128 + signal.SIGTERM
    assert err == f"render: interrupted; {out} was not written\n"
    assert os.listdir(show_file.parent) == ["show.toml"]


@pytest.mark.parametrize("fmt", ["csv", "midi"])
def test_file_exports_stream_their_frames(show_file, monkeypatch, fmt):
    # spool in small chunks, so a short render already goes through the scratch file
    monkeypatch.setattr(midi_file, "SPOOL_CHUNK", 1024)
    show = load_show(show_file)
    parser = argparse.ArgumentParser()
    render.add_arguments(parser)
    growth = []
    tracemalloc.start()
    try:
        # the first render fills the interpreter's free lists, which the others then reuse
        for seconds in (10, 2, 10):
            args = parser.parse_args([str(show_file), "--seconds", str(seconds), "--fps", "200",
                                      "--format", fmt, "--out",
                                      str(show_file.with_name(f"out.{fmt}"))])
            before = tracemalloc.get_traced_memory()[0]
            tracemalloc.reset_peak()
            assert exports.main(show, args, 200, None) == 0
            growth.append(tracemalloc.get_traced_memory()[1] - before)
    finally:
        tracemalloc.stop()
    assert growth[2] <= 1.2 * growth[1], growth
