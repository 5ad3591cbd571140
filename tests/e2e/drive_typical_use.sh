#!/usr/bin/env bash
# Runs inside the X server that run_typical_use.sh starts: starts the program with its step list and
# plays the user's keyboard from outside with xdotool (Ctrl+N, the typed message, the file names
# typed into the save and open dialogs). The program's own steps click the document's tool buttons
# and pick the menu items that have no key, and log where they stand.
# Usage: drive_typical_use.sh <program> <work folder> <typed text> <picture file>
set -uo pipefail

program=$1
work=$2
message=$3
picture=$4
log="$work/log"

VEILORA_SCRIPT="$work/steps" VEILORA_SCRIPT_LOG="$log" "$program" >"$work/output" 2>&1 &
pid=$!

give_up() {
  echo "driver: $*" >>"$work/output"
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  exit 1
}

# Waits until the log holds the line at least `count` times, while the program runs (20 s at most).
wait_log() {
  local line=$1 count=$2
  for _ in $(seq 200); do
    [ "$(grep -cxF -- "$line" "$log" 2>/dev/null || true)" -ge "$count" ] && return 0
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

window=$(timeout 20 xdotool search --sync --onlyvisible --name '^Veilora - ' | head -1)
[ -n "$window" ] || give_up "the main window did not appear"
xdotool windowfocus --sync "$window" || give_up "cannot focus the main window"
wait_log "step wait-documents 1" 1 || give_up "the program did not start its steps"

xdotool key ctrl+n
xdotool type --delay 15 -- "$message"

wait_log "dialog: open" 1 || give_up "the save dialog did not open"
xdotool key ctrl+a
xdotool type --delay 5 -- "$picture"
xdotool key Return

wait_log "dialog: open" 2 || give_up "the open dialog did not open"
xdotool key ctrl+a
xdotool type --delay 5 -- "$picture"
xdotool key Return

wait "$pid"
