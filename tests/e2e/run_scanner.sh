#!/usr/bin/env bash
# Scanning, end to end, on the built program under a real X server (Xvfb), with the SANE test
# backend as the only scanner: a new document, Select scanner (the source dialog's Select), Acquire
# (the scan dialog's Scan), Write a message, Save As PNG, close, open the PNG again, Read. The
# message must come back exactly, and the saved picture must be the scan scanimage makes of the
# same device, but for the least significant bits the message took.
# Usage: tests/e2e/run_scanner.sh <path of the built veilora> [library to preload into scanimage]
# The library keeps scanimage's reader threads deferred-cancellable, as Veilora's are: without it
# scanimage hangs now and then at the end of a scan.
set -euo pipefail

program=${1:?usage: run_scanner.sh <path of the built veilora> [preload library]}
preload=${2:-}
[ -x "$program" ] || { echo "e2e: no program at $program" >&2; exit 2; }
for tool in xvfb-run Xvfb xauth scanimage /usr/bin/python3; do
  command -v "$tool" >/dev/null || { echo "e2e: $tool is missing (bash scripts/deps.sh installs it)" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/common.sh"

# libsane reads only this folder (no trailing ':'): the test backend alone, in colour at 50 dpi
# over an area of 80 x 100 mm, drawing its colour pattern. Without test.conf the backend's
# ranges are unusable.
mkdir "$work/sane"
echo test >"$work/sane/dll.conf"
cat >"$work/sane/test.conf" <<'CONF'
number_of_devices 2
mode Color
depth 8
hand-scanner false
three-pass false
three-pass-order RGB
resolution_min 1.0
resolution_max 1200.0
resolution_quant 1.0
resolution 50.0
test-picture "Color pattern"
invert-endianess false
read-limit true
read-limit-size 4096
read-delay false
read-delay-duration 1000
read-status-code "Default"
fuzzy-parameters false
ppl-loss 0
non-blocking false
select-fd false
enable-test-options false
geometry_min 0.0
geometry_max 200.0
geometry_quant 1.0
tl_x 0.0
tl_y 0.0
br_x 80.0
br_y 100.0
CONF
export SANE_CONFIG_DIR="$work/sane"

message='Scanned at 50 dpi & kept in the low bits: Grüße!'
picture="$work/scan.png"
screenshot="$(dirname "$program")/e2e_scanner.png"
SANE_CONFIG_DIR="$work/sane" LD_PRELOAD="$preload" scanimage -d test:0 --format=pnm >"$work/reference.pnm" 2>/dev/null ||
  fail "scanimage could not scan the test device"

cat >"$work/steps" <<STEPS
menu FileNewItem
wait-documents 1
menu Selectscanner1
click SelectButton
wait-documents 1
menu Acquire1
click ScanButton
wait-documents 1
image
type $message
button Write
menu FileSaveAsItem
dialog-file $picture
wait-documents 1
wait-file $picture
menu FileCloseItem
wait-documents 0
menu FileOpenItem
dialog-file $picture
wait-documents 1
image
button Read
pane
sleep 300
screenshot $screenshot
quit
STEPS

set +e
XDG_RUNTIME_DIR="$work" VEILORA_SCRIPT="$work/steps" VEILORA_SCRIPT_LOG="$work/log" timeout 90 \
  xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" "$program" >"$work/output" 2>&1
status=$?
set -e

check_run "$status"
[ "$(grep -c '^image: 157x196 24$' "$work/log")" -eq 2 ] || fail "the acquired picture is not the 157 x 196 colour scan"
readback=$(sed -n 's/^pane: //p' "$work/log")
[ "$readback" = "$message" ] || fail "read back \"$readback\" instead of \"$message\""
# The saved pixels against scanimage's: every sample within one step, and the message changed some.
/usr/bin/python3 - "$picture" "$work/reference.pnm" <<'PY' || fail "the saved picture is not the scan"
import sys
from PIL import Image
saved = Image.open(sys.argv[1]).convert("RGB")
reference = Image.open(sys.argv[2]).convert("RGB")
assert saved.size == reference.size, (saved.size, reference.size)
pairs = list(zip(saved.tobytes(), reference.tobytes()))
far = sum(1 for a, b in pairs if abs(a - b) > 1)
changed = sum(1 for a, b in pairs if a != b)
assert far == 0 and changed > 0, (far, changed)
print(f"e2e: {len(pairs)} samples match scanimage's scan; the message changed {changed} low bits")
PY
echo "e2e: the scanned picture carried the message through $(basename "$picture"); screenshot in $screenshot"
