"""`python -m kinetra_live run` drives an OSC receiver on this machine and stops cleanly."""

import signal
import struct
import subprocess
import sys
import threading
import time

import kinetra
from pythonosc.dispatcher import Dispatcher
from pythonosc.osc_server import ThreadingOSCUDPServer

SHOW = """
fps = 50
[clock]
bpm = 240
[[fixture]]
name = "{name}"
pattern = "circle"
phase_pips = 32
park = [0.5, -0.5, 0.0]
[[output]]
kind = "osc"
address = "127.0.0.1:{port}"
"""


def test_run_drives_osc_and_parks_on_sigterm(tmp_path):
    received = []
    dispatcher = Dispatcher()
    dispatcher.set_default_handler(lambda address, *args: received.append((address, args)))
    server = ThreadingOSCUDPServer(("127.0.0.1", 0), dispatcher)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    show = tmp_path / "show.toml"
    show.write_text(SHOW.format(name="spot", port=server.server_address[1]))
    try:
        process = subprocess.Popen([sys.executable, "-m", "kinetra_live", "run", str(show)],
                                   stderr=subprocess.PIPE, text=True)
        deadline = time.monotonic() + 30
        while len(received) < 25 and time.monotonic() < deadline:
            time.sleep(0.02)
        process.send_signal(signal.SIGTERM)
        _, err = process.communicate(timeout=30)
        # The park frame is the last one sent; wait for the server to have handled it.
        deadline = time.monotonic() + 30
        while (0.5, -0.5, 0.0) not in [args for _, args in received] \
                and time.monotonic() < deadline:
            time.sleep(0.01)
    finally:
        server.shutdown()
        server.server_close()
    assert process.returncode == 0, err
    assert err.startswith("run: stopped after ") and err.endswith("outputs parked\n")
    assert len(received) >= 26 and {address for address, _ in received} == {"/kinetra/spot"}
    f32 = lambda values: tuple(struct.unpack("3f", struct.pack("3f", *values)))
    loop = {f32(kinetra.circle(pip).as_tuple()): pip for pip in range(64)}
    pips = [loop[args] for _, args in received[:-1]]
    # 240 BPM at 50 fps is 5.12 pips a frame: the circle turns on and never steps back (a busy
    # machine may skip frames, never by half a turn)
    steps = [(b - a) % 64 for a, b in zip(pips, pips[1:])]
    assert all(step < 32 for step in steps) and sum(steps) > 0
    assert received[-1][1] == (0.5, -0.5, 0.0)
