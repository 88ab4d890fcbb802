"""Peers of a network tempo session, for the tests; run only inside a network namespace of its
own. `follow` and `pair` print one JSON object; `foreign` and `instance` are their peers."""

import json
import socket
import subprocess
import sys
import time
from fractions import Fraction

from kinetra_live.link_clock import LinkClock


def wait_for_peers(peers, seconds=30):
    deadline = time.monotonic() + seconds
    while peers() < 1:
        if time.monotonic() > deadline:
            sys.exit("no peer found")
        time.sleep(0.01)


def spawn(*args):
    return subprocess.Popen([sys.executable, __file__, *map(str, args)], text=True,
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE)


def foreign(bpm):
    """A peer that is not ours: it changes the tempo when told, and reports its own."""
    import link

    peer = link.Link(float(bpm))
    peer.enabled = True
    print("up", flush=True)
    for line in sys.stdin:
        at = peer.clock().micros()
        if line.startswith("tempo"):
            state = peer.captureAppSessionState()
            state.setTempo(float(line.split()[1]), at)
            peer.commitAppSessionState(state)
        if line.startswith("beat"):
            # its beat at a time of the host's clock, which every peer here reads alike
            _, micros, quantum = line.split()
            print(peer.captureAppSessionState().beatAtTime(int(micros), float(quantum)),
                  flush=True)
            continue
        print(peer.captureAppSessionState().tempo(), peer.numPeers(), at, flush=True)


def follow():
    peer = spawn("foreign", 120)
    assert peer.stdout.readline() == "up\n"
    time.sleep(1)  # a session that was there before us
    clock = LinkClock(90, 4)
    wait_for_peers(lambda: clock.peers)
    # Joined once the session's timeline has reached us: our own tempo is for when we are alone.
    deadline = time.monotonic() + 30
    while clock.bpm_at(clock.now()) == 90 and time.monotonic() < deadline:
        time.sleep(0.01)
    peer.stdin.write("report\n")
    peer.stdin.flush()
    foreign_tempo = float(peer.stdout.readline().split()[0])
    joined = clock.bpm_at(clock.now())
    reads = []
    for k in range(900):
        if k in (200, 550):
            peer.stdin.write("tempo 150\n" if k == 200 else "tempo 100\n")
            peer.stdin.flush()
        now = clock.now()
        # The tempo after the beat: a read that shows a new tempo has seen it by then.
        reads.append((str(now), str(clock.beat_at(now)), str(clock.bpm_at(now))))
        time.sleep(0.003)
    # When the peer made each change, on the clock every process of the machine shares.
    changes = [str(Fraction(int(peer.stdout.readline().split()[2]), 1_000_000)) for _ in range(2)]
    print(json.dumps({"joined": str(joined), "foreign_after_join": foreign_tempo,
                      "final": str(clock.bpm_at(clock.now())), "reads": reads,
                      "changes": changes}))
    peer.stdin.close()
    peer.wait()
    clock.close()


def join(quantum):
    """Our clock runs alone, then finds a session that was there before it, while reading."""
    peer = spawn("foreign", 120)
    assert peer.stdout.readline() == "up\n"
    time.sleep(1)
    clock = LinkClock(120, quantum)
    reads, alone, joined = [], None, None
    began = time.monotonic()
    # read on for longer than a bar after joining (2 s at 120 BPM), whenever discovery ends
    while time.monotonic() - (joined or began + 30) < 3:
        now = clock.now()
        reads.append((str(now), str(clock.beat_at(now))))
        if alone is None and clock.peers:
            alone, joined = len(reads), time.monotonic()
        time.sleep(0.003)
    micros = clock._clock.micros()
    ours = clock.beat_at(Fraction(micros, 1_000_000))
    peer.stdin.write(f"beat {micros} {quantum}\n")
    peer.stdin.flush()
    theirs = peer.stdout.readline().strip()
    print(json.dumps({"reads": reads, "alone": alone, "ours": str(ours), "theirs": theirs}))
    peer.stdin.close()
    peer.wait()
    clock.close()


def instance(show_path, bpm, start):
    """One machine of a rig: the show's fixtures at the session's pips, at shared times."""
    from kinetra_live.sampler import Sampler
    from kinetra_live.show import load_show

    show = load_show(show_path)
    sampler = Sampler(show)
    clock = LinkClock(bpm, show.quantum)
    print("up", flush=True)
    wait_for_peers(lambda: clock.peers)
    times = [Fraction(start) + Fraction(7 * k, 1000) for k in range(100)]
    while clock.now() < times[-1] + 1:
        time.sleep(0.01)
    frames = [sampler.frame(clock.pip_at(t)) for t in times]
    print(json.dumps({"bpm": str(clock.bpm_at(clock.now())),
                      "fixtures": [[[f.name, f.fixture_pip, f.raw] for f in frame.fixtures]
                                   for frame in frames]}))
    clock.close()


def pair(show_path):
    import link

    start = Fraction(link.Link(120).clock().micros(), 1_000_000) + 5
    first = spawn("instance", show_path, 120, start)
    assert first.stdout.readline() == "up\n"
    # The second must find the first one's session already there; on a loaded machine half a
    # second was not always enough for the first to be up and announced.
    time.sleep(2)
    second = spawn("instance", show_path, 100, start)
    results = [json.loads(p.communicate()[0].splitlines()[-1]) for p in (first, second)]
    print(json.dumps(results))


if __name__ == "__main__":
    # Discovery is multicast: refuse to run anywhere but a namespace that has only loopback.
    if [name for _, name in socket.if_nameindex()] != ["lo"]:
        sys.exit("run only inside a network namespace of its own (unshare --net)")
    verb, *args = sys.argv[1:]
    {"follow": follow, "foreign": foreign, "join": join, "instance": instance,
     "pair": pair}[verb](*args)
