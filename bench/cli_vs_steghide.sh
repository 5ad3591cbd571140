#!/usr/bin/env bash
# Times veilora-cli hiding a message in a 24-megapixel BMP against steghide on the same picture,
# whole processes measured by hyperfine, and prints each figure as a ratio to steghide's.
# Usage: bench/cli_vs_steghide.sh [steghide message bytes, default 10000] [veilora runs, default 5]
#
# veilora-cli fills its capacity (H x (3W - 2) / 8 - 8 bytes, about 9 MB here), plainly and under a
# passphrase, and also hides exactly the message steghide is given. steghide's embedding matches
# sample pairs over a graph whose cost grows far faster than the message: on this picture 10 KB
# take it seconds, 30 KB minutes, and a quarter of the capacity it reports (750 KB) ran past 15
# minutes and 12 GB of memory (without an unlimited stack it crashes). So it cannot be given a
# message filling its capacity; it gets the given size, and veilora-cli hides the same bytes beside
# it. steghide runs without compression (-Z) and, for the plain figure, without encryption
# (-e none); its default Rijndael encryption is set against the passphrase figure.
set -euo pipefail
cd "$(dirname "$0")/.."

bytes=${1:-10000}
runs=${2:-5}
bash scripts/deps.sh steghide hyperfine python3-pil cmake ninja-build
cmake -S . -B build/release -G Ninja -DVEILORA_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)" --target veilora-cli
/usr/bin/python3 bench/cli_vs_steghide.py build/release/src/veilora-cli build/release/bench-cli "$bytes" "$runs"
