#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer and runs each for a while.
# Usage: scripts/fuzz.sh [seconds per target, default 600] [target name...]
# Each run starts from the seed corpus (fuzz/corpus/<name>) in a scratch copy under
# build/fuzz-work; an input that crashes is copied into fuzz/regressions/<name>/, where the test
# command replays it from then on. VEILORA_FUZZ_BUILD names another build folder (default build/fuzz),
# so that two campaigns can build side by side.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh clang libclang-rt-14-dev cmake ninja-build

seconds=${1:-600}
shift || true

build=${VEILORA_FUZZ_BUILD:-build/fuzz}
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVEILORA_FUZZ=ON -DVEILORA_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for program in "$build"/fuzz/fuzz_*; do targets+=("$(basename "$program" | sed 's/^fuzz_//')"); done
fi

status=0
for name in "${targets[@]}"; do
  work="$build-work/$name"
  mkdir -p "$work/corpus" "$work/artifacts"
  [ -d "fuzz/corpus/$name" ] && cp -n fuzz/corpus/"$name"/* "$work/corpus/" 2>/dev/null || true
  echo "== fuzzing $name for ${seconds}s =="
  if ! ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=0 \
    "$build/fuzz/fuzz_$name" "$work/corpus" -max_total_time="$seconds" -rss_limit_mb=3072 \
      -timeout=10 -artifact_prefix="$work/artifacts/" -print_final_stats=1 2>"$work/log.txt"; then
    status=1
    mkdir -p "fuzz/regressions/$name"
    cp "$work"/artifacts/* "fuzz/regressions/$name/" 2>/dev/null || true
    echo "!! $name found a fault; inputs kept in fuzz/regressions/$name"
    tail -40 "$work/log.txt"
  fi
  grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$work/log.txt" || true
done
exit $status
