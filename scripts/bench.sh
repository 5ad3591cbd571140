#!/usr/bin/env bash
# Builds the optimised programs and runs the core benchmarks; each figure is printed as a ratio to
# a memcpy of the same pixel block measured in the same run, from the medians of 5 repetitions.
# Extra arguments go to the benchmark program (for example --benchmark_filter=Hidden). Then Pillow's
# quantize(256) is timed on the same pixels and printed beside our colour-quantizer figures.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build/release -G Ninja -DVEILORA_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)" --target veilora_bench
./build/release/bench/veilora_bench --picture_out=build/release/photo-6000x4000.bgr \
  --benchmark_out=build/release/bench.json --benchmark_out_format=json \
  --benchmark_repetitions=5 --benchmark_report_aggregates_only=true "$@"
/usr/bin/python3 bench/pillow_quantize.py build/release/photo-6000x4000.bgr build/release/bench.json
