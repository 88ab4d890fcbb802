"""`python -m kinetra_live run` drives an OSC receiver on this machine and stops cleanly."""

import argparse
import http.client
import signal
import socket
import struct
import subprocess
import sys
import threading
import time
from urllib.parse import urlsplit

import kinetra
import pytest
from pythonosc.dispatcher import Dispatcher
from pythonosc.osc_server import ThreadingOSCUDPServer

from kinetra_live import run

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


def run_main(path):
    parser = argparse.ArgumentParser()
    run.add_arguments(parser)
    return run.main(parser.parse_args([str(path)]))


def test_the_first_frame_is_the_show_start_however_long_outputs_take_to_open(
        tmp_path, monkeypatch, capsys):
    pips = []

    class SlowOutput:
        def __init__(self, show, output):
            time.sleep(2)       # 8 beats at 240 BPM

        def send(self, frame):
            pips.append(frame.pip)
            signal.raise_signal(signal.SIGTERM)

        def park(self):
            pass

        def close(self):
            pass

    monkeypatch.setattr(run, "open_output", SlowOutput)
    show = tmp_path / "show.toml"
    show.write_text(SHOW.format(name="spot", port=9))
    assert run_main(show) == 0
    assert pips and pips[0] < 256      # a busy machine may take a while to send it


def test_outputs_that_cannot_work_here_are_refused_before_anything_is_opened(
        tmp_path, monkeypatch, capfd):
    opened = []
    monkeypatch.setattr(run, "open_output", lambda show, output: opened.append(output))
    resolve = socket.getaddrinfo

    def resolver(host, *args, **kwargs):
        if host != "127.0.0.1":
            raise socket.gaierror(socket.EAI_NONAME, "Name or service not known")
        return resolve(host, *args, **kwargs)
    monkeypatch.setattr(socket, "getaddrinfo", resolver)
    show = tmp_path / "show.toml"
    second = '\n[[output]]\nkind = "{}"\nname = "second"\naddress = "{}"\n'
    show.write_text(SHOW.format(name="spot", port=9000)
                    + second.format("osc", "mixer.invalid:9000"))
    assert run_main(show) == 2
    assert capfd.readouterr().err == ("run: output[1].address: cannot resolve "
                                      "'mixer.invalid': Name or service not known\n")
    pytest.importorskip("rtmidi", reason="MIDI ports need python-rtmidi")
    show.write_text(SHOW.format(name="spot", port=9000).replace(
        "park =", "midi = { cc = [20] }\npark =") + second.format("midi", "no such port"))
    assert run_main(show) == 2
    err = capfd.readouterr().err
    assert err.startswith("run: output[1].address: no MIDI ") and err.count("\n") == 1
    show.write_text(SHOW.format(name="spot", port=9000).replace(
        "[clock]\n", '[clock]\nsource = "midi"\nport = "no such port"\n'))
    assert run_main(show) == 2
    err = capfd.readouterr().err
    assert err.startswith("run: clock.port: no MIDI ") and err.count("\n") == 1
    assert opened == []


def test_the_remote_serves_on_an_ipv6_address_in_brackets(tmp_path):
    try:
        with socket.socket(socket.AF_INET6) as probe:
            probe.bind(("::1", 0))
    except OSError:
        pytest.skip("no IPv6 loopback here")
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as sink:
        sink.bind(("127.0.0.1", 0))
        show = tmp_path / "show.toml"
        show.write_text(SHOW.format(name="spot", port=sink.getsockname()[1]))
        process = subprocess.Popen([sys.executable, "-m", "kinetra_live", "run", str(show),
                                    "--remote-bind", "[::1]:0"], stderr=subprocess.PIPE,
                                   text=True)
        try:
            line = process.stderr.readline()
            assert line.startswith("run: remote control at http://[::1]:"), line
            parts = urlsplit(line.split(" at ", 1)[1].strip())
            token = parts.query.removeprefix("token=")
            for headers, status in (({}, 403), ({"X-Kinetra-Token": token}, 200)):
                connection = http.client.HTTPConnection("::1", parts.port, timeout=30)
                try:
                    connection.request("GET", "/status", headers=headers)
                    assert connection.getresponse().status == status
                finally:
                    connection.close()
        finally:
            process.send_signal(signal.SIGTERM)
            _, err = process.communicate(timeout=60)
    assert process.returncode == 0, err
