#!/usr/bin/env bash
# Installs heliodex and the alternatives into .venv-bench (CPython 3.13) and runs the comparison
# benchmark; the tables go to the terminal and to bench/out/ (results.md, compare.png).
source "$(dirname "$0")/common.sh"
cd "$ROOT"
make_venv "$ROOT/.venv-bench" "$(find_python 3.13)" -r bench/requirements.txt
"$ROOT/.venv-bench/bin/python" -m pip install .
"$ROOT/.venv-bench/bin/python" bench/compare.py "$@"
