"""Several threads at once, from the very first use of the registry in a fresh interpreter,
get exactly what one thread gets."""

import json
import subprocess
import sys

WORK = r"""
import hashlib, json, sys, threading
import kinetra

def digest(value):
    return hashlib.sha256(repr(value).encode()).hexdigest()

def sampling():
    names = ["circle", "helix", "flam", "tamsel_background", "no_such_pattern"]
    out = []
    for name in names:
        for pip in range(-300, 300, 7):
            try:
                out.append(kinetra.sample(name, pip).as_tuple())
            except ValueError as exc:
                out.append(str(exc))
    return digest(out)

def listing():
    return digest(kinetra.catalogue())

def building():
    p = kinetra.SampledPattern("mine", "", [(0.25, -0.5, 0.0)] * 3)
    library = kinetra.PatternLibrary([p])
    return digest((library.catalogue(), [library.sample("mine", k).as_tuple() for k in range(-4, 4)],
                   [library.sample("circle", k).as_tuple() for k in range(64)]))

def catalogue_sampling():
    entries = kinetra.catalogue()
    return digest([kinetra.sample(e["name"], k).as_tuple() for e in entries for k in (-1, 0, 1, 1000)])

JOBS = [sampling, listing, building, catalogue_sampling]

if sys.argv[1] == "threads":
    sys.setswitchinterval(1e-6)
    start = threading.Barrier(4 * len(JOBS))
    results = {job.__name__: [] for job in JOBS}
    def run(job):
        start.wait()
        for _ in range(3):
            results[job.__name__].append(job())
    threads = [threading.Thread(target=run, args=(job,)) for job in JOBS for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
else:
    results = {job.__name__: [job()] for job in JOBS}
print(json.dumps(results))
"""


def run(mode):
    out = subprocess.run([sys.executable, "-c", WORK, mode], check=True, capture_output=True,
                         text=True, timeout=120).stdout
    return json.loads(out)


def test_concurrent_first_use_matches_one_thread():
    alone = run("single")
    together = run("threads")
    for job, digests in together.items():
        assert len(digests) == 12
        assert set(digests) == set(alone[job]), job
