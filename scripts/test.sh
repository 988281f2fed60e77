#!/usr/bin/env bash
# Builds and runs every test: C++ and Python tests on CPython 3.13 (NumPy 2) and
# 3.12 (NumPy 1.26), then the C++ tests and the Python suite under ASan and UBSan.
source "$(dirname "$0")/common.sh"
cd "$ROOT"
JOBS="${JOBS:-2}"

apt_need /usr/include/gtest/gtest.h libgtest-dev

run_python_suite() {  # <python version> <numpy requirement for the tests>
  local v="$1" numpy_req="$2" venv="$ROOT/.venv-test-$1" build="$ROOT/build/py$1"
  echo "== CPython $v, tests with $numpy_req"
  make_venv "$venv" "$(find_python "$v")" "numpy>=2" pytest hypothesis cmake ninja
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DHELIODEX_WERROR=ON \
    -DPython_EXECUTABLE="$venv/bin/python" >/dev/null
  cmake --build "$build" -j "$JOBS"
  "$venv/bin/python" -m pip install "$numpy_req"   # headers of NumPy 2, run time as asked
  PATH="$venv/bin:$PATH" ctest --test-dir "$build" --output-on-failure --no-tests=error
}

run_python_suite 3.13 "numpy>=2"
run_python_suite 3.12 "numpy==1.26.*"

echo "== ASan + UBSan"
venv="$ROOT/.venv-test-3.13"
build="$ROOT/build/asan"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DHELIODEX_WERROR=ON \
  -DHELIODEX_SANITIZE=address,undefined -DPython_EXECUTABLE="$venv/bin/python" >/dev/null
cmake --build "$build" -j "$JOBS"
"$venv/bin/python" -m pip install "numpy>=2"
# The interpreter is not built with ASan: preload the runtime; its own leaks are not ours.
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)"
PATH="$venv/bin:$PATH" ctest --test-dir "$build" --output-on-failure --no-tests=error
unset LD_PRELOAD

echo "== fuzzing"
FUZZ_SECONDS="${FUZZ_SECONDS:-45}" bash scripts/fuzz.sh

echo "== sdist -> wheel -> fresh environment"
bash scripts/wheel_check.sh 3.13

echo "== typing"
bash scripts/typecheck.sh
echo "== all tests passed"
