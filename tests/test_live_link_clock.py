"""Network tempo sync with real peers, each inside a network namespace the test makes, so that
discovery traffic never leaves it. Nothing here imports the sync library itself."""

import importlib.util
import json
import shutil
import subprocess
import sys
from fractions import Fraction as F
from pathlib import Path

import pytest


ROOT = Path(__file__).resolve().parent.parent
SESSION = ROOT / "tests" / "link_session.py"
# Loopback with multicast, and a route for it, is all the session needs.
NAMESPACE = ("ip link set lo up && ip link set lo multicast on && "
             "ip route add 224.0.0.0/4 dev lo && exec \"$0\" \"$@\"")


def namespace_refusal() -> str | None:
    if importlib.util.find_spec("link") is None:
        return "the network tempo library (the live extra) is not installed"
    if not (shutil.which("unshare") and shutil.which("ip")):
        return "unshare or ip is missing"
    probe = subprocess.run(["unshare", "--net", "sh", "-c", NAMESPACE, "true"],
                           capture_output=True, text=True)
    if probe.returncode:
        return f"cannot make a network namespace: {probe.stderr.strip()}"
    return None


refusal = namespace_refusal()
pytestmark = [pytest.mark.skipif(refusal is not None, reason=refusal or ""), pytest.mark.slow]


def session(*args):
    done = subprocess.run(["unshare", "--net", "sh", "-c", NAMESPACE, sys.executable,
                           str(SESSION), *args], capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout.splitlines()[-1])


def test_joining_keeps_the_session_tempo_and_foreign_changes_are_followed_without_a_jump():
    result = session("follow")
    assert F(result["joined"]) == 120 and result["foreign_after_join"] == 120
    assert F(result["final"]) == 100
    reads = [(F(t), F(b), F(bpm)) for t, b, bpm in result["reads"]]
    # A change reaches us some milliseconds after the peer made it (longer on a busy
    # machine); until then we count on at the old tempo, so the session's beat is ahead of
    # ours by that delay times the rise in tempo. That much may come at once, in the step
    # around the first read that shows the new tempo; nothing else may.
    catch_up = {}
    for made in map(F, result["changes"]):
        seen = next(i for i, (t, _, bpm) in enumerate(reads)
                    if t > made and bpm != reads[i - 1][2])
        rise = max(0, reads[seen][2] - reads[seen - 1][2])
        delay = reads[min(seen + 1, len(reads) - 1)][0] - made
        for i in (seen - 1, seen):
            catch_up[i] = delay * rise / 60
    for i, ((t0, b0, _), (t1, b1, _)) in enumerate(zip(reads, reads[1:])):
        # never back, and never further than the faster tempo moves, give or take less than
        # a pip of the session's time estimate
        assert 0 <= b1 - b0 < (t1 - t0) * 150 / 60 + F(1, 64) + catch_up.get(i, 0), (i, t1 - t0)
    for seconds in (reads[549][0], reads[-1][0]):
        late = [(t, b) for t, b, _ in reads if seconds - F(1, 2) < t <= seconds]
        rate = (late[-1][1] - late[0][1]) / (late[-1][0] - late[0][0]) * 60
        assert rate == pytest.approx(150 if seconds != reads[-1][0] else 100, abs=1)


def test_two_instances_render_every_fixture_at_the_same_pip():
    from kinetra_live.show import load_show

    path = ROOT / "examples" / "shows" / "club.toml"
    show = load_show(path)
    loops = {f.name: show.loop_beats(f.pattern) * 64 for f in show.fixtures}
    first, second = session("pair", str(path))
    assert F(first["bpm"]) == F(second["bpm"]) == 120
    # beat counts may differ by whole quanta; the place in every fixture's loop may not
    for frame_a, frame_b in zip(first["fixtures"], second["fixtures"]):
        for (name, pip_a, raw_a), (name_b, pip_b, raw_b) in zip(frame_a, frame_b):
            assert name == name_b
            distance = (pip_a - pip_b) % loops[name]
            assert min(distance, loops[name] - distance) <= 1
            assert distance or raw_a == raw_b


def test_joining_while_running_bends_onto_the_session_phase_within_a_bar():
    result = session("join", "4")
    reads = [(F(t), F(b)) for t, b in result["reads"]]
    assert result["alone"] > 1          # the clock ran alone before it found the session
    for (t0, b0), (t1, b1) in zip(reads, reads[1:]):
        # at 120 BPM bent by at most half: never back, never a jump
        assert 0 <= b1 - b0 <= (t1 - t0) * 3 + F(1, 64)
    for (t0, b0), (t1, b1) in zip(reads, reads[20:]):
        assert b1 - b0 >= (t1 - t0) * F(9, 10)      # never still: at least half speed
    # more than a bar after joining, every peer is on one phase of the quantum
    gap = (F(result["ours"]) - F(result["theirs"])) % 4
    assert min(gap, 4 - gap) < F(1, 64)
