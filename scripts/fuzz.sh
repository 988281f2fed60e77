#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, ASan and UBSan, and runs each for FUZZ_SECONDS.
# A crash fails the run; its input is kept under fuzz/regressions/<target>/ for ctest to replay.
source "$(dirname "$0")/common.sh"
cd "$ROOT"
SECONDS_EACH="${FUZZ_SECONDS:-60}"
apt_need /usr/bin/clang++-14 clang-14 libclang-rt-14-dev
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++-14 -DHELIODEX_BUILD_PYTHON=OFF -DHELIODEX_BUILD_TESTS=OFF \
  -DHELIODEX_BUILD_FUZZ=ON -DHELIODEX_FUZZ_ENGINE=ON -DHELIODEX_SANITIZE=address,undefined \
  -DHELIODEX_WERROR=ON >/dev/null
cmake --build build/fuzz -j "${JOBS:-2}"
status=0
for t in celestrak solfsmy dtcfile number; do
  work="$(mktemp -d)"
  cp -r fuzz/corpus/"$t"/. "$work"/
  echo "== fuzz_$t for ${SECONDS_EACH}s"
  if ! build/fuzz/fuzz/fuzz_"$t" "$work" -max_total_time="$SECONDS_EACH" -max_len=4096 \
      -print_final_stats=1 -artifact_prefix="$work/" 2>"$work.log"; then
    status=1
    cp "$work"/crash-* "$work"/leak-* "$work"/timeout-* fuzz/regressions/"$t"/ 2>/dev/null || true
    tail -40 "$work.log"
  fi
  grep -E "stat::number_of_executed_units|Done [0-9]+ runs" "$work.log" | tail -1 || true
  rm -rf "$work" "$work.log"
done
exit "$status"
