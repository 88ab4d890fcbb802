"""Live control for `run`: inputs queue events, each frame applies those that arrived before
its time, and the controllers hear the show's status back.

Every input (OSC, MIDI, the remote) hands its event to `submit`, which stamps it with the show
clock's time under one lock, so the queue is in time order. A frame is sampled at its deadline
on the frame grid (frame k at k / fps of the show clock, as `render` samples it) and applies
first every event queued by then; one that arrived after the deadline, while the loop was
waking, is applied (and recorded) at the deadline's time, so it is not held back a whole
frame. So a recorded set rendered with `render --control` goes through the same events at the
same times and gives the same frames.

An event the show cannot take (a bad argument, an unknown address, a tempo event on a
followed clock) is logged once per address or kind and ignored; the show keeps running.
"""

from __future__ import annotations

import collections
import logging
import math
import threading
import time
from fractions import Fraction

from . import control as controls
from . import show as shows
from .quantise import point
from .quoting import one_line, quote
from .sampler import Sampler

log = logging.getLogger("kinetra_live")

STATUS_EVERY_NS = 250_000_000
STATUS_ADDRESS = "/kinetra/status"
# the controllers that last sent something hear the status; a few are enough
REPLY_TO = 8
OSC_PREFIX = "/kinetra/"
NANOSECOND = Fraction(1, 10**9)


class LiveControl:
    def __init__(self, show: shows.Show, clock, *, record=None):
        self.show = show
        self.timeline = controls.ClockTimeline(clock, clock.now())
        # a followed clock keeps time its own way (the network session's clock): the frame
        # loop's monotonic deadlines are moved onto it once
        self._base = clock.now() - Fraction(time.monotonic_ns(), 10**9)
        self.sampler = Sampler(show)
        self.controller = controls.Controller(show, self.sampler, self.timeline, record=record)
        self._lock = threading.Lock()
        self._queue: collections.deque = collections.deque()
        self._drained = None        # the time of the last frame that took events
        self._told: set[str] = set()
        self._replies: collections.OrderedDict = collections.OrderedDict()
        self._next_status_ns = 0
        self._inputs: list = []     # each has close()
        self._status_send = None    # (datagram, address) -> None, once OSC is open
        # what other threads (the remote) may read: made by the frame loop, never shared state
        self.latest: controls.Status | None = None
        self.received = 0

    # -- the clock's grid

    def seconds_at_ns(self, ns: int) -> Fraction:
        clock = self.timeline.clock
        if hasattr(clock, "show_seconds"):
            return clock.show_seconds(Fraction(ns, 10**9))
        return Fraction(ns, 10**9) + self._base - self.timeline._origin

    def start_ns(self) -> int:
        """The monotonic nanosecond at which the show clock reads 0: frame 0's deadline."""
        return math.ceil(-self.seconds_at_ns(0) * 10**9)

    # -- inputs

    def submit(self, event: controls.Event, reply_to=None) -> None:
        """Queue an event from any thread, stamped with the show clock's time now."""
        with self._lock:
            seconds = self.timeline.now()
            if self._drained is not None and seconds <= self._drained:
                seconds = self._drained + NANOSECOND    # never into a frame already taken
            self._queue.append((seconds, event, reply_to))
            self.received += 1

    def refuse(self, where: str, reason: str) -> None:
        """Log an input that is ignored, once for each address or kind."""
        if where not in self._told:
            self._told.add(where)
            log.warning("control %s: %s; ignored (said once)", one_line(where, 80),
                        one_line(reason, 200))

    def add_input(self, source) -> None:
        self._inputs.append(source)

    def send_status_with(self, send) -> None:
        self._status_send = send

    # -- frames

    def frame(self, at_ns: int, offsets=None):
        """Apply the events due by frame time `at_ns` and sample the frame; with output delays
        (`offsets`), also each output's frame. Returns (frame, by_output or None)."""
        seconds = self.seconds_at_ns(at_ns)
        with self._lock:
            due, self._queue = self._queue, collections.deque()
            self._drained = seconds
        applied = False
        for stamp, event, reply_to in due:
            try:
                self.controller.apply(min(stamp, seconds), event)
                applied = True
            except ValueError as exc:   # NotApplied, or a name the show does not have
                self.refuse(event.kind, str(exc))
            if reply_to is not None:
                self._replies.pop(reply_to, None)
                self._replies[reply_to] = True
                while len(self._replies) > REPLY_TO:
                    self._replies.popitem(last=False)
        controller, timeline = self.controller, self.timeline
        if offsets is None or offsets.none:
            pip = timeline.pip_at(seconds)
            controller.settle(pip)
            frame, by_output = controller.frame(pip), None
        else:
            pips = {ahead: timeline.pip_at(seconds + ahead) for ahead in offsets.distinct}
            controller.settle(min(pips.values()))
            frame, by_output = offsets.frames(controller, pips.__getitem__)
        if applied or at_ns >= self._next_status_ns:
            self._next_status_ns = at_ns + STATUS_EVERY_NS
            self.latest = self.controller.status(seconds)
            if self._status_send is not None:
                self.send_status(self.latest)
        return frame, by_output

    def send_status(self, status: controls.Status) -> None:
        from pythonosc.osc_message_builder import build_msg

        datagram = build_msg(STATUS_ADDRESS, [status.bpm, status.bar, status.beat, status.cue,
                                              status.clock, status.last_event]).dgram
        targets = list(self._replies)
        if self.show.control.status is not None:
            targets.append(self.show.control.status)
        for target in targets:
            try:
                self._status_send(datagram, target)
            except OSError:
                pass        # a controller that has gone away does not stop the show

    def status_text(self, seconds: Fraction) -> str:
        """The cue playing, the next quantise point and the last event, for `run`'s line."""
        controller = self.controller
        status = controller.status(seconds)
        waiting = controller.next_change()
        if waiting is None:
            quantise = self.show.control.quantise
            pip = self.timeline.pip_at(seconds)
            upcoming = "" if quantise.kind == "loop" else (
                f"next {quantise.text} "
                f"{controller.bar_beat(point(quantise, pip + 1, self.show.beats_per_bar))}")
        else:
            upcoming = f"next {controller.bar_beat(waiting[0])} {waiting[1].text}"
        return (f"cue {status.cue or '-'}  {upcoming}  last {status.last_event or '-'}").rstrip()

    def close(self) -> None:
        for source in self._inputs:
            try:
                source.close()
            except OSError:
                pass
        record = self.controller.record
        if record is not None:
            record.close()


def _osc_handler(live: LiveControl, kind: str):
    wanted = controls.EVENTS[kind]

    def handle(client, address, *args):
        if not wanted:
            # a button sends 1 when pressed and 0 when let go: only the press counts
            if len(args) > 1 or (args and not isinstance(args[0], (int, float))):
                live.refuse(address, f"expected no argument or one number, got {len(args)}")
                return
            if args and args[0] == 0:
                return
            args = ()
        try:
            event = controls.check(controls.make_event(kind, *args), live.show)
        except ValueError as exc:
            live.refuse(address, str(exc))
            return
        live.submit(event, client)
    return handle


def open_osc(live: LiveControl, host: str, port: int):
    """Listen for the /kinetra/... controls on host:port; OSError if it cannot."""
    from pythonosc.dispatcher import Dispatcher
    from pythonosc.osc_server import BlockingOSCUDPServer

    dispatcher = Dispatcher()
    for kind in controls.EVENTS:
        dispatcher.map(OSC_PREFIX + kind, _osc_handler(live, kind), needs_reply_address=True)
    dispatcher.set_default_handler(
        lambda client, address, *args: live.refuse(address, "unknown address"),
        needs_reply_address=True)
    server = BlockingOSCUDPServer((host, port), dispatcher)
    thread = threading.Thread(target=server.serve_forever, name="kinetra-osc-control",
                              daemon=True)
    thread.start()

    class Source:
        address = server.server_address

        @staticmethod
        def close():
            server.shutdown()
            server.server_close()

    live.add_input(Source)
    live.send_status_with(lambda datagram, target: server.socket.sendto(datagram, target))
    return Source


def midi_event(mapping: shows.MidiControl, message) -> controls.Event | None:
    """The event a MIDI message means under one entry of the show's map, or None."""
    if mapping.channel is not None and getattr(message, "channel", -1) != mapping.channel - 1:
        return None
    if mapping.note is not None:
        if message.type == "note_on" and message.note == mapping.note and message.velocity:
            return controls.parse_event(mapping.event)
        return None
    if message.type == "control_change" and message.control == mapping.cc:
        return controls.make_event(mapping.event, mapping.offset + message.value * mapping.scale)
    return None


def open_midi(live: LiveControl, port_name: str):
    """Follow the show's MIDI map on an input port (mido)."""
    import mido

    maps = live.show.control.midi

    def receive(message) -> None:
        for mapping in maps:
            try:
                event = midi_event(mapping, message)
            except ValueError as exc:
                live.refuse(f"midi {message.type} {quote(mapping.event)}", str(exc))
                continue
            if event is not None:
                live.submit(event)

    port = mido.open_input(port_name, callback=receive)
    live.add_input(port)
    return port
