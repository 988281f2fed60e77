#!/usr/bin/env bash
# Builds and installs heliodex into .venv, then runs the main example on the bundled samples.
source "$(dirname "$0")/common.sh"
cd "$ROOT"
py="$(find_python 3.13)"
make_venv .venv "$py" pip
.venv/bin/python -m pip install . numpy
.venv/bin/python examples/demo.py "$@"
