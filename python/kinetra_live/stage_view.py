"""The preview's stage view: every placed head, its beam where pan and tilt point now, and the
target of each aimed head, from the same sampler and degree mapping as the outputs.

    /stage.html                                   the view (top, front and perspective)
    /api/stage/about                              the rig: heads, positions, targets' centres
    /api/stage/frame                              pan, tilt, beam end and target now
    /api/stage/probe?fixture=NAME&seconds=S       pan and tilt of frame floor(S * fps), as
                                                  `run` sends them (text: two Python floats)
"""

from __future__ import annotations

import json
import math
from fractions import Fraction
from http import HTTPStatus
from urllib.parse import parse_qs

from . import aiming
from . import show as shows
from .delays import Offsets
from .outputs.degrees import HeadRig
from .sampler import Sampler
from .timebase import exact

BEAM_METRES = 12.0          # how far a beam that meets no floor is drawn
MAX_PROBE_SECONDS = 600     # the probe steps every frame from the first


class StageView:
    def __init__(self, show: shows.Show):
        self.show = show
        self.heads = HeadRig(show, show.fps)
        self.placed = [i for i, f in enumerate(show.fixtures)
                       if f.head is not None and f.head.position is not None]

    def about(self) -> dict:
        fixtures = []
        for i in self.placed:
            fixture = self.show.fixtures[i]
            head = fixture.head
            fixtures.append({"name": fixture.name, "position": list(head.position),
                             "hang": head.hang,
                             "at": None if head.aim is None else list(head.aim.at)})
        unplaced = [f.name for f in self.show.fixtures if f.name not in
                    {self.show.fixtures[i].name for i in self.placed}]
        return {"fixtures": fixtures, "unplaced": unplaced}

    def frame(self, frame) -> dict:
        angles = self.heads.step(frame)
        fixtures = []
        for i in self.placed:
            fixture, state = self.show.fixtures[i], frame.fixtures[i]
            head = fixture.head
            a = angles[i]
            direction = aiming.beam(a.pan, a.tilt, head.pan.span, head.tilt.span, head.hang)
            target = None
            if head.aim is not None:
                at, size = head.aim.at, head.aim.size
                target = [at[k] + state.out[k] * size[k] for k in range(3)]
                length = math.dist(head.position, target)
            elif direction[2] < -1e-9:
                length = -head.position[2] / direction[2]      # down to the floor
            else:
                length = BEAM_METRES
            end = [p + d * length for p, d in zip(head.position, direction)]
            fixtures.append({"name": fixture.name, "pan": a.pan, "tilt": a.tilt, "end": end,
                             "target": target})
        return {"pip": frame.pip, "fixtures": fixtures}

    def probe(self, name: str, seconds: Fraction) -> str | None:
        """Pan and tilt of `name` in the frame `run` sends at `seconds` (on the show's tempo
        map) through the DMX output of its universe, with that output's delay and the head's
        lead, stepped from the first frame as the outputs step them."""
        show = self.show
        index = next((i for i, f in enumerate(show.fixtures)
                      if f.name == name and f.head is not None), None)
        if index is None:
            return None
        universe = show.fixtures[index].head.universe
        output = next((o.name for o in show.outputs
                       if o.kind in ("sacn", "artnet") and o.universe == universe), None)
        sampler, heads, offsets = Sampler(show), HeadRig(show, show.fps), Offsets(show)
        tempo_map = show.clock.tempo_map()
        angles = None
        for n in range(math.floor(seconds * show.fps) + 1):
            time = Fraction(n, show.fps)
            frame, by_output = offsets.frames(sampler, lambda ahead: tempo_map.pip_at(time + ahead))
            angles = heads.step(frame if output is None else by_output[output])[index]
        return f"{angles.pan!r} {angles.tilt!r}"

    def answer(self, path: str, query: str, app) -> tuple[HTTPStatus, str, bytes]:
        if path == "/api/stage/about":
            return HTTPStatus.OK, "application/json", json.dumps(self.about()).encode()
        if path == "/api/stage/frame":
            with app.lock:
                frame = app.sampler.frame(app.clock.pip_at(app.clock.now()))
                body = self.frame(frame)
            return HTTPStatus.OK, "application/json", json.dumps(body).encode()
        if path == "/api/stage/probe":
            asked = parse_qs(query)
            try:
                seconds = exact(asked.get("seconds", [""])[0], "seconds")
            except (TypeError, ValueError, ZeroDivisionError):
                seconds = None
            if seconds is None or not 0 <= seconds <= MAX_PROBE_SECONDS:
                return (HTTPStatus.BAD_REQUEST, "text/plain",
                        f"seconds: expected 0 to {MAX_PROBE_SECONDS}\n".encode())
            text = self.probe(asked.get("fixture", [""])[0], seconds)
            if text is not None:
                return HTTPStatus.OK, "text/plain", text.encode()
        return HTTPStatus.NOT_FOUND, "text/plain", b"not found\n"
