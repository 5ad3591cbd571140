#!/usr/bin/env bash
# The image commands against the real X11 clipboard, on the built program under Xvfb: the program
# opens a PNG and copies it; xclip, as another program, reads it as image/bmp, which must hold the
# same pixels by Pillow; then xdotool drags a selection on the picture with the real mouse, the
# program copies it, and xclip's image/bmp must hold just those pixels; then xclip offers a PNG of
# its own, the program pastes it and saves it, and the saved file must hold that PNG's pixels.
# Usage: tests/e2e/run_clipboard.sh <path of the built veilora>
set -euo pipefail

program=${1:?usage: run_clipboard.sh <path of the built veilora>}
[ -x "$program" ] || { echo "e2e: no program at $program" >&2; exit 2; }
for tool in xvfb-run Xvfb xauth xclip xdotool; do
  command -v "$tool" >/dev/null || { echo "e2e: $tool is missing (bash scripts/deps.sh installs it)" >&2; exit 2; }
done
python=/usr/bin/python3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/common.sh"
"$python" - "$work" <<'PY'
import sys
from PIL import Image
work = sys.argv[1]
for name, size, seed in (("source.png", (37, 23), 3), ("offered.png", (19, 11), 7)):
    image = Image.new("RGB", size)
    image.putdata([((x * seed * 7) % 256, (y * seed * 11) % 256, (x * y + seed) % 256)
                   for y in range(size[1]) for x in range(size[0])])
    image.save(f"{work}/{name}")
PY

cat >"$work/steps" <<STEPS
wait-documents 1
menu CopyItem
sleep 300
log copied
image-origin
wait-file $work/dragged
menu CopyItem
sleep 300
log copied-selection
wait-file $work/offered
menu PasteItem
menu FileSaveAsItem
dialog-file $work/pasted.png
wait-documents 1
quit
STEPS

# Runs inside the X server: the program, and xclip as the other program on the same display.
cat >"$work/driver" <<'DRIVER'
work=$1
program=$2
VEILORA_SCRIPT="$work/steps" VEILORA_SCRIPT_LOG="$work/log" "$program" "$work/source.png" >"$work/output" 2>&1 &
pid=$!
for _ in $(seq 300); do
  grep -qx 'log copied' "$work/log" 2>/dev/null && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
xclip -selection clipboard -t TARGETS -o >"$work/targets" 2>>"$work/output"
xclip -selection clipboard -t image/bmp -o >"$work/copied.bmp" 2>>"$work/output"
# A drag from picture pixel (5, 4) to (25, 16) with the real mouse.
for _ in $(seq 100); do grep -q '^image-origin ' "$work/log" 2>/dev/null && break; sleep 0.1; done
read -r _ x y zoom < <(grep '^image-origin ' "$work/log")
echo "zoom $zoom" >"$work/drag"
xdotool mousemove $((x + 5)) $((y + 4)) mousedown 1 mousemove $((x + 15)) $((y + 10)) \
  mousemove $((x + 25)) $((y + 16)) sleep 0.2 mouseup 1 2>>"$work/output"
touch "$work/dragged"
for _ in $(seq 300); do
  grep -qx 'log copied-selection' "$work/log" 2>/dev/null && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
xclip -selection clipboard -t image/bmp -o >"$work/selection.bmp" 2>>"$work/output"
# xclip stays in the background to serve its offer until another program takes the clipboard.
xclip -selection clipboard -t image/png -i "$work/offered.png" 2>>"$work/output"
touch "$work/offered"
wait "$pid"
DRIVER

set +e
XDG_RUNTIME_DIR="$work" timeout 90 xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
  bash "$work/driver" "$work" "$program"
status=$?
set -e

same_pixels() {
  "$python" -c 'import sys; from PIL import Image; a, b = (Image.open(f).convert("RGB") for f in sys.argv[1:3]); sys.exit(0 if a.size == b.size and a.tobytes() == b.tobytes() else 1)' "$1" "$2"
}

check_run "$status"
grep -qx 'image/bmp' "$work/targets" || fail "the clipboard offered no image/bmp: $(tr '\n' ' ' <"$work/targets")"
grep -qx 'image/png' "$work/targets" || fail "the clipboard offered no image/png: $(tr '\n' ' ' <"$work/targets")"
same_pixels "$work/copied.bmp" "$work/source.png" || fail "the image/bmp xclip read differs from the copied picture"
grep -qx 'zoom 100' "$work/drag" || fail "the picture was not shown at 100% for the drag: $(cat "$work/drag")"
"$python" -c 'import sys; from PIL import Image; Image.open(sys.argv[1]).convert("RGB").crop((5, 4, 26, 17)).save(sys.argv[2])' \
  "$work/source.png" "$work/expected-selection.png"
same_pixels "$work/selection.bmp" "$work/expected-selection.png" ||
  fail "the copied selection differs from picture pixels (5, 4) to (25, 16)"
[ -f "$work/pasted.png" ] || fail "the pasted picture was not saved"
same_pixels "$work/pasted.png" "$work/offered.png" || fail "the pasted picture differs from the PNG xclip offered"
echo "e2e: the X11 clipboard carried a copy and a dragged selection out as image/bmp and a PNG in, pixel for pixel"
