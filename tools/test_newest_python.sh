#!/usr/bin/env bash
# Install the module into a fresh virtual environment of the newest CPython on this machine
# (or of the interpreter given) and run the whole test suite there.
#   tools/test_newest_python.sh [python] [pytest arguments]
set -euo pipefail
cd "$(dirname "$0")/.."
python="${1:-}"
[ $# -gt 0 ] && shift
if [ -z "$python" ]; then
  python=$(ls -d "$HOME"/.pyenv/versions/3.*/bin/python3.[0-9]* 2>/dev/null \
           | sed -nE 's/.*python3\.([0-9]+)$/\1 &/p' | sort -n | tail -n 1 | cut -d' ' -f2 || true)
fi
[ -n "$python" ] || { echo "test_newest_python.sh: no interpreter found" >&2; exit 1; }
echo "test_newest_python.sh: $("$python" --version)"
# The environment and the build (about 100 MB) go to a folder of their own, removed at the end.
work=$(mktemp -d "${TMPDIR:-/tmp}/kinetra-newest.XXXXXX")
trap 'rm -rf "$work"' EXIT
venv="$work/venv"
"$python" -m venv "$venv"
. "$venv/bin/activate"
python -m pip install --quiet --disable-pip-version-check "scikit-build-core>=0.10" "pybind11>=3.1"
# Its own build folder: build/ belongs to the default interpreter's incremental builds.
python -m pip install --quiet --disable-pip-version-check --no-build-isolation \
  -C build-dir="$work/build" ".[test]"
# The live extra without python-rtmidi, which may have no wheel for the newest interpreter and
# builds only with its own tools; the one test that needs it skips without it.
python -c 'import tomllib; print("\n".join(d for d in tomllib.load(open("pyproject.toml", "rb"))
  ["project"]["optional-dependencies"]["live"] if not d.startswith("python-rtmidi")))' \
  | xargs -d '\n' python -m pip install --quiet --disable-pip-version-check --prefer-binary
python -m pytest -q "$@"
