#!/usr/bin/env bash
# The typical use, end to end, on the built program under a real X server (Xvfb): a new image, a
# typed message, Encrypt, Write, Save As PNG, close, open the PNG again, Read, Decrypt, and the text
# must come back exactly. The keyboard is played from outside with xdotool (drive_typical_use.sh);
# the program performs the clicks on its own menus and buttons from a step list (VEILORA_SCRIPT,
# described in src/app/main.cpp) and logs what the text pane holds.
# Usage: tests/e2e/run_typical_use.sh <path of the built veilora>
set -euo pipefail

program=${1:?usage: run_typical_use.sh <path of the built veilora>}
[ -x "$program" ] || { echo "e2e: no program at $program" >&2; exit 2; }
for tool in xvfb-run Xvfb xauth xdotool; do
  command -v "$tool" >/dev/null || { echo "e2e: $tool is missing (bash scripts/deps.sh installs it)" >&2; exit 2; }
done


work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
source "$(dirname "$0")/common.sh"
# Letters, digits, punctuation and an ampersand come from the keyboard; xdotool types characters
# beyond the keyboard's map by remapping a key for a moment, which a busy program may read after the
# map is back, so the tail with characters beyond ASCII is typed by the program itself.
keyed='Meet me at the old mill at 6 & bring the map:'
tail=' Grüße, café, 100%!'
message="$keyed$tail"
picture="$work/typical use.png"
screenshot="$(dirname "$program")/e2e_typical_use.png"

cat >"$work/steps" <<STEPS
wait-documents 1
wait-pane $keyed
type $tail
wait-pane $message
button Encrypt
button Write
status
menu FileSaveAsItem
wait-file-dialog
wait-documents 1
menu FileCloseItem
wait-documents 0
menu FileOpenItem
wait-file-dialog
wait-documents 1
button Read
button Decrypt
pane
status
sleep 500
screenshot $screenshot
quit
STEPS

set +e
XDG_RUNTIME_DIR="$work" timeout 90 xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" \
  bash "$(dirname "$0")/drive_typical_use.sh" "$program" "$work" "$keyed" "$picture"
status=$?
set -e

check_run "$status"
[ -f "$picture" ] || fail "Save As wrote no file at $picture"
[ "$(head -c 8 "$picture" | od -An -tx1 | tr -d ' \n')" = "89504e470d0a1a0a" ] || fail "$picture is no PNG file"
readback=$(sed -n 's/^pane: //p' "$work/log")
[ "$readback" = "$message" ] || fail "read back \"$readback\" instead of \"$message\""
grep -qx 'status: Hidden text space in bytes: 33742' "$work/log" || fail "the status line did not show the capacity"
echo "e2e: the message came back exactly through $(basename "$picture"); screenshot in $screenshot"
