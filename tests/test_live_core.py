"""The companion's core needs the standard library and kinetra alone."""

import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent

BLOCKED = ("pythonosc", "pyartnet", "sacn", "mido", "rtmidi", "link", "aalink")

SCRIPT = f"""
import sys
class Block:
    def find_spec(self, name, path=None, target=None):
        if name.split(".")[0] in {BLOCKED!r}:
            raise ImportError("blocked: " + name)
sys.meta_path.insert(0, Block())
import argparse
from kinetra_live import packs, render, rig, run, sampler, show, timebase, outputs
from kinetra_live.outputs import mapping
parser = argparse.ArgumentParser()
render.add_arguments(parser)
sys.exit(render.main(parser.parse_args([sys.argv[1], "--seconds", "0.1"])))
"""


def test_core_imports_and_renders_without_the_live_extra():
    result = subprocess.run([sys.executable, "-c", SCRIPT,
                             str(ROOT / "examples" / "shows" / "club.toml")],
                            capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    assert len(result.stdout.splitlines()) == 1 + 5 * 6
