"""Moving heads: real fixture profiles read as they are, degrees, limits, hanging and aiming."""

import json
import math
import subprocess
import sys
from pathlib import Path

import pytest
from hypothesis import given, settings, strategies as st

from kinetra_live import aiming
from kinetra_live.fixture_profiles import ProfileError, read_profile
from kinetra_live.outputs.degrees import HeadRig, dmx_bytes
from kinetra_live.render import rows
from kinetra_live.sampler import Frame, FixtureState
from kinetra_live.show import ShowError, parse_show

OFL = Path("/work/shared/fixtures/ofl")
pytestmark = pytest.mark.skipif(not OFL.is_dir(), reason=f"the fixture library files are not "
                                                          f"at {OFL}")

# file: (pan degrees, tilt degrees), {mode: (channels, pan, pan fine, tilt, tilt fine)}
HEADS = {
    "pr-lighting/xs-250-spot": ((540, 270), {"Standard": (16, 11, 12, 13, 14),
                                             "Extended": (18, 13, 14, 15, 16),
                                             "Short": (12, 10, None, 11, None)}),
    "martin/mac-700-wash": ((540, 246), {"Basic 16-channel": (16, 11, 12, 13, 14),
                                         "Extended 23-channel": (23, 18, 19, 20, 21)}),
    "cameo/auro-spot-300": ((630, 235), {"15-channel": (15, 1, 2, 3, 4),
                                         "24-channel": (24, 1, 2, 3, 4)}),
    "prolights/diamond19": ((630, 265), {"Standard": (19, 1, None, 2, None),
                                         "Basic 8-bit": (18, 1, None, 2, None),
                                         "Basic 16-bit": (20, 1, 2, 3, 4),
                                         "Extended 1": (32, 1, 2, 3, 4),
                                         "Extended 2": (98, 1, 2, 3, 4)}),
    "eliminator/stealth-beam": ((540, 270), {"5-channel": (5, 1, None, 2, None)}),
    "clay-paky/sharpy": ((540, 250), {"Standard": (16, 10, 11, 12, 13),
                                      "Vector": (20, 10, 11, 12, 13)}),
    "robe/robin-300e-wash": ((540, 260), {"1st": (20, 1, 2, 3, 4), "2nd": (17, 1, 2, 3, 4),
                                          "3rd": (15, 1, None, 2, None)}),
}


@pytest.mark.parametrize("folder", ["fixtures", "legacy/fixtures"])
def test_real_profiles_give_each_modes_channels_and_ranges(folder):
    for name, ((pan_span, tilt_span), modes) in HEADS.items():
        for mode, expected in modes.items():
            profile = read_profile(OFL / folder / f"{name}.json", mode)
            assert (profile.channel_count, profile.pan.channel, profile.pan.fine,
                    profile.tilt.channel, profile.tilt.fine) == expected, (name, mode)
            assert (profile.pan.degrees, profile.tilt.degrees) == (pan_span, tilt_span)


@pytest.mark.parametrize("name, mode, reason", [
    ("cameo/auro-spot-300", "5-channel", "no pan channel"),
    ("elation/platinum-seven", "Basic", "pan is given only in percent, not degrees; "
                                        "give pan_max in degrees"),
    ("eliminator/stealth-beam", "17-channel", "endless pan (PanContinuous) in this mode; "
                                              "give pan_max in degrees"),
    ("robe/robin-300e-wash", "4th", "no mode '4th' (modes: '1st', '2nd', '3rd')"),
])
def test_a_head_that_cannot_be_driven_is_refused_with_file_mode_and_reason(name, mode, reason):
    path = OFL / "fixtures" / f"{name}.json"
    with pytest.raises(ShowError) as caught:
        parse_show(show(profile=str(path), mode=mode))
    where = "" if reason.startswith("no mode") else f" mode {mode!r}:"
    assert str(caught.value) == f"fixture[0].profile: {path}:{where} {reason}"


def test_the_show_gives_the_range_a_profile_lacks():
    path = OFL / "fixtures/elation/platinum-seven.json"
    head = parse_show(show(profile=str(path), mode="Extended", pan_max=540,
                           tilt_max=270)).fixtures[0].head
    assert (head.pan.span, head.tilt.span, head.profile.channel_count) == (540, 270, 40)
    head = parse_show(show(profile=str(OFL / "fixtures/eliminator/stealth-beam.json"),
                           mode="17-channel", pan_max=540)).fixtures[0].head
    assert (head.pan.channel, head.pan.fine, head.tilt.span) == (101, 102, 270)


def test_older_files_give_the_range_in_physical_focus(tmp_path):
    data = json.loads((OFL / "legacy/fixtures/clay-paky/sharpy.json").read_text())
    for key in ("Pan", "Tilt"):
        data["availableChannels"][key]["capability"].update(angleStart="0%", angleEnd="100%")
    path = tmp_path / "sharpy.json"
    path.write_text(json.dumps(data))
    profile = read_profile(path, "Vector")
    assert (profile.pan.degrees, profile.tilt.degrees) == (540, 250)
    data["physical"]["focus"]["panMax"] = "infinite"
    path.write_text(json.dumps(data))
    assert "endless pan" in read_profile(path, "Vector").pan.why_no_degrees
    path.write_text("{")
    with pytest.raises(ProfileError, match="not valid JSON"):
        read_profile(path, "Vector")


SPOT = str(OFL / "fixtures/pr-lighting/xs-250-spot.json")


def show(fixtures=None, **head):
    fixture = {"name": "spot", "pattern": "circle", "universe": 1, "address": 101,
               **({"profile": SPOT, "mode": "Standard"} if "profile" not in head else {}),
               **head}
    return {"clock": {"bpm": 120}, "fixture": fixtures or [fixture],
            "output": [{"kind": "sacn", "address": "127.0.0.1", "universe": 1}]}


@pytest.mark.parametrize("head, message", [
    ({"address": 500}, "fixture[0].address: mode 'Standard' has 16 channels: channel 515 is "
                       "past 512"),
    ({"profile": None}, "fixture[0].universe: needs a profile"),
    ({"pan_degrees": [0, 600]},
     "fixture[0].pan_degrees: expected [low, high] in degrees with 0 <= low < high <= 540"),
    ({"limits": {"tilt": [100, 50]}},
     "fixture[0].limits.tilt: expected [low, high] in degrees with 0 <= low <= high <= 270"),
    ({"aim": {"at": [0, 0, 0]}}, "fixture[0].aim: needs the fixture's position"),
    ({"smooth": True}, "fixture[0].smooth: needs max_degrees_per_second"),
    ({"hang": "wall"}, "fixture[0].hang: expected one of 'floor', 'truss', got 'wall'"),
    ({"dmx": {"pan": 1, "tilt": 3}},
     "fixture[0].dmx: a fixture with a profile is patched by universe and address"),
])
def test_head_keys_are_checked(head, message):
    document = show(**head)
    if head.get("profile", "") is None:
        del document["fixture"][0]["profile"]
    with pytest.raises(ShowError) as caught:
        parse_show(document)
    assert str(caught.value) == message


def test_a_head_claims_every_channel_of_its_mode():
    document = show()
    document["fixture"].append({"name": "old", "pattern": "circle",
                                "dmx": {"universe": 1, "pan": 116, "tilt": 1}})
    with pytest.raises(ShowError, match=r"fixture\[1\].dmx.pan: channel 116 of universe 1 is "
                                        r"already used by 'spot'"):
        parse_show(document)


def frame_of(outs):
    return Frame(0, tuple(FixtureState(f"f{i}", "circle", 0, out, out, None)
                          for i, out in enumerate(outs)))


def test_degrees_land_on_the_range_and_leave_as_dmx_steps():
    rig = HeadRig(parse_show(show(pan_degrees=[90, 450], tilt_degrees=[0, 270])), 44)
    for x, pan in ((-1.0, 90.0), (0.0, 270.0), (1.0, 450.0), (0.5, 360.0)):
        (angles,) = rig.step(frame_of([(x, 1.0, 0.0)]))
        assert (angles.pan, angles.tilt) == (pan, 270.0)
        assert angles.pan_value == round(pan / 540 * 65535) and angles.tilt_value == 65535
    head = rig.motions[0].head
    assert dmx_bytes(head, angles) == [(111, 0xAA), (112, 0xAA), (113, 0xFF), (114, 0xFF)]
    truss = HeadRig(parse_show(show(pan_degrees=[90, 450], hang="truss")), 44)
    assert truss.step(frame_of([(0.5, 0.0, 0.0)]))[0].pan == 180.0


@settings(max_examples=200, deadline=None)
@given(st.lists(st.tuples(*[st.floats(-1, 1)] * 3), min_size=1, max_size=30),
       st.floats(0, 540), st.floats(0, 540), st.booleans(), st.booleans())
def test_limits_are_never_exceeded(outs, a, b, aimed, short):
    low, high = sorted((a, b))
    extra = ({"position": [1, 2, 5], "aim": {"at": [0, 3, 0], "size": [8, 8, 8]}}
             if aimed else {})
    document = show(mode="Short" if short else "Standard",
                    limits={"pan": [low, high], "tilt": [40, 200]}, **extra)
    top = 255 if short else 65535
    try:
        show_ = parse_show(document)
    except ShowError as exc:
        # limits that hold no DMX step at all cannot be kept: refused
        assert "limits.pan: no" in str(exc)
        assert math.floor(high / 540 * top) < math.ceil(low / 540 * top)
        return
    rig = HeadRig(show_, 44)
    head = rig.motions[0].head
    for out in outs:
        (angles,) = rig.step(frame_of([out]))
        assert low <= angles.pan <= high and 40 <= angles.tilt <= 200
        # the step sent stands for an angle within the limits too
        assert low - 1e-9 <= angles.pan_value * 540 / top <= high + 1e-9
        assert 40 - 1e-9 <= angles.tilt_value * 270 / top <= 200 + 1e-9
    assert head.pan.bits == (8 if short else 16)


def distance_to_beam(origin, direction, target):
    v = [t - o for t, o in zip(target, origin)]
    along = sum(a * b for a, b in zip(v, direction))
    assert along > 0         # in front of the head, not behind it
    return math.sqrt(max(sum(c * c for c in v) - along * along, 0.0))


coordinate = st.floats(-20, 20)


@settings(max_examples=300, deadline=None)
@given(st.tuples(coordinate, coordinate, st.floats(0, 12)),
       st.tuples(coordinate, coordinate, st.floats(0, 12)), st.sampled_from(["floor", "truss"]),
       st.one_of(st.none(), st.floats(0, 540)))
def test_an_aimed_beam_passes_within_a_millimetre_of_its_target(position, target, hang, last):
    distance = math.dist(position, target)
    up = (target[2] - position[2]) / distance if distance > 0.01 else 1.0
    # the tilt range (270 degrees about the yoke's axis) leaves a cone it cannot reach
    if distance < 0.01 or (up if hang == "floor" else -up) < math.cos(math.radians(134)):
        return
    pan, tilt, clamped = aiming.solve(position, target, 540, 270, hang, (0, 540), (0, 270),
                                      last)
    assert not clamped
    assert distance_to_beam(position, aiming.beam(pan, tilt, 540, 270, hang), target) < 1e-3


def test_the_pan_nearest_the_last_frame_is_chosen_so_a_circling_target_never_swings_back():
    # starting near the top of the range leaves 360 degrees of pan for the turn
    pans = [540.0]
    for k in range(181):
        angle = math.radians(k * 2)       # once round the head, 2 degrees a frame
        target = (5 * math.sin(angle), -5 * math.cos(angle), 0.0)
        pan, _, _ = aiming.solve((0, 0, 6), target, 540, 270, "truss", (0, 540), (0, 270),
                                 pans[-1])
        pans.append(pan)
    pans.pop(0)
    assert pans[0] == 450 and all(abs(b - a) == pytest.approx(2) for a, b in zip(pans, pans[1:]))


def test_heads_aimed_at_one_target_converge_on_it():
    positions = [(-4, 3, 6), (4, 3, 6), (0, -1, 0.5)]
    fixtures = [{"name": f"h{i}", "pattern": "circle", "universe": 1, "address": 1 + 16 * i,
                 "profile": SPOT, "mode": "Standard", "position": list(p),
                 "hang": "truss" if p[2] > 3 else "floor",
                 "aim": {"at": [0, 2, 0], "size": [1.5, 1.5, 0]}} for i, p in enumerate(positions)]
    rig = HeadRig(parse_show(show(fixtures)), 44)
    for out in ((0.0, -1.0, 0.0), (1.0, 0.0, 0.0), (0.3, 0.7, 0.0)):
        target = (1.5 * out[0], 2 + 1.5 * out[1], 0.0)
        for p, angles in zip(positions, rig.step(frame_of([out] * 3))):
            hang = "truss" if p[2] > 3 else "floor"
            beam = aiming.beam(angles.pan, angles.tilt, 540, 270, hang)
            assert distance_to_beam(p, beam, target) < 1e-3



unit = st.floats(-1, 1)


@settings(max_examples=200, deadline=None)
@given(st.tuples(coordinate, coordinate, st.floats(0, 12)), st.sampled_from(["floor", "truss"]),
       st.tuples(st.floats(0, 265), st.floats(275, 540)),
       st.tuples(st.floats(0, 130), st.floats(140, 270)),
       st.lists(st.tuples(unit, unit, unit), min_size=1, max_size=12))
def test_a_frame_of_aimed_heads_takes_the_solvers_angles(position, hang, pan_limits,
                                                          tilt_limits, outs):
    # the frame's own shortcut for the usual case must agree with the solver to the bit
    rig = HeadRig(parse_show(show(position=list(position), hang=hang,
                                  aim={"at": [0, 2, 0], "size": [3, 3, 1]},
                                  limits={"pan": list(pan_limits), "tilt": list(tilt_limits)})),
                  44)
    last = None
    for out in outs:
        (angles,) = rig.step(frame_of([out]))
        target = (3 * out[0], 2 + 3 * out[1], out[2])
        assert (angles.pan, angles.tilt, angles.clamped) == aiming.solve(
            position, target, 540, 270, hang, pan_limits, tilt_limits, last)
        last = angles.pan

@settings(max_examples=100, deadline=None)
@given(st.lists(st.floats(-1, 1), min_size=2, max_size=40), st.floats(30, 600))
def test_smooth_never_moves_faster_than_the_head_and_catches_up_without_overshoot(xs, speed):
    rig = HeadRig(parse_show(show(max_degrees_per_second={"pan": speed, "tilt": speed},
                                  smooth=True)), 50)
    sent = [rig.step(frame_of([(x, 0.0, 0.0)]))[0].pan for x in xs]
    for before, after in zip(sent, sent[1:]):
        assert abs(after - before) <= speed / 50 + 1e-9
    wanted = 270 + xs[-1] * 270
    for _ in range(int(540 / (speed / 50)) + 2):
        pan = rig.step(frame_of([(xs[-1], 0.0, 0.0)]))[0].pan
        assert min(sent[-1], wanted) - 1e-9 <= pan <= max(sent[-1], wanted) + 1e-9
    assert pan == pytest.approx(wanted)


def test_render_writes_degrees_beside_dmx_and_reports_clamps_and_speed(tmp_path):
    document = show(limits={"pan": [200, 340]}, max_degrees_per_second={"pan": 100})
    document["fixture"].append({"name": "old", "pattern": "circle",
                                "dmx": {"universe": 1, "pan": 1, "tilt": 3}})
    rendered = list(rows(parse_show(document), 1, 10))
    header = rendered[0]
    assert header[-4:] == ("sacn.pan", "sacn.tilt", "sacn.pan_deg", "sacn.tilt_deg")
    spot = [dict(zip(header, row)) for row in rendered[1:] if row[3] == "spot"]
    old = [dict(zip(header, row)) for row in rendered[1:] if row[3] == "old"]
    for row in spot:
        assert 200 <= float(row["sacn.pan_deg"]) <= 340
        # round(d / R * 65535), held to the steps within the limits: 24272.2 .. 41262.2
        steps = round(float(row["sacn.pan_deg"]) / 540 * 65535)
        assert int(row["sacn.pan"]) == min(max(steps, 24273), 41262)
    assert old[0]["sacn.pan_deg"] == "" and old[0]["sacn.pan"] == "128"
    path = tmp_path / "show.toml"
    path.write_text(f'''[clock]\nbpm = 120\n[[fixture]]\nname = "spot"\npattern = "circle"
profile = "{SPOT}"\nmode = "Standard"\naddress = 1\nlimits = {{ pan = [200, 340] }}
max_degrees_per_second = {{ pan = 100 }}\n[[output]]\nkind = "sacn"\naddress = "127.0.0.1"
''')
    done = subprocess.run([sys.executable, "-m", "kinetra_live", "render", str(path),
                           "--seconds", "2", "--fps", "10"], capture_output=True, text=True)
    assert done.returncode == 0
    report = done.stderr.splitlines()
    clamped = sum(1 for row in spot if float(row["sacn.pan_deg"]) in (200, 340))
    assert report[0] == f"render: spot: {2 * clamped} frames clamped to limits"
    assert report[1].startswith("render: spot: pan asks for up to ")
    assert all("(max 100) in beat" in line for line in report[1:])
    example = Path(__file__).resolve().parent.parent / "examples" / "shows" / "heads.toml"
    done = subprocess.run([sys.executable, "-m", "kinetra_live", "render", str(example),
                           "--seconds", "2"], capture_output=True, text=True)
    assert (done.returncode, done.stderr) == (0, "")


def test_outputs_are_sent_their_delay_and_fixtures_their_lead_ahead():
    from kinetra_live.run import Runner
    from live_support import SimulatedClock

    document = {"clock": {"bpm": 120}, "fps": 50,
                "fixture": [{"name": "a", "pattern": "circle"},
                            {"name": "b", "pattern": "circle", "lead_ms": 20}],
                "output": [{"kind": "osc", "name": "now", "address": "127.0.0.1:9"},
                           {"kind": "osc", "name": "late", "address": "127.0.0.1:9",
                            "delay_ms": "40"}]}
    show = parse_show(document)
    header, *table = rows(show, 1, 50)
    x = {(int(r[0]), r[3], name): float(r[header.index(f"{name}.x")])
         for r in table for name in ("now", "late")}
    # 20 ms is one frame at 50 fps: the late output is two frames ahead, b one more
    for n in range(40):
        assert x[n, "a", "late"] == x[n + 2, "a", "now"]
        assert x[n, "b", "now"] == x[n + 1, "a", "now"]
        assert x[n, "b", "late"] == x[n + 3, "a", "now"]

    class Recorder:
        def __init__(self, output):
            self.output, self.pips = output, []

        def send(self, frame):
            self.pips.append([state.fixture_pip for state in frame.fixtures])

    clock = SimulatedClock(show.clock.tempo_map())
    clock.ns = 10**9
    senders = [Recorder(output) for output in show.outputs]
    Runner(show, clock, senders).send_frame()
    # 120 BPM is 128 pips a second
    assert [s.pips for s in senders] == [[[128, 130]], [[133, 135]]]
    with pytest.raises(ShowError, match=r"output\[1\].delay_ms: expected milliseconds from "
                                        r"-10000 to 10000, got 20000"):
        parse_show({**document, "output": [document["output"][0],
                                           {**document["output"][1], "delay_ms": 20000}]})


@pytest.mark.parametrize("document, reason", [
    ([1, 2], "not a fixture definition (TypeError: list indices must be integers or slices, "
             "not str)"),
    ({"modes": [{"name": "a", "channels": [{
        "insert": "matrixChannels", "repeatFor": "eachPixelXYZ", "channelOrder": "perPixel",
        "templateChannels": ["Red $pixelKey"]}]}], "matrix": {"pixelCount": [10**5] * 3}},
     "mode 'a': more channels than a universe holds"),
    ({"modes": [{"name": "a", "channels": ["Pan"]}], "matrix": {}},
     "mode 'a': no pan channel"),
    ("[" * 100000, "not a fixture definition (nested too deeply)"),
])
def test_hostile_fixture_files_are_refused_with_their_path(tmp_path, document, reason):
    path = tmp_path / "head.json"
    path.write_text(document if isinstance(document, str) else json.dumps(document))
    with pytest.raises(ProfileError) as caught:
        read_profile(path, "a")
    assert str(caught.value) == f"{path}: {reason}"


def written(heads, action, *args):
    """(channel, byte) of each head channel after `action` writes a universe."""
    data = bytearray(512)
    getattr(heads, action)(data, *args)
    return [(channel, data[channel - 1]) for channel in heads.channels]


def test_park_and_blackout_keep_a_head_within_its_limits():
    document = show(limits={"pan": [100, 440], "tilt": [30, 240]}, park=[1.0, -1.0, 0.0],
                    pan_degrees=[0, 540])
    heads = HeadRig(parse_show(document), 44).universe(1)
    low_tilt = math.ceil(30 / 270 * 65535)
    assert heads.channels == [111, 112, 113, 114]
    # the middle of each range, 32768 (0x8000)
    assert written(heads, "blackout") == [(111, 0x80), (112, 0x00), (113, 0x80), (114, 0x00)]
    narrow = HeadRig(parse_show(show(limits={"pan": [300, 440], "tilt": [150, 240]})), 44)
    assert written(narrow.universe(1), "blackout")[0::2] == [
        (111, math.ceil(300 / 540 * 65535) >> 8), (113, math.ceil(150 / 270 * 65535) >> 8)]
    high_pan = math.floor(440 / 540 * 65535)
    assert written(heads, "park") == [(111, high_pan >> 8), (112, high_pan & 0xFF),
                                      (113, low_tilt >> 8), (114, low_tilt & 0xFF)]
    other = HeadRig(parse_show(document), 44).universe(2)
    data = bytearray(512)
    other.park(data)
    assert other.channels == [] and data == bytearray(512)


def test_a_universe_packs_its_heads_without_touching_other_channels():
    # heads apart, an 8-bit one, and a plain patch between them that its own layout writes
    heads = [{"name": name, "pattern": "circle", "profile": SPOT, "mode": mode, "universe": 1,
              "address": address} for name, mode, address in
             (("a", "Standard", 1), ("b", "Short", 40), ("c", "Standard", 101))]
    plain = {"name": "p", "pattern": "circle", "dmx": {"universe": 1, "pan": 30, "tilt": 32}}
    document = show(heads[:2] + [plain, heads[2]])
    parsed = parse_show(document)
    universe, rig = HeadRig(parsed, 44).universe(1), HeadRig(parsed, 44)
    outs = [(0.3, -0.7, 0.0), (-0.9, 0.2, 0.0), (0.0, 0.0, 0.0), (0.6, 0.5, 0.0)]
    data = bytearray(b"\xee" * 512)
    universe.send(data, frame_of(outs))
    angles = rig.step(frame_of(outs))
    sent = {channel: byte for patch, a in zip(parsed.fixtures, angles)
            if a is not None for channel, byte in dmx_bytes(patch.head, a)}
    owned = {c for f in parsed.fixtures if f.head for c in f.head.channels}
    assert [data[c - 1] for c in sorted(sent)] == [sent[c] for c in sorted(sent)]
    assert all(data[c - 1] == 0xEE for c in range(1, 513) if c not in owned)
