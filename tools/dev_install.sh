#!/usr/bin/env bash
# Build and install the module from this tree, incrementally (build/ keeps the objects).
# A lock serialises builds started from several shells at once.
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p build && exec flock build/.lock \
  python -m pip install --no-build-isolation --no-deps --quiet --disable-pip-version-check . "$@"
