#!/usr/bin/env bash
# Installs what is missing, builds Veilora (build/release, warnings as errors) and starts it.
# Arguments go to the program: image files named there open as documents.
# Usage: bash scripts/run.sh [image file...]
set -euo pipefail
cd "$(dirname "$0")/.."

# Checked first, so a machine without a display learns it before a long build.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  cat >&2 <<'MSG'
Veilora needs a graphical display: no DISPLAY or WAYLAND_DISPLAY is set. Start it from a desktop
session, over ssh with X forwarding (ssh -X), or inside a virtual display, for example:
    xvfb-run -a bash scripts/run.sh
MSG
  exit 1
fi

bash scripts/deps.sh

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVEILORA_WERROR=ON >/dev/null
cmake --build build/release --target veilora -j "$(nproc)"

exec build/release/src/veilora "$@"
