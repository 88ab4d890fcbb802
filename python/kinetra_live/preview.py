"""Serve the preview page on 127.0.0.1: every pattern moving at tempo, sampled exactly on demand.

    python -m kinetra_live preview
    python -m kinetra_live preview --pack my_pack.json --port 0 --no-browser
    python -m kinetra_live preview --show examples/shows/house.toml

The page asks for one loop at a time; the samples travel as JSON, whose floats are the
shortest round-trip text, so the browser holds the very doubles the module returned. With a
show, the page also follows the show's clock (its tempo map and latency offset, as `run` does)
and draws each fixture where the show's sampler puts it.
"""

from __future__ import annotations

import argparse
import functools
import json
import sys
import threading
import webbrowser
from http import HTTPStatus
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from importlib import resources
from pathlib import Path
from urllib.parse import parse_qs, urlsplit

from . import page_data
from .packs import Pack, PackError, read_pack
from .sampler import Sampler
from .show import ShowError, load_show, make_clock
from .stage_view import StageView

ASSETS = {"/": ("index.html", "text/html"), "/index.html": ("index.html", "text/html"),
          "/preview.js": ("preview.js", "text/javascript"), "/preview.css": ("preview.css", "text/css"),
          "/stage.html": ("stage.html", "text/html"), "/stage.js": ("stage.js", "text/javascript")}


class PreviewApp:
    """What the server answers, apart from HTTP: the index, one entry's samples, the assets,
    and with a show the frame its sampler gives at its clock's pip now."""

    def __init__(self, pack: Pack | None = None, show=None, clock=None):
        self.pack = pack
        self.entries = page_data.entries(pack)
        self.by_key = {(e["kind"], e["name"]): e for e in self.entries}
        self.show, self.clock, self.sampler = show, clock, None
        self.stage = None if show is None else StageView(show)
        about = None
        if show is not None:
            self.sampler = Sampler(show)
            about = {"fixtures": [f.name for f in show.fixtures],
                     "latency_ms": float(show.clock.latency_ms)}
        self.lock = threading.Lock()  # the sampler and the clock serve one request at a time
        self.index = json.dumps({"entries": self.entries, "show": about,
                                 "refusals": page_data.refusals(pack)},
                                ensure_ascii=False).encode("utf-8")

    def frame(self) -> dict:
        with self.lock:
            now = self.clock.now()
            pip = self.clock.pip_at(now)
            frame = self.sampler.frame(pip)
            return {"pip": pip, "beat": float(self.clock.beat_at(now)),
                    "bpm": float(self.clock.bpm_at(now)), "running": self.clock.running_at(now),
                    "clock": self.clock.name, "latency_ms": float(self.show.clock.latency_ms),
                    "fixtures": [{"name": f.name, "pattern": f.pattern,
                                  "fixture_pip": f.fixture_pip, "raw": list(f.raw),
                                  "out": list(f.out)} for f in frame.fixtures]}

    @functools.lru_cache(maxsize=256)
    def samples(self, kind: str, name: str) -> bytes | None:
        entry = self.by_key.get((kind, name))
        return None if entry is None else json.dumps(page_data.samples(entry, self.pack)).encode()

    def answer(self, target: str) -> tuple[HTTPStatus, str, bytes]:
        try:
            url = urlsplit(target)
        except ValueError:  # an unclosed "[" in the host part, say
            return HTTPStatus.BAD_REQUEST, "text/plain", b"bad request target\n"
        if url.path in ASSETS:
            name, kind = ASSETS[url.path]
            body = resources.files("kinetra_live").joinpath("page", name).read_bytes()
            return HTTPStatus.OK, kind, body
        if url.path == "/api/entries":
            return HTTPStatus.OK, "application/json", self.index
        if url.path == "/api/frame" and self.sampler is not None:
            return HTTPStatus.OK, "application/json", json.dumps(self.frame()).encode()
        if url.path.startswith("/api/stage/") and self.stage is not None:
            return self.stage.answer(url.path, url.query, self)
        if url.path == "/api/samples":
            query = parse_qs(url.query)
            body = self.samples(query.get("kind", [""])[0], query.get("name", [""])[0])
            if body is not None:
                return HTTPStatus.OK, "application/json", body
        return HTTPStatus.NOT_FOUND, "text/plain", b"not found\n"


# Seconds a connection may sit without sending a whole request before it is closed, so that an
# idle or stalled client does not hold a thread open for good.
IDLE_SECONDS = 10.0
# The errors of a client that went away in the middle of an answer: nothing to report.
GONE = (ConnectionError, TimeoutError)


def allowed_hosts(port: int) -> frozenset[str]:
    """The Host headers the server answers: its loopback names with the port it serves on.
    Any other name may be a rebinding DNS name that points a foreign page at this server."""
    return frozenset(f"{name}:{port}" for name in ("127.0.0.1", "localhost", "[::1]"))


def report(error: BaseException) -> None:
    """One line on the terminal for a fault of ours, quoted and cut: never a traceback."""
    print(f"preview: error answering a request: {type(error).__name__}: {str(error)[:160]!r}",
          file=sys.stderr, flush=True)


class PreviewServer(ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        error = sys.exc_info()[1]
        if not isinstance(error, GONE):
            report(error)


def make_server(app: PreviewApp, port: int, idle_seconds: float = IDLE_SECONDS) -> PreviewServer:
    class Handler(BaseHTTPRequestHandler):
        timeout = idle_seconds

        def do_GET(self):  # noqa: N802 (the standard library's name)
            if self.headers.get("Host", "").lower() not in hosts:
                status, kind, body = HTTPStatus.MISDIRECTED_REQUEST, "text/plain", b"unknown host\n"
            else:
                try:
                    status, kind, body = app.answer(self.path)
                except Exception as error:  # the client still gets an answer
                    report(error)
                    status, kind, body = HTTPStatus.INTERNAL_SERVER_ERROR, "text/plain", b"internal error\n"
            self.send_response(status)
            self.send_header("Content-Type", f"{kind}; charset=utf-8")
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Cache-Control", "no-store")
            self.end_headers()
            self.wfile.write(body)

        def end_headers(self):  # every answer, the standard library's error pages too
            self.send_header("X-Content-Type-Options", "nosniff")
            self.send_header("Cross-Origin-Resource-Policy", "same-origin")  # no embedding elsewhere
            super().end_headers()

        def log_message(self, format, *args):  # a status line, not a request log
            pass

    server = PreviewServer(("127.0.0.1", port), Handler)
    hosts = allowed_hosts(server.server_address[1])
    return server


def port_number(text: str) -> int | None:
    """The port a --port text names, or None; ASCII digits only, as int() also reads others."""
    port = int(text) if text.isascii() and text.isdigit() and len(text) <= 5 else -1
    return port if 0 <= port <= 65535 else None


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--pack", type=Path, help="a JSON pack of patterns and recordings to show")
    parser.add_argument("--show", type=Path, help="a show file: follow its clock and draw its fixtures")
    parser.add_argument("--port", default="8765", help="port on 127.0.0.1 (0: any free port)")
    parser.add_argument("--no-browser", action="store_true", help="do not open a browser")


def main(args: argparse.Namespace) -> int:
    port = port_number(args.port)
    if port is None:
        print(f"error: --port: expected a whole number from 0 to 65535, not {args.port[:20]!r}",
              file=sys.stderr)
        return 2
    show = clock = None
    try:
        pack = read_pack(args.pack) if args.pack else None
        if args.show:
            try:
                show = load_show(args.show)
            except ShowError as exc:
                print(f"error: {exc}", file=sys.stderr)
                return 2
            pack = pack or show.pack
            clock = make_clock(show)
    except PackError as exc:
        print(f"error: {exc}", file=sys.stderr)
        return 2
    try:
        server = make_server(PreviewApp(pack, show, clock), port)
    except OSError as exc:
        if clock is not None:
            clock.close()
        print(f"error: --port: cannot listen on 127.0.0.1:{port}: {exc.strerror}", file=sys.stderr)
        return 2
    url = f"http://127.0.0.1:{server.server_address[1]}/"
    print(f"serving the preview at {url} (Ctrl-C stops)", flush=True)
    if not args.no_browser:
        threading.Thread(target=webbrowser.open, args=(url,), daemon=True).start()
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
        if clock is not None:
            clock.close()
    return 0
