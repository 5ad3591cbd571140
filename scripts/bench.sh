#!/usr/bin/env bash
# Builds the optimised programs and runs the core benchmarks; each figure is printed as a ratio to
# a memcpy of the same pixel block measured in the same run, from the medians of 5 repetitions.
# Extra arguments go to the benchmark program (for example --benchmark_filter=Hidden).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build/release -G Ninja -DVEILORA_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)" --target veilora_bench
./build/release/bench/veilora_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true "$@"
