"""Frames leave over real sockets on 127.0.0.1 and are decoded by the protocols' libraries."""

import dataclasses
import socket
import struct
import threading
from fractions import Fraction
from pathlib import Path

import kinetra
import pytest
from pythonosc.dispatcher import Dispatcher
from pythonosc.osc_server import ThreadingOSCUDPServer

from kinetra_live.outputs import mapping, open_output
from kinetra_live.run import Runner
from kinetra_live.show import parse_show
from live_support import SimulatedClock

FPS = 40


def free_port() -> int:
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def show_for(outputs, on_stop="park"):
    return parse_show({
        "clock": {"bpm": 120, "tempo_changes": [[1, 90]]}, "fps": FPS, "on_stop": on_stop,
        "fixture": [
            {"name": "spot", "pattern": "circle", "phase_pips": 8, "scale": [0.5, 1, 1],
             "park": [0, -1, 0],
             "dmx": {"universe": 3, "pan": 1, "tilt": 3, "bits": 16, "tilt_range": [0.25, 0.75]}},
            {"name": "wash", "pattern": "beat_house_classic_orbit", "speed": "3/2",
             "osc_address": "/wash/pos", "dmx": {"universe": 3, "pan": 10, "tilt": 11}}],
        "output": outputs})


def run_frames(show, frames):
    clock = SimulatedClock(show.clock.tempo_map())
    runner = Runner(show, clock, [open_output(show, o) for o in show.outputs],
                    now_ns=clock.now_ns, sleep=clock.sleep)
    runner.run(max_frames=frames)
    runner.stop()
    assert clock.closed and runner.late == 0
    return [runner.sampler.frame(show.clock.tempo_map().pip_at(Fraction(k, FPS)))
            for k in range(frames)]


def expected_out(show, frame):
    """The transformed positions, recomputed from kinetra.sample alone."""
    spot, wash = frame.fixtures
    x, y, z = kinetra.sample("circle", frame.pip + 8).as_tuple()
    assert spot.out == (0.5 * x, y, z)
    assert wash.out == kinetra.sample("beat_house_classic_orbit", frame.pip * 3 // 2).as_tuple()
    return {"spot": spot.out, "wash": wash.out}


def test_osc_sends_three_floats_a_fixture_a_frame():
    received = []
    dispatcher = Dispatcher()
    dispatcher.set_default_handler(lambda address, *args: received.append((address, args)))
    server = ThreadingOSCUDPServer(("127.0.0.1", 0), dispatcher)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    try:
        show = show_for([{"kind": "osc", "address": f"127.0.0.1:{server.server_address[1]}"}])
        frames = run_frames(show, 60)       # 1.5 s: over the tempo change at beat 1
        deadline = 200
        while len(received) < 2 * 61 and deadline:
            threading.Event().wait(0.01)
            deadline -= 1
    finally:
        server.shutdown()
        server.server_close()
    f32 = lambda v: struct.unpack("f", struct.pack("f", v))[0]
    expected = []
    for frame in frames:
        out = expected_out(show, frame)
        expected += [("/kinetra/spot", tuple(map(f32, out["spot"]))),
                     ("/wash/pos", tuple(map(f32, out["wash"])))]
    expected += [("/kinetra/spot", (0.0, -1.0, 0.0)), ("/wash/pos", (0.0, 0.0, 0.0))]
    assert sorted(received) == sorted(expected)      # UDP may reorder; nothing is lost here


def test_osc_bundles_carry_the_same_messages_as_single_datagrams():
    from kinetra_live.sampler import Sampler

    show = parse_show({"clock": {"bpm": 120}, "fixture": [
        {"name": f"head{i}", "pattern": "circle", "phase_pips": 5 * i} for i in range(40)]})
    sampler = Sampler(show)
    frames = [sampler.frame(pip) for pip in range(0, 96, 8)]
    heard = {}
    for bundle in (True, False):
        received, datagrams = [], []
        dispatcher = Dispatcher()
        dispatcher.set_default_handler(lambda address, *args: received.append((address, args)))
        server = ThreadingOSCUDPServer(("127.0.0.1", 0), dispatcher)
        handle = server.finish_request
        server.finish_request = lambda request, client: (datagrams.append(len(request[0])),
                                                        handle(request, client))
        threading.Thread(target=server.serve_forever, daemon=True).start()
        try:
            sender = open_output(show, show_for([{
                "kind": "osc", "address": f"127.0.0.1:{server.server_address[1]}"}]).outputs[0])
            assert sender.bundle          # the default above 16 fixtures
            sender.bundle = bundle
            # a frame at a time, as a show sends them: a burst would overrun the socket
            for sent, send in enumerate([lambda f=f: sender.send(f) for f in frames]
                                        + [sender.park], 1):
                send()
                for _ in range(3000):
                    if len(received) >= 40 * sent:
                        break
                    threading.Event().wait(0.01)
            sender.close()
        finally:
            server.shutdown()
            server.server_close()
        heard[bundle] = sorted(received), len(datagrams), max(datagrams)
    assert heard[True][0] == heard[False][0] and len(heard[True][0]) == 40 * 13
    assert heard[False][1] == 40 * 13 and heard[True][1] < 13 * 3 and heard[True][2] <= 1400


@pytest.mark.parametrize("on_stop", ["park", "blackout"])
def test_sacn_universe_decoded_by_the_sacn_receiver(on_stop):
    import sacn
    port = free_port()
    packets, ended = [], threading.Event()
    receiver = sacn.sACNreceiver(bind_address="127.0.0.1", bind_port=port)
    receiver.register_listener("universe", packets.append, universe=3)
    receiver.register_listener(
        "availability", lambda universe, changed: universe == 3 and changed == "timeout"
        and ended.set())
    receiver.start()
    try:
        show = dataclasses.replace(show_for(
            [{"kind": "sacn", "address": f"127.0.0.1:{port}", "universe": 3}], on_stop),
            path=Path("shows/Nuit blanche \u00e0 la cave.toml"))
        frames = run_frames(show, 20)
        # the stream ends with stream-terminated packets, after every frame and the stop
        assert ended.wait(30)
    finally:
        receiver.stop()
    universe = []
    for frame in frames:
        out = expected_out(show, frame)
        channels = bytearray(11)
        for name, first in (("spot", 0), ("wash", 0)):
            fixture = next(f for f in show.fixtures if f.name == name)
            for channel, value in mapping.dmx_channels(fixture.dmx, out[name]):
                channels[channel - 1] = value
        universe.append(bytes(channels))
    # blackout leaves every head where the mapping puts the centre, never at an end stop
    stop = bytearray(11)
    for fixture in show.fixtures:
        at = fixture.park if on_stop == "park" else (0.0, 0.0, 0.0)
        for channel, value in mapping.dmx_channels(fixture.dmx, at):
            stop[channel - 1] = value
    if on_stop == "blackout":
        assert bytes(stop) == bytes.fromhex("8000800000000000008080")
    # the receiver reports changes only, so compare the distinct universes in order
    distinct = [u for i, u in enumerate(universe + [bytes(stop)])
                if i == 0 or u != (universe + [bytes(stop)])[i - 1]]
    assert [bytes(p.dmxData[:11]) for p in packets] == distinct
    assert {p.sourceName for p in packets} == {"Nuit blanche \u00e0 la cave"}
    spot_pan = (universe[0][0] << 8) | universe[0][1]
    assert spot_pan == round((0.5 * kinetra.circle(8).x + 1) / 2 * 65535)


def test_a_universe_packs_each_fixtures_channels_whatever_their_order():
    # tilt before pan, one fixture's channels between another's, 8 and 16 bits together
    patches = [{"pan": 20, "tilt": 3, "bits": 16}, {"pan": 10, "tilt": 5},
               {"pan": 1, "tilt": 12, "bits": 16, "pan_range": [0.25, 0.5]}, {"pan": 30, "tilt": 31}]
    show = parse_show({"clock": {"bpm": 120}, "fixture": [
        {"name": f"f{i}", "pattern": "circle", "dmx": {"universe": 1, **patch}}
        for i, patch in enumerate(patches)]})
    layout = mapping.DmxLayout((i, f.dmx) for i, f in enumerate(show.fixtures))
    outs = [(-1.0, 1.0, 0.0), (0.25, -0.5, 0.0), (3.0, -7.0, 0.0), (0.1, 0.9, 0.0)]
    data = bytearray(b"\xff" * 40)
    layout.write(data, outs)
    expected = bytearray(31) + b"\xff" * 9     # between the fixtures 0, after them untouched
    for fixture, out in zip(show.fixtures, outs):
        for channel, value in mapping.dmx_channels(fixture.dmx, out):
            expected[channel - 1] = value
    assert data == expected and layout.size == 31
    assert mapping.dmx_channels(show.fixtures[0].dmx, outs[0]) == [
        (20, 0), (21, 0), (3, 255), (4, 255)]


def test_artnet_frame_carries_the_universe():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sink:
        sink.bind(("127.0.0.1", 0))
        sink.settimeout(5)
        show = show_for([{"kind": "artnet", "address": f"127.0.0.1:{sink.getsockname()[1]}",
                          "universe": 3}])
        frames = run_frames(show, 5)
        packets = [sink.recv(1024) for _ in range(6)]
    for packet, frame in zip(packets, frames + [None]):
        # ArtDMX: id, opcode 0x5000, protocol 14, sequence, physical, universe, length, data
        ident, opcode, _, _, _, universe, length = struct.unpack("<8sHHBBHH", packet[:18])
        assert (ident, opcode, universe) == (b"Art-Net\0", 0x5000, 3)
        data = packet[18:18 + struct.unpack(">H", packet[16:18])[0]]
        out = (expected_out(show, frame) if frame else
               {f.name: f.park for f in show.fixtures})
        for fixture in show.fixtures:
            for channel, value in mapping.dmx_channels(fixture.dmx, out[fixture.name]):
                assert data[channel - 1] == value


@pytest.mark.parametrize("bits, out, values", [
    (7, (-1.0, 0.0, 1.0), [(20, 0), (21, 64), (22, 127)]),
    (14, (-1.0, 0.0, 1.0), [(20, 0), (52, 0), (21, 64), (53, 0), (22, 127), (54, 127)]),
])
def test_midi_control_changes(bits, out, values):
    show = parse_show({"clock": {"bpm": 120}, "fixture": [
        {"name": "a", "pattern": "circle", "midi": {"cc": [20, 21, 22], "bits": bits}}]})
    assert mapping.midi_messages(show.fixtures[0].midi, out) == values


def test_midi_blackout_sends_the_middle_of_each_controller(monkeypatch):
    mido = pytest.importorskip("mido")
    sent = []

    class Port:
        send = sent.append

        def close(self):
            pass
    monkeypatch.setattr(mido, "open_output", lambda name: Port())
    show = parse_show({"clock": {"bpm": 120}, "on_stop": "blackout", "fixture": [
        {"name": "a", "pattern": "circle", "midi": {"cc": [20, 21], "bits": 14}}],
        "output": [{"kind": "midi", "address": "synth"}]})
    sender = open_output(show, show.outputs[0])
    sender.blackout()
    assert [(m.control, m.value) for m in sent] == [(20, 64), (52, 0), (21, 64), (53, 0)]
