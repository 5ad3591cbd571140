#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and runs the whole test suite twice:
# in a normal build and in a build with AddressSanitizer and UndefinedBehaviorSanitizer.
# Build folders (build/release, build/asan) are reused, so a second run only rebuilds changes.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

jobs=$(nproc)

configure_and_test() {
  local name=$1
  shift
  local dir="build/$name"
  echo "== $name build =="
  cmake -S . -B "$dir" -G Ninja -DVEILORA_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  echo "== $name tests =="
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

configure_and_test release -DCMAKE_BUILD_TYPE=RelWithDebInfo
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  configure_and_test asan -DCMAKE_BUILD_TYPE=Debug -DVEILORA_SANITIZE=ON -DVEILORA_BENCH=OFF
