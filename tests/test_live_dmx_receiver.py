"""End to end against a real DMX receiver: olad receives the sACN and Art-Net that `run`
sends, inside network and mount namespaces the test makes, and reports the DMX that `render`
says was sent."""

import csv
import importlib.util
import json
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
SESSION = ROOT / "tests" / "dmx_receiver_session.py"
OFL = Path("/work/shared/fixtures/ofl/fixtures")


def refusal() -> str | None:
    if importlib.util.find_spec("pyartnet") is None:
        return "pyartnet (the live extra) is not installed"
    missing = [tool for tool in ("unshare", "ip", "setpriv", "olad", "ola_patch", "ola_dev_info")
               if shutil.which(tool) is None]
    if missing:
        return f"{', '.join(missing)} missing (Debian packages ola, util-linux, iproute2)"
    if not OFL.is_dir():
        return f"the fixture library files are not at {OFL}"
    try:
        import pwd
        pwd.getpwnam("olad")
    except KeyError:
        return "no olad user (Debian's ola package makes it)"
    probe = subprocess.run(["unshare", "--net", "--mount", "sh", "-c",
                            "ip link add kv0 type veth peer name kv1 && "
                            "mount -t tmpfs tmpfs /mnt"], capture_output=True, text=True)
    if probe.returncode:
        return f"cannot make network and mount namespaces: {probe.stderr.strip()}"
    return None


reason = refusal()
pytestmark = pytest.mark.skipif(reason is not None, reason=reason or "")

# Every fixture stands still (speed 1/1000000 for a second of show), so every frame `run`
# sends is frame 0 of the render.
SHOW = f"""
fps = 30
on_stop = "park"
[clock]
bpm = 120
[[fixture]]
name = "spot"
pattern = "circle"
speed = "1/1000000"
phase_pips = 5
profile = "{OFL}/pr-lighting/xs-250-spot.json"
mode = "Standard"
universe = 1
address = 101
hang = "truss"
pan_degrees = [90, 450]
limits = {{ pan = [100, 440], tilt = [30, 240] }}
[[fixture]]
name = "short"
pattern = "figure_eight"
speed = "1/1000000"
phase_pips = 11
profile = "{OFL}/pr-lighting/xs-250-spot.json"
mode = "Short"
universe = 1
address = 201
[[fixture]]
name = "aimed"
pattern = "circle"
speed = "1/1000000"
phase_pips = 21
profile = "{OFL}/martin/mac-700-wash.json"
mode = "Basic 16-channel"
universe = 1
address = 301
position = [-4, 3, 6]
hang = "truss"
aim = {{ at = [0, 2, 0], size = [2, 2, 0] }}
[[fixture]]
name = "old"
pattern = "circle"
speed = "1/1000000"
phase_pips = 9
dmx = {{ universe = 2, pan = 1, tilt = 3, bits = 16 }}
[[fixture]]
name = "wash"
pattern = "circle"
speed = "1/1000000"
phase_pips = 40
profile = "{OFL}/robe/robin-300e-wash.json"
mode = "1st"
universe = 2
address = 11
[[output]]
kind = "sacn"
address = "127.0.0.2"
universe = 1
[[output]]
kind = "artnet"
address = "127.0.0.2"
universe = 2
"""

# fixture: (universe, output, pan channels, tilt channels), coarse first, as the fixture
# files' modes place them
CHANNELS = {"spot": (1, "sacn", (111, 112), (113, 114)), "short": (1, "sacn", (210,), (211,)),
            "aimed": (1, "sacn", (311, 312), (313, 314)), "old": (2, "artnet", (1, 2), (3, 4)),
            "wash": (2, "artnet", (11, 12), (13, 14))}


def test_olad_receives_what_render_says_was_sent(tmp_path):
    show = tmp_path / "show.toml"
    show.write_text(SHOW)
    rendered = subprocess.run([sys.executable, "-m", "kinetra_live", "render", str(show),
                               "--seconds", "1", "--fps", "30"], capture_output=True, text=True,
                              check=True).stdout.splitlines()
    table = list(csv.DictReader(rendered))
    expected = {1: [0] * 512, 2: [0] * 512}
    for row in table[:len(CHANNELS)]:
        universe, output, pan, tilt = CHANNELS[row["fixture"]]
        for channels, value in ((pan, int(row[f"{output}.pan"])),
                                (tilt, int(row[f"{output}.tilt"]))):
            if len(channels) == 2:
                expected[universe][channels[0] - 1] = value >> 8
                expected[universe][channels[1] - 1] = value & 0xFF
            else:
                expected[universe][channels[0] - 1] = value
    # every frame of the render is frame 0: nothing moves
    assert {tuple(r[k] for k in r if k not in ("frame", "seconds", "pip")) for r in table} == \
        {tuple(r[k] for k in r if k not in ("frame", "seconds", "pip")) for r in table[:5]}
    done = subprocess.run(["unshare", "--net", "--mount", sys.executable, str(SESSION),
                           str(show), "1", "2"], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    result = json.loads(done.stdout.splitlines()[-1])
    assert result["run_status"] == 0, result["run_stderr"]
    for universe, values in expected.items():
        received = result["universes"][str(universe)]
        assert received + [0] * (512 - len(received)) == values, universe
    # parked at (0, 0, 0): the middle of each range, 32768 (0x8000) in 16 bits
    assert result["parked"]["1"][110:114] == [0x80, 0x00, 0x80, 0x00]
    assert result["parked"]["2"][0:4] == [0x80, 0x00, 0x80, 0x00]
