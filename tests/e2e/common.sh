# Sourced by the end-to-end scripts once they have made their work folder ($work), into which the
# program writes its step log (log) and its output (output).

# Under the sanitizer build, leaks of the system libraries the program loads are not ours to fix.
export LSAN_OPTIONS="suppressions=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

# Reports a failed check with the step log and the program's output, and ends the script.
fail() {
  echo "e2e FAILED: $*" >&2
  echo "--- steps log" >&2
  cat "$work/log" >&2 2>/dev/null || true
  echo "--- program output" >&2
  cat "$work/output" >&2 || true
  exit 1
}

# Checks what every run must show: a clean exit, no failed step, and the last step reached.
check_run() {
  local status=$1
  [ "$status" -eq 0 ] || fail "the program ended with status $status"
  grep -q '^FAIL' "$work/log" && fail "a step failed"
  grep -qx 'step quit' "$work/log" || fail "the program stopped before the last step"
}
