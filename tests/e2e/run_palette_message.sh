#!/usr/bin/env bash
# A message written into a picture that came from a palette file must survive Save As PNG, and a
# save as JPEG must ask first. On the built program under a real X server (Xvfb): open a 256-colour
# GIF made by Pillow, type a message, Write, Save As JPEG and answer No (no file may appear), Save As
# PNG, close, open the PNG, Read: the text must come back exactly, and the PNG must be true colour.
# Usage: tests/e2e/run_palette_message.sh <path of the built veilora>
set -euo pipefail

program=${1:?usage: run_palette_message.sh <path of the built veilora>}
[ -x "$program" ] || { echo "e2e: no program at $program" >&2; exit 2; }
for tool in xvfb-run Xvfb xauth; do
  command -v "$tool" >/dev/null || { echo "e2e: $tool is missing (bash scripts/deps.sh installs it)" >&2; exit 2; }
done
python=/usr/bin/python3


work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/common.sh"
gif="$work/palette.gif"
jpeg="$work/lost.jpg"
png="$work/kept.png"
message='The key is under the third stone'

# A picture of many shades, reduced to a 256-colour palette as GIF files are.
"$python" - "$gif" <<'PY'
import sys
from PIL import Image
image = Image.new("RGB", (160, 120))
image.putdata([((x * 3) % 256, (y * 5) % 256, (x * y) % 256) for y in range(120) for x in range(160)])
image.quantize(256).save(sys.argv[1])
PY

cat >"$work/steps" <<STEPS
wait-documents 1
type $message
button Write
menu FileSaveAsItem
dialog-file $jpeg
answer No
wait-documents 1
menu FileSaveAsItem
dialog-file $png
wait-documents 1
menu FileCloseItem
wait-documents 0
menu FileOpenItem
dialog-file $png
wait-documents 1
button Read
pane
quit
STEPS

set +e
VEILORA_SCRIPT="$work/steps" VEILORA_SCRIPT_LOG="$work/log" XDG_RUNTIME_DIR="$work" \
  timeout 90 xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$program" "$gif" >"$work/output" 2>&1
status=$?
set -e

check_run "$status"
grep -qx 'question: Saving as JPEG will destroy the hidden text in this image. Save anyway?' "$work/log" ||
  fail "the JPEG save did not ask about the hidden text"
[ ! -e "$jpeg" ] || fail "answering No still wrote $jpeg"
[ -f "$png" ] || fail "Save As wrote no file at $png"
mode=$("$python" -c 'import sys; from PIL import Image; print(Image.open(sys.argv[1]).mode)' "$png")
[ "$mode" = "RGB" ] || fail "the PNG was written as $mode, not true colour"
readback=$(sed -n 's/^pane: //p' "$work/log")
[ "$readback" = "$message" ] || fail "read back \"$readback\" instead of \"$message\""
echo "e2e: the message came back exactly through a GIF, a refused JPEG and $(basename "$png")"
