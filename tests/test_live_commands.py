"""The preview and gallery commands as a user runs them: `python -m kinetra_live ...` from the
installed package, in a folder away from the source tree."""

import json
import subprocess
import sys
import urllib.error
import urllib.request
from pathlib import Path

import pytest

from kinetra_live.sampler import Sampler
from kinetra_live.show import load_show

SHOW = Path(__file__).resolve().parent.parent / "examples" / "shows" / "club.toml"


def command(*args):
    return [sys.executable, "-m", "kinetra_live", *map(str, args)]


def test_gallery_writes_one_offline_page_and_refuses_a_bad_pack(tmp_path):
    out = tmp_path / "gallery.html"
    done = subprocess.run(command("gallery", out), cwd=tmp_path,
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    page = out.read_text(encoding="utf-8")
    assert out.stat().st_size <= 4 * 1024 * 1024
    assert 'id="probe"' in page and "http://" not in page and "https://" not in page

    bad = tmp_path / "bad.json"
    bad.write_text('[{"name": "wob", "description": "w", "samples": [[2, 0, 0]]}]')
    done = subprocess.run(command("gallery", tmp_path / "x.html", "--pack", bad),
                          cwd=tmp_path, capture_output=True, text=True)
    assert done.returncode == 2
    assert "patterns[0]: Pattern samples must be finite and within [-1, 1]" in done.stderr
    assert not (tmp_path / "x.html").exists()


@pytest.fixture
def served_show(tmp_path):
    server = subprocess.Popen(
        command("preview", "--show", SHOW, "--port", 0, "--no-browser"),
        cwd=tmp_path, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        line = server.stdout.readline()
        assert "http://127.0.0.1:" in line, server.stderr.read()
        yield line[line.index("http://"):].split()[0]
    finally:
        server.terminate()
        server.wait(timeout=10)
        server.stdout.close()
        server.stderr.close()


def get(url):
    with urllib.request.urlopen(url, timeout=10) as answer:
        return answer.status, answer.read()


def test_preview_with_a_show_serves_the_page_and_the_shows_own_frames(served_show):
    status, body = get(served_show)
    assert status == 200 and b'id="probe"' in body
    with pytest.raises(urllib.error.HTTPError) as missing:
        get(served_show + "../../etc/passwd")
    missing.value.close()  # the error holds the answer's socket open
    assert missing.value.code == 404

    status, body = get(served_show + "api/frame")
    frame = json.loads(body)
    expected = Sampler(load_show(SHOW)).frame(frame["pip"])
    assert [f["name"] for f in frame["fixtures"]] == [f.name for f in expected.fixtures]
    for served, state in zip(frame["fixtures"], expected.fixtures):
        assert served["fixture_pip"] == state.fixture_pip
        assert tuple(served["raw"]) == tuple(state.raw)


def test_command_line_faults_are_one_line_naming_the_argument(tmp_path):
    for args, named in [((), "VERB"), (("render", SHOW), "--seconds"),
                        (("render", SHOW, "--seconds", "1", "--bogus\x1b[2J"), "--bogus"),
                        (("run", SHOW, "--fps"), "--fps")]:
        done = subprocess.run(command(*args), cwd=tmp_path, capture_output=True, text=True)
        assert done.returncode == 2
        assert done.stderr.count("\n") == 1 and named in done.stderr, done.stderr
        assert "\x1b" not in done.stderr
