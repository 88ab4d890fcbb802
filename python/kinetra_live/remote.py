"""`run --remote`: a phone-sized control page served by the running show.

Only someone holding the token printed at start can drive the rig: every request but the bare
page needs it (`?token=` or the `X-Kinetra-Token` header, compared in constant time), or gets
403. The Host header must be an address literal or `localhost` with the served port, so a DNS
name rebound to this machine cannot reach it from another site; a request whose Origin is not
this server's own is refused too. Events are POSTed as JSON (`{"event": "cue drop"}`), which
a plain HTML form cannot send without the page's script.
"""

from __future__ import annotations

import html
import ipaddress
import json
import secrets
import socket
import threading
from http import HTTPStatus
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit

from . import control as controls
from .quoting import one_line

MAX_BODY = 4096
NUDGE_MS = 10

PAGE = """<!doctype html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>kinetra remote</title>
<style>
body {{ font: 16px system-ui, sans-serif; margin: 0; padding: 12px; background: #111;
       color: #eee; max-width: 480px; }}
#status {{ font-family: monospace; padding: 8px; background: #222; border-radius: 6px;
          min-height: 2.6em; white-space: pre-wrap; }}
.row {{ display: grid; grid-template-columns: repeat(3, 1fr); gap: 8px; margin: 10px 0; }}
button {{ font-size: 18px; padding: 18px 4px; border: 0; border-radius: 8px;
         background: #345; color: #fff; touch-action: manipulation; }}
button.cue {{ background: #253; }} button.out {{ background: #522; }}
</style></head>
<body>
<div id="status">connecting…</div>
<div class="row">
<button data-event="tap">tap</button><button data-event="downbeat">downbeat</button>
<button data-event="resume" class="out">resume</button>
<button data-event="nudge -{nudge}">nudge −</button>
<button data-event="nudge {nudge}">nudge +</button>
<button data-event="blackout" class="out">blackout</button>
<button data-event="half">/2</button><button data-event="double">x2</button>
<button data-event="park" class="out">park</button>
</div>
<div class="row">{cues}</div>
<script>
"use strict";
const token = new URLSearchParams(location.search).get("token") || "";
const status = document.getElementById("status");
async function send(event) {{
  const answer = await fetch("/event", {{method: "POST", body: JSON.stringify({{event}}),
    headers: {{"Content-Type": "application/json", "X-Kinetra-Token": token}}}});
  if (!answer.ok) status.textContent = "refused: " + (await answer.text());
  else show(await answer.json());
}}
function show(s) {{
  if (s.bpm === undefined) return;
  status.textContent = `${{s.bpm.toFixed(2)}} BPM  ${{s.bar}}.${{s.beat}}  ${{s.clock}}\\n` +
    `cue ${{s.cue || "-"}}  last ${{s.last_event || "-"}}`;
  document.body.dataset.cue = s.cue;
  document.body.dataset.last = s.last_event;
}}
for (const button of document.querySelectorAll("button"))
  button.addEventListener("click", () => send(button.dataset.event));
async function poll() {{
  try {{
    const answer = await fetch("/status", {{headers: {{"X-Kinetra-Token": token}}}});
    if (answer.ok) show(await answer.json());
  }} catch (error) {{ status.textContent = "no answer from the show"; }}
  setTimeout(poll, 250);
}}
poll();
document.body.dataset.ready = "1";
</script>
</body></html>
"""


def _host_allowed(host: str, port: int) -> bool:
    name, colon, given = host.rpartition(":")
    if not colon or given != str(port):
        return False
    name = name[1:-1] if name.startswith("[") and name.endswith("]") else name
    if name == "localhost":
        return True
    try:
        ipaddress.ip_address(name)
    except ValueError:
        return False
    return True


class _IPv6Server(ThreadingHTTPServer):
    address_family = socket.AF_INET6


class Remote:
    """The remote's server on its own thread; `url` holds the token."""

    def __init__(self, live, host: str, port: int):
        self.live, self.token = live, secrets.token_urlsafe(18)
        cues = "".join(f'<button class="cue" data-event="cue {html.escape(c.name)}">'
                       f'{html.escape(c.name)}</button>' for c in live.show.cues)
        self.page = PAGE.format(cues=cues, nudge=NUDGE_MS).encode("utf-8")
        server = _IPv6Server if ":" in host else ThreadingHTTPServer
        self.server = server((host, port), self._handler())
        self.server.daemon_threads = True
        bound_host, bound_port = self.server.server_address[:2]
        shown = f"[{bound_host}]" if ":" in bound_host else bound_host
        self.url = f"http://{shown}:{bound_port}/?token={self.token}"
        self.port = bound_port
        threading.Thread(target=self.server.serve_forever, name="kinetra-remote",
                         daemon=True).start()

    def close(self) -> None:
        self.server.shutdown()
        self.server.server_close()

    def _status(self) -> dict:
        # the frame loop's latest status: the controller itself is the loop's alone
        status = self.live.latest
        return {} if status is None else status._asdict()

    def _handler(self):
        remote = self

        class Handler(BaseHTTPRequestHandler):
            server_version = "kinetra-remote"

            def log_message(self, *args) -> None:
                pass        # the show's terminal is for the show

            def _answer(self, code: int, body: bytes, kind: str = "text/plain") -> None:
                self.send_response(code)
                self.send_header("Content-Type", f"{kind}; charset=utf-8")
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Cache-Control", "no-store")
                self.send_header("X-Content-Type-Options", "nosniff")
                self.send_header("X-Frame-Options", "DENY")
                self.end_headers()
                self.wfile.write(body)

            def _refused(self, why: str) -> None:
                self._answer(HTTPStatus.FORBIDDEN, why.encode())

            def _allowed(self, token_needed: bool) -> bool:
                host = self.headers.get("Host", "")
                if not _host_allowed(host, remote.port):
                    self._refused("unknown host")
                    return False
                origin = self.headers.get("Origin")
                if origin is not None and origin != f"http://{host}":
                    self._refused("foreign origin")
                    return False
                if token_needed:
                    query = parse_qs(urlsplit(self.path).query).get("token", [""])[0]
                    given = self.headers.get("X-Kinetra-Token") or query
                    if not secrets.compare_digest(given.encode(), remote.token.encode()):
                        self._refused("no token")
                        return False
                return True

            def do_GET(self) -> None:
                path = urlsplit(self.path).path
                if path == "/":
                    if self._allowed(token_needed=False):
                        self._answer(HTTPStatus.OK, remote.page, "text/html")
                elif path == "/status":
                    if self._allowed(token_needed=True):
                        self._answer(HTTPStatus.OK, json.dumps(remote._status()).encode(),
                                     "application/json")
                else:
                    self._answer(HTTPStatus.NOT_FOUND, b"not found")

            def do_POST(self) -> None:
                if urlsplit(self.path).path != "/event":
                    self._answer(HTTPStatus.NOT_FOUND, b"not found")
                    return
                if not self._allowed(token_needed=True):
                    return
                try:
                    length = int(self.headers.get("Content-Length", "0"))
                    if not 0 < length <= MAX_BODY:
                        raise ValueError("expected a JSON body of at most 4096 bytes")
                    if self.headers.get_content_type() != "application/json":
                        raise ValueError("expected application/json")
                    text = json.loads(self.rfile.read(length)).get("event")
                    event = controls.check(controls.parse_event(text), remote.live.show)
                except (ValueError, AttributeError) as exc:
                    self._answer(HTTPStatus.BAD_REQUEST, one_line(str(exc), 200).encode())
                    return
                remote.live.submit(event)
                self._answer(HTTPStatus.OK, json.dumps(remote._status()).encode(),
                             "application/json")

        return Handler
