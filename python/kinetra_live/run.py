"""`run SHOW`: follow the show's clock and send a frame to every output at the frame rate.

One clock read a frame; deadlines are whole nanoseconds from the start (frame k at
start + k * 10**9 // fps), so the rate never drifts. A frame that cannot start within one
period of its deadline is skipped and counted late, rather than sent in a burst. SIGINT and
SIGTERM finish the frame in hand, park or black out the outputs as the show says, and close.

Before anything is opened, every output's host must resolve and every MIDI port must be there;
then the outputs open, and only then does the clock start, so the first frame is the show's
start however long the outputs took.
"""

from __future__ import annotations

import argparse
import math
import signal
import sys
import time
from pathlib import Path

from . import show as shows
from .clocks import InternalClock
from .delays import Offsets
from .outputs import OutputError, check_midi_port, check_output, open_output
from .quoting import one_line
from .sampler import Sampler

EXAMPLE = """example:
  python -m kinetra_live run examples/shows/club.toml
  (Ctrl-C or SIGTERM stops it; the outputs park or black out as the show says)"""

STATUS_EVERY_NS = 250_000_000


class Runner:
    """The frame loop, with its time and sleep injectable so tests can simulate both."""

    def __init__(self, show: shows.Show, clock, senders, *, now_ns=time.monotonic_ns,
                 sleep=time.sleep, status=None):
        self.show, self.clock, self.senders = show, clock, list(senders)
        self.sampler = Sampler(show)
        self.offsets = Offsets(show)
        self.period_ns = 10**9 // show.fps
        self._now_ns, self._sleep, self._status = now_ns, sleep, status
        self.frames = self.late = 0
        self.frame_ns = 0
        self.stopping = False

    def send_frame(self):
        """Read the clock once and send the frame of that pip to every output."""
        started = self._now_ns()
        now = self.clock.now()
        if self.offsets.none:
            frame = self.sampler.frame(self.clock.pip_at(now))
            for sender in self.senders:
                sender.send(frame)
        else:
            frame, by_output = self.offsets.frames(self.sampler,
                                                   lambda ahead: self.clock.pip_at(now + ahead))
            for sender in self.senders:
                sender.send(by_output[sender.output.name])
        self.frame_ns = self._now_ns() - started
        self.frames += 1
        return frame

    def status_line(self) -> str:
        now = self.clock.now()
        beat = self.clock.beat_at(now)
        whole = math.floor(beat)
        return (f"{float(self.clock.bpm_at(now)):7.2f} BPM  {whole // 4 + 1}.{whole % 4 + 1}  "
                f"{self.clock.name}  frame {self.frame_ns / 1e6:.2f} ms  late {self.late}")

    def run(self, max_frames: int | None = None) -> None:
        start = self._now_ns()
        k = 0
        next_status = start
        while not self.stopping and (max_frames is None or self.frames < max_frames):
            deadline = start + k * self.period_ns
            now = self._now_ns()
            if now < deadline:
                self._sleep((deadline - now) / 1e9)
                continue
            behind = (now - deadline) // self.period_ns
            if behind:
                self.late += behind
                k += behind
                continue
            self.send_frame()
            k += 1
            if self._status is not None and now >= next_status:
                self._status(self.status_line())
                next_status = now + STATUS_EVERY_NS

    def stop(self) -> None:
        """Leave the outputs as the show says, then close them and the clock."""
        for sender in self.senders:
            try:
                sender.park() if self.show.on_stop == "park" else sender.blackout()
            except OSError:
                pass        # an output that has gone away cannot be parked; close the rest
        for sender in self.senders:
            try:
                sender.close()      # sACN's stream termination is sent here
            except OSError:
                pass
        self.clock.close()


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.epilog = EXAMPLE
    parser.formatter_class = argparse.RawDescriptionHelpFormatter
    parser.add_argument("show", type=Path, help="the show file (TOML)")


def _check(show: shows.Show) -> str | None:
    """What makes the show's outputs or clock unusable here, before anything is opened."""
    for index, output in enumerate(show.outputs):
        try:
            check_output(output)
        except OutputError as exc:
            return f"output[{index}].address: {exc}"
    if show.clock.source == "midi":
        try:
            check_midi_port(show.clock.port, "input")
        except OutputError as exc:
            return f"clock.port: {exc}"
    return None


def main(args: argparse.Namespace) -> int:
    try:
        show = shows.load_show(args.show)
    except shows.ShowError as exc:
        print(f"run: {exc}", file=sys.stderr)
        return 2
    fault = _check(show)
    if fault is not None:
        print(f"run: {fault}", file=sys.stderr)
        return 2
    # Outputs first, then the clock: the first frame sent is the show's start.
    senders = []
    try:
        for index, output in enumerate(show.outputs):
            where = f"output[{index}]"
            senders.append(open_output(show, output))
        where = "clock.source"
        clock = shows.make_clock(show)
    except ImportError as exc:
        for sender in senders:
            sender.close()
        print(f"run: {where}: needs the live extra (pip install \"kinetra[live]\"): "
              f"{one_line(str(exc))}", file=sys.stderr)
        return 2
    except OutputError as exc:
        for sender in senders:
            sender.close()
        print(f"run: {where}: {exc}", file=sys.stderr)
        return 2
    except (OSError, RuntimeError, ValueError) as exc:
        for sender in senders:
            sender.close()
        print(f"run: {where}: {one_line(str(exc))}", file=sys.stderr)
        return 1
    tty = sys.stderr.isatty()

    def status(line: str) -> None:
        print(f"\r{line}\x1b[K", end="", file=sys.stderr, flush=True)

    runner = Runner(show, clock, senders, status=status if tty else None)
    if isinstance(clock, InternalClock):
        clock.start()       # beat 0 at the first frame, not when the clock was made

    def request_stop(signum, frame) -> None:
        runner.stopping = True
    previous = {sig: signal.signal(sig, request_stop) for sig in (signal.SIGINT, signal.SIGTERM)}
    try:
        runner.run()
    except OSError as exc:
        print(f"\nrun: {one_line(str(exc))}", file=sys.stderr)
        return 1
    finally:
        runner.stop()
        for sig, handler in previous.items():
            signal.signal(sig, handler)
    print(("\n" if tty else "") + f"run: stopped after {runner.frames} frames, "
          f"{runner.late} late; outputs {'parked' if show.on_stop == 'park' else 'blacked out'}",
          file=sys.stderr)
    return 0
