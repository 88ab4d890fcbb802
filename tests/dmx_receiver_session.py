"""One end-to-end DMX session, run by test_live_dmx_receiver.py inside a network and mount
namespace of its own: olad (as its own user, with a private configuration on a tmpfs that
vanishes with the namespace) receives the sACN and Art-Net that `kinetra_live run` sends to
127.0.0.2 on a veth pair, and the universes it reports are printed as one JSON line.

    python dmx_receiver_session.py SHOW SACN_UNIVERSE ARTNET_UNIVERSE
"""

import json
import os
import re
import signal
import socket
import subprocess
import sys
import time
import urllib.request
from pathlib import Path

ADDRESS = "127.0.0.2"
CONFIG = Path("/mnt/kinetra-olad")
KEPT_PLUGINS = ("artnet", "e131")
# every plugin olad would otherwise start and probe hardware for
PLUGINS = ("dummy", "espnet", "ftdidmx", "gpio", "karate", "kinet", "milinst", "opendmx",
           "openpixelcontrol", "osc", "pathport", "renard", "sandnet", "shownet", "spi",
           "stageprofi", "uartdmx", "usbdmx", "usbserial", "dmx4linux", "nanoleaf")
SETTLE_SECONDS = 30


def wait_for(what: str, check, seconds: float = SETTLE_SECONDS):
    deadline = time.monotonic() + seconds
    while True:
        result = check()
        if result:
            return result
        if time.monotonic() > deadline:
            sys.exit(f"gave up waiting for {what}")
        time.sleep(0.05)


def http(path: str):
    try:
        with urllib.request.urlopen(f"http://127.0.0.1:9090{path}", timeout=2) as reply:
            return reply.read().decode()
    except OSError:
        return None


def universe(number: int) -> list[int] | None:
    reply = http(f"/get_dmx?u={number}")
    return None if reply is None else json.loads(reply)["dmx"]


def main() -> None:
    show, sacn_universe, artnet_universe = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    if [name for _, name in socket.if_nameindex() if name != "lo"]:
        sys.exit("run only inside a network namespace of its own (unshare --net)")
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    subprocess.run(["ip", "link", "add", "kv0", "type", "veth", "peer", "name", "kv1"],
                   check=True)
    subprocess.run(["ip", "addr", "add", f"{ADDRESS}/8", "dev", "kv0"], check=True)
    for name in ("kv0", "kv1"):
        subprocess.run(["ip", "link", "set", name, "up"], check=True)
    subprocess.run(["mount", "-t", "tmpfs", "-o", "mode=0755", "tmpfs", "/mnt"], check=True)
    CONFIG.mkdir()
    for plugin in PLUGINS:
        (CONFIG / f"ola-{plugin}.conf").write_text("enabled = false\n")
    (CONFIG / "ola-e131.conf").write_text(f"enabled = true\nip = {ADDRESS}\ninput_ports = 1\n"
                                          "output_ports = 0\n")
    # Art-Net from our own address would otherwise be taken for olad's own packets
    (CONFIG / "ola-artnet.conf").write_text(f"enabled = true\nip = {ADDRESS}\n"
                                            "use_loopback = true\noutput_ports = 0\n")
    os.chown(CONFIG, *olad_ids())
    for path in CONFIG.iterdir():
        os.chown(path, *olad_ids())
    uid, gid = olad_ids()
    olad = subprocess.Popen(
        ["setpriv", f"--reuid={uid}", f"--regid={gid}", "--clear-groups", "olad", "-c",
         str(CONFIG), "-l", "2", "--no-register-with-dns-sd"],
        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    runner = None
    try:
        wait_for("olad's web server", lambda: http("/"))
        devices = wait_for("olad's devices", lambda: device_ids(
            subprocess.run(["ola_dev_info"], capture_output=True, text=True).stdout))
        for kind, number in (("E1.31", sacn_universe), ("ArtNet", artnet_universe)):
            subprocess.run(["ola_patch", "--device", str(devices[kind]), "--port", "0",
                            "--input", "--universe", str(number)], check=True)
        runner = subprocess.Popen([sys.executable, "-m", "kinetra_live", "run", show],
                                  stderr=subprocess.PIPE, text=True)
        # the show stands still, so once a universe holds data it holds the frame sent
        seen = {number: wait_for(f"DMX on universe {number}",
                                 lambda: (lambda dmx: dmx if dmx and any(dmx) else None)(
                                     universe(number)))
                for number in (sacn_universe, artnet_universe)}
        runner.send_signal(signal.SIGTERM)
        _, run_errors = runner.communicate(timeout=SETTLE_SECONDS)
        # the park is the last frame the run sends, and olad holds it; olad may take a moment
        # to take it in after the run has exited
        deadline = time.monotonic() + 5
        while True:
            parked = {number: universe(number) for number in seen}
            if all(parked[n] != seen[n] for n in seen) or time.monotonic() > deadline:
                break
            time.sleep(0.05)
        print(json.dumps({"universes": {str(k): v for k, v in seen.items()},
                          "parked": {str(k): v for k, v in parked.items()},
                          "run_status": runner.returncode, "run_stderr": run_errors}))
    finally:
        if runner is not None and runner.poll() is None:
            runner.kill()
            runner.wait()
        olad.send_signal(signal.SIGTERM)
        try:
            olad.wait(timeout=SETTLE_SECONDS)
        except subprocess.TimeoutExpired:
            olad.kill()
            olad.wait()


def olad_ids() -> tuple[int, int]:
    import pwd
    entry = pwd.getpwnam("olad")
    return entry.pw_uid, entry.pw_gid


def device_ids(listing: str) -> dict[str, int] | None:
    found = {}
    for number, name in re.findall(r"^Device (\d+): (\S+)", listing, re.M):
        if name in ("E1.31", "ArtNet"):
            found[name] = int(number)
    return found if len(found) == 2 else None


if __name__ == "__main__":
    main()
