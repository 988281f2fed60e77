#!/usr/bin/env bash
# Installs the package with its stubs into .venv-type, then checks the stubs against the
# module (stubtest) and the examples and a typed usage file with mypy --strict.
source "$(dirname "$0")/common.sh"
cd "$ROOT"
venv="$ROOT/.venv-type"
make_venv "$venv" "$(find_python 3.13)" mypy numpy ruff
"$venv/bin/python" -m pip install .
cd "$(mktemp -d)"  # check the installed package, not the source tree
"$venv/bin/python" -m mypy.stubtest heliodex --allowlist "$ROOT/stubs/stubtest-allowlist.txt"
"$venv/bin/python" -m mypy --strict "$ROOT/examples" "$ROOT/tests/python/typed_usage.py"
cd "$ROOT"
"$venv/bin/ruff" check examples tests/python bench
"$venv/bin/ruff" format --check examples tests/python bench
