"""Measure kinetra_live's frame against the bare kinetra.sample calls it is built on.

    python benchmarks/live_frames.py [--dmx] [--jitter SECONDS] [--json]

Frame cost for 64, 512 and 2,048 fixtures: the sampler's frame (phase, speed, sample,
transforms) and the frame with every fixture mapped to 16-bit DMX pan and tilt, each as a ratio
to the baseline loop of bare `kinetra.sample(name, pip).as_tuple()` calls for the same
fixtures, timed in the same run (best of several repeats, taken in turn with the baseline's, in
processor time: the machine may be busy with other work). Then the outputs for 512 fixtures,
each frame mapped and sent to a socket on 127.0.0.1 that nobody reads: four sACN universes
(sacn) and four Art-Net universes (pyartnet), and OSC in bundles and as single messages.
`--dmx` also compares the two DMX libraries sending one full universe. `--jitter` runs the live
frame loop on the real clock and prints the frame-interval error. Live control's share of a
512-fixture frame (events queued, the clock's grid, changes waiting) is measured against the
frame without it; `--cue-latency` sends 1,000 OSC cues (quantise "now") to a running frame loop
at 44 fps and times each from its sending to the first frame that sends the new look. Last,
512 moving heads from a real fixture profile (degrees, limits, on a truss) stepped into their
universes' DMX bytes, over the bare samples (`profile_ratio`), and the same with every other
head aimed at a point (`aimed_ratio`). `--json` prints the figures as one JSON object on the
last line.
"""

from __future__ import annotations

import argparse
import asyncio
import json
import os
import random
import socket
import statistics
import sys
import threading
import time
from fractions import Fraction
from pathlib import Path

import kinetra

from kinetra_live.outputs import mapping, open_output
from kinetra_live.outputs.degrees import HeadRig
from kinetra_live.run import Runner
from kinetra_live.sampler import Sampler
from kinetra_live.show import parse_show

GOAL_MS = 2.0


def show_of(count: int, fps: int = 44, outputs=(), **extra):
    names = [row["name"] for row in kinetra.catalogue()][::27][:64]
    fixtures = []
    for i in range(count):
        fixture = {"name": f"f{i}", "pattern": names[i % len(names)], "phase_pips": i * 3,
                   "speed": ["1", "3/2", "1/2", "2"][i % 4]}
        if i % 2:
            fixture.update(scale=[0.8, 0.8, 1], rotate_degrees=30)
        if i < 512 * 255 // 2:
            fixture["dmx"] = {"universe": 1 + i // 128, "pan": 1 + 4 * (i % 128),
                              "tilt": 3 + 4 * (i % 128), "bits": 16}
        fixtures.append(fixture)
    return parse_show({"clock": {"bpm": 128}, "fps": fps, "fixture": fixtures,
                       "output": list(outputs), **extra})


def best_ms(action, frames: int, repeats: int = 7) -> float:
    return bests_ms([action], frames, repeats)[0]


def bests_ms(actions, frames: int, repeats: int = 7) -> list[float]:
    """The best of `repeats` for each action, the actions' repeats taken in turn, so that a
    ratio between them sees the same load on a busy machine."""
    bests = [float("inf")] * len(actions)
    for _ in range(repeats):
        for k, action in enumerate(actions):
            began = time.process_time()
            for pip in range(frames):
                action(pip)
            bests[k] = min(bests[k], (time.process_time() - began) / frames)
    return [best * 1000 for best in bests]


def frame_costs() -> dict:
    figures = {}
    print(f"{'fixtures':>8} {'bare sample':>12} {'frame':>9} {'ratio':>6} "
          f"{'frame+DMX':>10} {'ratio':>6} {'+states':>9} {'ratio':>6}")
    for count in (64, 512, 2048):
        show = show_of(count)
        sampler = Sampler(show)
        pairs = [(f.pattern, show.phase_of(f)) for f in show.fixtures]
        sample = kinetra.sample
        # each universe's pan and tilt, packed as the DMX outputs pack them
        universes = sorted({f.dmx.universe for f in show.fixtures})
        layouts = [(mapping.DmxLayout((i, f.dmx) for i, f in enumerate(show.fixtures)
                                      if f.dmx.universe == universe), bytearray(512))
                   for universe in universes]

        def bare(pip):
            for name, phase in pairs:
                sample(name, pip + phase).as_tuple()

        def with_dmx(pip):
            outs = sampler.frame(pip).outs
            for layout, data in layouts:
                layout.write(data, outs)

        def with_states(pip):
            # what render and the preview read: every fixture's whole state
            sampler.frame(pip).fixtures

        frames = max(20, 20000 // count)
        base, frame, dmx, states = bests_ms([bare, sampler.frame, with_dmx, with_states], frames)
        print(f"{count:>8} {base:>9.3f} ms {frame:>6.3f} ms {frame / base:>6.2f} "
              f"{dmx:>7.3f} ms {dmx / base:>6.2f} {states:>6.3f} ms {states / base:>6.2f}")
        if count == 512:
            figures.update(frame_ratio=round(frame / base, 3), dmx16_ratio=round(dmx / base, 3),
                           states_ratio=round(states / base, 3), frame_ms=round(frame, 4),
                           dmx16_ms=round(dmx, 4), bare_ms=round(base, 4), fixtures=count)
    print(f"goals at 512 fixtures: frame at most 2x the bare samples "
          f"({figures['frame_ratio']:.2f}x), with 16-bit DMX mapping at most 3x "
          f"({figures['dmx16_ratio']:.2f}x); with DMX mapping in at most {GOAL_MS} ms "
          f"({figures['dmx16_ms']:.3f} ms)")
    return figures


def output_costs() -> dict:
    """Each output's send of one 512-fixture frame, mapping included."""
    sink = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sink.bind(("127.0.0.1", 0))
    target = f"127.0.0.1:{sink.getsockname()[1]}"
    kinds = {"sacn4_ms": [{"kind": "sacn", "name": f"s{u}", "address": target, "universe": u}
                          for u in range(1, 5)],
             "artnet4_ms": [{"kind": "artnet", "name": f"a{u}", "address": target,
                             "universe": u} for u in range(1, 5)],
             "osc512_ms": [{"kind": "osc", "address": target}],
             "osc512_single_ms": [{"kind": "osc", "address": target}]}
    figures = {}
    try:
        for key, outputs in kinds.items():
            show = show_of(512, outputs=outputs)
            sampler = Sampler(show)
            frames = [sampler.frame(pip) for pip in range(8)]
            senders = [open_output(show, output) for output in show.outputs]
            if key == "osc512_single_ms":
                senders[0].bundle = False
            try:
                def send(k):
                    for sender in senders:
                        sender.send(frames[k % 8])
                figures[key] = round(best_ms(send, 100, repeats=5), 4)
            finally:
                for sender in senders:
                    sender.close()
    finally:
        sink.close()
    print(f"512 fixtures sent a frame: four sACN universes {figures['sacn4_ms']:.3f} ms "
          f"(goal 0.5), four Art-Net universes {figures['artnet4_ms']:.3f} ms, OSC in bundles "
          f"{figures['osc512_ms']:.3f} ms (goal 1.5), as single messages "
          f"{figures['osc512_single_ms']:.3f} ms")
    return figures


def dmx_libraries() -> None:
    """One full universe (512 channels) a frame, sent to a socket nobody reads."""
    from pyartnet import SacnNode
    import sacn

    sink = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sink.bind(("127.0.0.1", 0))
    port = sink.getsockname()[1]
    frames = 2000
    values = [bytes((i + k) % 256 for i in range(512)) for k in range(8)]

    loop = asyncio.new_event_loop()
    node = SacnNode.create("127.0.0.1", port)
    universe = node.add_universe(1)
    channel = universe.add_channel(1, 512)

    async def open_node():
        await node.__aenter__()
        await node.stop_refresh()
    loop.run_until_complete(open_node())

    async def pyartnet_frame(k):
        channel.set_values(values[k % 8])
        universe.send_data()

    began = time.process_time()
    for k in range(frames):
        loop.run_until_complete(pyartnet_frame(k))
    pyartnet_us = (time.process_time() - began) / frames * 1e6
    loop.run_until_complete(node.__aexit__(None, None, None))
    loop.close()

    sender = sacn.sACNsender(bind_address="127.0.0.1", bind_port=0, universeDiscovery=False,
                             fps=44)
    sender.activate_output(1)
    sender[1].destination = "127.0.0.1"
    sender[1].multicast = False
    began = time.process_time()
    for k in range(frames):
        sender[1].dmx_data = values[k % 8]
    assign_us = (time.process_time() - began) / frames * 1e6
    handler = sender._sender_handler      # its per-packet send, as its own thread calls it
    began = time.process_time()
    for k in range(frames):
        sender[1].dmx_data = values[k % 8]
        handler.send_out(sender[1], time.time())
    sacn_us = (time.process_time() - began) / frames * 1e6
    began = time.process_time()
    for k in range(frames):
        handler.send_out(sender[1], time.time())
    send_us = (time.process_time() - began) / frames * 1e6
    sender.stop()
    sink.close()
    print("one 512-channel sACN universe a frame, to 127.0.0.1:")
    print(f"  pyartnet: {pyartnet_us:7.1f} us a frame (set + send on the caller's thread), "
          f"{1e6 / pyartnet_us:8.0f} frames/s")
    print(f"  sacn:     {sacn_us:7.1f} us a frame (assign {assign_us:.1f} us + its send), "
          f"{1e6 / sacn_us:8.0f} frames/s; its send alone {send_us:.1f} us (the sACN output "
          f"sends its own checked slots: it never assigns)")


PROFILE = Path(__file__).resolve().parent.parent / "examples" / "fixtures" / "xs-250-spot.json"
PROFILE_GOAL = 3.0


def profile_cost(count: int = 512, aimed: bool = False) -> float | None:
    """`profile_ratio`: a frame of `count` heads from a real fixture profile (16-bit pan and
    tilt, degrees, limits, hung on the truss) stepped and packed into each universe's DMX bytes
    as the DMX outputs do it, over the bare samples of the same fixtures; `aimed_ratio`, with
    `aimed`, the same with every other head aimed at a point."""
    if not PROFILE.is_file():
        print(f"profile_ratio: skipped, no fixture profile at {PROFILE}")
        return None
    plain = show_of(count)
    fixtures = []
    for i, f in enumerate(plain.fixtures):
        fixture = {"name": f.name, "pattern": f.pattern, "phase_pips": f.phase_pips,
                   "speed": str(f.speed), "profile": str(PROFILE), "mode": "Standard",
                   "universe": 1 + i // 32, "address": 1 + 16 * (i % 32),
                   "limits": {"pan": [20, 520], "tilt": [10, 260]}, "hang": "truss"}
        if aimed and i % 2:
            fixture.update(position=[i % 16 - 8, 8, 6],
                           aim={"at": [0, 3, 0], "size": [2, 2, 0]})
        fixtures.append(fixture)
    show = parse_show({"clock": {"bpm": 128}, "fps": 44, "fixture": fixtures})
    sampler = Sampler(show)
    # each universe's heads stepped and packed as its DMX output does it
    universes = [(HeadRig(show, show.fps).universe(universe), bytearray(512))
                 for universe in sorted({f.head.universe for f in show.fixtures})]
    pairs = [(f.pattern, show.phase_of(f)) for f in show.fixtures]
    sample = kinetra.sample

    def bare(pip):
        for name, phase in pairs:
            sample(name, pip + phase).as_tuple()

    def with_profiles(pip):
        frame = sampler.frame(pip)
        for heads, data in universes:
            heads.send(data, frame)

    frames = max(20, 20000 // count)
    base, profiled = bests_ms([bare, with_profiles], frames)
    ratio = profiled / base
    if aimed:
        print(f"{count} heads as above, half of them aimed at a point: {profiled:.3f} ms, "
              f"aimed_ratio {ratio:.2f}")
    else:
        print(f"{count} heads from a profile, degrees, limits, to DMX bytes: {profiled:.3f} ms, "
              f"profile_ratio {ratio:.2f} (goal at most {PROFILE_GOAL:g})")
    return ratio


class RealClock:
    """A tempo map read on the monotonic clock, as the live loop reads it."""
    name = "internal"

    def __init__(self, show):
        self.tempo_map, self.origin = show.clock.tempo_map(), time.monotonic_ns()

    def now(self):
        return Fraction(time.monotonic_ns() - self.origin, 10**9)

    def pip_at(self, s):
        return self.tempo_map.pip_at(s)

    def beat_at(self, s):
        return self.tempo_map.beat_at(s)

    def bpm_at(self, s):
        return self.tempo_map.bpm_at(s)

    def close(self):
        pass


def jitter(seconds: float, count: int = 512) -> None:
    show = show_of(count)
    stamps: list[int] = []

    runner = Runner(show, RealClock(show), [])
    until = time.monotonic_ns() + round(seconds * 1e9)

    class Stamp:
        def send(self, frame):
            stamps.append(time.monotonic_ns())
            runner.stopping = stamps[-1] >= until

    runner.senders.append(Stamp())
    runner.run()
    period = 1e9 / show.fps
    errors = sorted(abs((b - a) - period) / 1e6 for a, b in zip(stamps, stamps[1:]))
    print(f"live frame interval over {seconds:g} s at {show.fps} fps, {count} fixtures: "
          f"error p50 {statistics.median(errors):.3f} ms, "
          f"p99 {errors[int(len(errors) * 0.99)]:.3f} ms, worst {errors[-1]:.3f} ms; "
          f"{runner.late} frames late; load average {os.getloadavg()[0]:.1f} "
          f"on {os.cpu_count()} processors")


CUE_SHOW = {"cue": [{"name": "one", "quantise": "now", "fixtures": {"all": {"pattern": "circle"}}},
                    {"name": "two", "quantise": "now", "fixtures": {"all": {"pattern": "sway"}}}]}


def control_show(count: int):
    """The frame benchmark's show, its fixtures one group that two cues switch."""
    return show_of(count, group=[{"name": "all", "fixtures": [f"f{i}" for i in range(count)]}],
                   **CUE_SHOW)


def control_cost(count: int = 512) -> dict:
    """A frame read and sampled as `run` does without control, and through live control."""
    from kinetra_live.clocks import InternalClock
    from kinetra_live.live_control import LiveControl

    show = control_show(count)
    clock = InternalClock(show.clock.tempo_map())
    sampler = Sampler(show)
    live = LiveControl(show, clock)
    period = 10**9 // show.fps
    start = live.start_ns()
    # the same frame times both ways: the patterns' cost depends on the pip
    plain, controlled = bests_ms(
        [lambda k: sampler.frame(clock.pip_at(Fraction(start + k * period, 10**9))),
         lambda k: live.frame(start + k * period)], 200)
    print(f"live control, {count} fixtures: frame {plain:.3f} ms without, {controlled:.3f} ms "
          f"with ({(controlled / plain - 1) * 100:+.1f}%, goal at most +5%)")
    return {"control_frame_ratio": round(controlled / plain, 3)}


def cue_latency(events: int = 1000, count: int = 64) -> dict:
    """OSC cue to the first frame sending its look, on the real clock at 44 fps."""
    from pythonosc.udp_client import SimpleUDPClient
    from kinetra_live.clocks import InternalClock
    from kinetra_live.live_control import LiveControl, open_osc

    show = control_show(count)
    clock = InternalClock(show.clock.tempo_map())
    live = LiveControl(show, clock)
    source = open_osc(live, "127.0.0.1", 0)
    client = SimpleUDPClient(*source.address)
    runner = Runner(show, clock, [], control=live)
    sent_at, latencies = [], []
    wanted = ["sway", "circle"]

    class Stamp:
        def send(self, frame):
            look = frame.fixtures[0].pattern
            if sent_at and look == wanted[len(latencies) % 2]:
                latencies.append(time.monotonic_ns() - sent_at.pop())
            runner.stopping = len(latencies) >= events

    runner.senders.append(Stamp())
    shuffle = random.Random(19)

    def drive():
        for k in range(events):
            while len(latencies) < k:
                time.sleep(0.001)
            time.sleep(shuffle.uniform(0.01, 0.05))     # anywhere between frames
            sent_at.append(time.monotonic_ns())
            client.send_message("/kinetra/cue", ["two" if k % 2 == 0 else "one"])
    threading.Thread(target=drive, daemon=True).start()
    clock.start()
    runner.run(start_ns=live.start_ns())
    live.close()
    client.close()
    latencies.sort()
    period_ms = 1000 / show.fps
    p99 = latencies[int(len(latencies) * 0.99)] / 1e6
    print(f"OSC cue to the first frame with its look, {events} cues at {show.fps} fps: "
          f"p50 {latencies[len(latencies) // 2] / 1e6:.2f} ms, p99 {p99:.2f} ms, worst "
          f"{latencies[-1] / 1e6:.2f} ms (goal p99 at most {period_ms + 1:.2f} ms); "
          f"{runner.late} frames late; load average {os.getloadavg()[0]:.1f}")
    return {"cue_p99_ms": round(p99, 3)}


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--dmx", action="store_true", help="compare pyartnet and sacn")
    parser.add_argument("--jitter", type=float, metavar="SECONDS",
                        help="measure the live frame interval for this long (e.g. 60)")
    parser.add_argument("--cue-latency", action="store_true",
                        help="time 1,000 OSC cues to their first frame (about a minute)")
    parser.add_argument("--json", action="store_true",
                        help="print the figures as one JSON object on the last line")
    args = parser.parse_args()
    figures = frame_costs()
    figures.update(output_costs())
    figures.update(control_cost())
    if args.cue_latency:
        figures.update(cue_latency())
    for key, aimed in (("profile_ratio", False), ("aimed_ratio", True)):
        ratio = profile_cost(aimed=aimed)
        if ratio is not None:
            figures[key] = round(ratio, 3)
    if args.dmx:
        dmx_libraries()
    if args.jitter:
        jitter(args.jitter)
    if args.json:
        print(json.dumps(figures))
    return 0


if __name__ == "__main__":
    sys.exit(main())
