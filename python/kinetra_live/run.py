"""`run SHOW`: follow the show's clock and send a frame to every output at the frame rate.

One clock read a frame; deadlines are whole nanoseconds from the start (frame k at
start + k * 10**9 // fps), so the rate never drifts. A frame that cannot start within one
period of its deadline is skipped and counted late, rather than sent in a burst. SIGINT and
SIGTERM finish the frame in hand, park or black out the outputs as the show says, and close.

Before anything is opened, every output's host must resolve and every MIDI port must be there;
then the outputs open, and only then does the clock start, so the first frame is the show's
start however long the outputs took.

Live control (`live_control`): the show's OSC and MIDI inputs, `--remote` and
`--record-control FILE` (every event applied, `<seconds> <event>` a line, for
`render --control`). With it, frame k is sampled at k / fps of the show clock, as `render`
samples it.
"""

from __future__ import annotations

import argparse
import math
import signal
import sys
import time
from pathlib import Path

from . import control as controls
from . import show as shows
from .clocks import InternalClock
from .delays import Offsets
from .outputs import OutputError, check_midi_port, check_output, open_output
from .quoting import one_line
from .sampler import Sampler

EXAMPLE = """example:
  python -m kinetra_live run examples/shows/club.toml
  python -m kinetra_live run examples/shows/set.toml --record-control set.txt --remote
  (Ctrl-C or SIGTERM stops it; the outputs park or black out as the show says)"""

STATUS_EVERY_NS = 250_000_000


class Runner:
    """The frame loop, with its time and sleep injectable so tests can simulate both."""

    def __init__(self, show: shows.Show, clock, senders, *, now_ns=time.monotonic_ns,
                 sleep=time.sleep, status=None, control=None):
        self.show, self.clock, self.senders = show, clock, list(senders)
        self.control = control
        self.sampler = Sampler(show) if control is None else control.sampler
        self.offsets = Offsets(show)
        self.period_ns = 10**9 // show.fps
        self._now_ns, self._sleep, self._status = now_ns, sleep, status
        self.frames = self.late = 0
        self.frame_ns = 0
        self.stopping = False

    def send_frame(self, deadline_ns: int | None = None):
        """Read the clock once and send the frame of that pip to every output; under live
        control, the frame of the deadline's time."""
        started = self._now_ns()
        if self.control is not None:
            frame, by_output = self.control.frame(
                started if deadline_ns is None else deadline_ns, self.offsets)
            for sender in self.senders:
                sender.send(frame if by_output is None else by_output[sender.output.name])
        elif self.offsets.none:
            now = self.clock.now()
            frame = self.sampler.frame(self.clock.pip_at(now))
            for sender in self.senders:
                sender.send(frame)
        else:
            now = self.clock.now()
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
        bar = self.show.beats_per_bar
        line = (f"{float(self.clock.bpm_at(now)):7.2f} BPM  {whole // bar + 1}.{whole % bar + 1}  "
                f"{self.clock.name}  frame {self.frame_ns / 1e6:.2f} ms  late {self.late}")
        if self.control is not None:
            line += "  " + self.control.status_text(self.control.timeline.now())
        return line

    def run(self, max_frames: int | None = None, start_ns: int | None = None) -> None:
        """Send frames until stopped; `start_ns` puts frame 0's deadline there (the loop
        begins with the first deadline not yet past)."""
        fps = self.show.fps
        start = self._now_ns() if start_ns is None else start_ns
        k = max(0, -(-(self._now_ns() - start) * fps // 10**9))
        next_status = start
        while not self.stopping and (max_frames is None or self.frames < max_frames):
            deadline = start + k * 10**9 // fps
            now = self._now_ns()
            if now < deadline:
                self._sleep((deadline - now) / 1e9)
                continue
            behind = (now - deadline) // self.period_ns
            if behind:
                self.late += behind
                k += behind
                continue
            self.send_frame(deadline)
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
    parser.add_argument("--record-control", type=Path, metavar="FILE",
                        help="write every event applied, for render --control")
    parser.add_argument("--remote", action="store_true",
                        help="serve a control page on 127.0.0.1 (its URL, with the token "
                             "every request needs, is printed once)")
    parser.add_argument("--remote-bind", type=_bind, metavar="HOST:PORT",
                        help="serve the control page here instead (implies --remote)")


def _bind(text: str) -> tuple[str, int]:
    """HOST:PORT, an IPv6 address in brackets ([::1]:8080)."""
    host, colon, port = text.rpartition(":")
    bracketed = host.startswith("[") and host.endswith("]")
    if bracketed:
        host = host[1:-1]
    if not (colon and host and port.isascii() and port.isdigit() and int(port) < 65536
            and host.isprintable() and not any(c.isspace() for c in host)
            and (":" in host) == bracketed):
        raise argparse.ArgumentTypeError(f"expected HOST:PORT (an IPv6 address in brackets), "
                                         f"got {one_line(repr(text), 80)}")
    return host, int(port)


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
    if show.control.midi_port is not None:
        try:
            check_midi_port(show.control.midi_port, "input")
        except OutputError as exc:
            return f"control.midi_port: {exc}"
    return None


def _open_control(show: shows.Show, clock, record, remote=None):
    """The live control of the show, its inputs listening; (control, None) or (None, why)."""
    from .live_control import LiveControl, open_midi, open_osc

    live = LiveControl(show, clock, record=record)
    where = "--remote-bind"
    try:
        if remote is not None:
            from .remote import Remote

            page = Remote(live, *remote)
            live.add_input(page)
            print(f"run: remote control at {page.url}", file=sys.stderr, flush=True)
        where = "control.osc"
        if show.control.osc is not None:
            open_osc(live, *show.control.osc)
        where = "control.midi_port"
        if show.control.midi_port is not None:
            open_midi(live, show.control.midi_port)
    except ImportError as exc:
        live.close()
        return None, f"{where}: needs the live extra (pip install \"kinetra[live]\"): {exc}"
    except (OSError, RuntimeError) as exc:
        live.close()
        return None, f"{where}: cannot listen: {one_line(str(exc))}"
    return live, None


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
    record = None
    if args.record_control is not None:
        try:
            record = controls.Recorder(args.record_control)
        except OSError as exc:
            print(f"run: --record-control: {one_line(str(args.record_control), 200)}: "
                  f"{exc.strerror or exc}", file=sys.stderr)
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
        if record is not None:
            record.close()
        print(f"run: {where}: needs the live extra (pip install \"kinetra[live]\"): "
              f"{one_line(str(exc))}", file=sys.stderr)
        return 2
    except OutputError as exc:
        for sender in senders:
            sender.close()
        if record is not None:
            record.close()
        print(f"run: {where}: {exc}", file=sys.stderr)
        return 2
    except (OSError, RuntimeError, ValueError) as exc:
        for sender in senders:
            sender.close()
        if record is not None:
            record.close()
        print(f"run: {where}: {one_line(str(exc))}", file=sys.stderr)
        return 1
    tty = sys.stderr.isatty()

    def status(line: str) -> None:
        print(f"\r{line}\x1b[K", end="", file=sys.stderr, flush=True)

    remote = args.remote_bind or (("127.0.0.1", 0) if args.remote else None)
    live, why = _open_control(show, clock, record, remote)
    if live is None:
        for sender in senders:
            sender.close()
        clock.close()
        print(f"run: {why}", file=sys.stderr)
        return 2
    runner = Runner(show, clock, senders, status=status if tty else None, control=live)
    if isinstance(clock, InternalClock):
        clock.start()       # beat 0 at the first frame, not when the clock was made

    def request_stop(signum, frame) -> None:
        runner.stopping = True
    previous = {sig: signal.signal(sig, request_stop) for sig in (signal.SIGINT, signal.SIGTERM)}
    try:
        runner.run(start_ns=live.start_ns())
    except OSError as exc:
        print(f"\nrun: {one_line(str(exc))}", file=sys.stderr)
        return 1
    finally:
        runner.stop()
        live.close()
        for sig, handler in previous.items():
            signal.signal(sig, handler)
    print(("\n" if tty else "") + f"run: stopped after {runner.frames} frames, "
          f"{runner.late} late; outputs {'parked' if show.on_stop == 'park' else 'blacked out'}",
          file=sys.stderr)
    return 0
