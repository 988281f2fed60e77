#!/usr/bin/env bash
# Runs tests/leaks/exercise.py under valgrind and fails if a definitely lost block was
# allocated from inside the heliodex module (the interpreter keeps its own objects at exit).
source "$(dirname "$0")/common.sh"
cd "$ROOT"
build="${1:-$ROOT/build/py3.13}"
venv="$ROOT/.venv-test-3.13"
log="$(mktemp)"
PYTHONMALLOC=malloc PYTHONPATH="$build" valgrind --leak-check=full --show-leak-kinds=definite \
  --num-callers=30 "$venv/bin/python" tests/leaks/exercise.py >"$log" 2>&1
grep -E "definitely lost:" "$log" || true
if awk '/definitely lost in loss record/{block=1} block&&/heliodex/{found=1} /^==[0-9]+== $/{block=0} END{exit !found}' "$log"; then
  echo "a definite leak comes from heliodex: see $log"; exit 1
fi
echo "no definite leak from heliodex"
