"""The cost of reading each clock of kinetra_live once, `clock.pip_at(clock.now())`, against
reading the time alone (`time.monotonic_ns()`), both measured in this run.

    python benchmarks/live_clock.py [--quick]

The network session clock is measured inside a network namespace of its own (`unshare --net`,
needs root), so its discovery traffic never leaves the machine; without one it is skipped.
"""

from __future__ import annotations

import argparse
import json
import platform
import shutil
import subprocess
import sys
import time
import timeit
from fractions import Fraction

from kinetra_live.clocks import InternalClock
from kinetra_live.midi_clock import MidiClockFollower
from kinetra_live.timebase import TempoMap

NAMESPACE = ("ip link set lo up && ip link set lo multicast on && "
             "ip route add 224.0.0.0/4 dev lo && exec \"$0\" \"$@\"")


def per_call_ns(call, number: int) -> float:
    return min(timeit.repeat(call, number=number, repeat=5)) / number * 1e9


def edited_clock() -> InternalClock:
    """A clock after an evening of edits: 2,000 tempo changes and nudges in its map."""
    clock = InternalClock(174)
    for k in range(1000):
        clock.set_bpm(Fraction(170_000 + k, 1000))
        clock.nudge(Fraction(k % 7 - 3))
    return clock


def running_midi() -> MidiClockFollower:
    follower = MidiClockFollower()
    now = follower.now()
    follower.feed(now - 1, "start")
    for k in range(48):
        follower.feed(now - 1 + Fraction(k, 48), "clock")
    return follower


def link_figure(number: int) -> float:
    from kinetra_live.link_clock import LinkClock

    clock = LinkClock(174, 16)
    try:
        return per_call_ns(lambda: clock.pip_at(clock.now()), number)
    finally:
        clock.close()


def link_in_namespace(number: int) -> float | None:
    if not (shutil.which("unshare") and shutil.which("ip")):
        return None
    done = subprocess.run(["unshare", "--net", "sh", "-c", NAMESPACE, sys.executable, __file__,
                           "--link-only", str(number)], capture_output=True, text=True)
    return json.loads(done.stdout) if done.returncode == 0 else None


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="fewer calls, rougher figures")
    parser.add_argument("--link-only", type=int, metavar="N", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.link_only:
        print(json.dumps(link_figure(args.link_only)))
        return 0
    number = 2_000 if args.quick else 20_000
    base = per_call_ns(time.monotonic_ns, number)
    fresh = InternalClock(TempoMap.from_beat_changes(174, [(64, 140)]))
    edited = edited_clock()
    midi = running_midi()
    figures = {
        "internal clock, fresh": per_call_ns(lambda: fresh.pip_at(fresh.now()), number),
        "internal clock, 3,000 segments": per_call_ns(lambda: edited.pip_at(edited.now()),
                                                      number),
        "MIDI clock follower, running": per_call_ns(lambda: midi.pip_at(midi.now()), number),
        "network session clock": link_in_namespace(number),
    }
    print(f"{platform.processor() or platform.machine()}, {platform.python_implementation()} "
          f"{platform.python_version()}")
    print(f"baseline time.monotonic_ns(): {base:8.0f} ns a call")
    for name, figure in figures.items():
        if figure is None:
            print(f"{name}: skipped (no network namespace)")
        else:
            print(f"{name}: {figure:8.0f} ns a read, {figure / base:6.1f} x baseline")
    return 0


if __name__ == "__main__":
    sys.exit(main())
