#!/usr/bin/env bash
# Builds an sdist and from it a wheel in one fresh virtual environment, installs the wheel in
# another and runs the Python tests against the installed package.
source "$(dirname "$0")/common.sh"
cd "$ROOT"
v="${1:-3.13}"
work="$(mktemp -d)"
py="$(find_python "$v")"
make_venv "$work/build-env" "$py" build
"$work/build-env/bin/python" -m build --sdist -o "$work/dist" .
"$work/build-env/bin/python" -m pip wheel "$work"/dist/*.tar.gz -w "$work/dist" --no-deps
make_venv "$work/test-env" "$py" "$work"/dist/*.whl numpy pytest hypothesis
cd "$work" && "$work/test-env/bin/python" -c "import importlib.metadata as m; print('heliodex', m.version('heliodex'))"
cd "$ROOT" && "$work/test-env/bin/python" -m pytest -W error -q -p no:cacheprovider tests/python
rm -rf "$work"
