# A private virtual X display for the window tests (sourced, not run).
#
# xvfb-run takes the server's SIGUSR1 as "ready", but any SIGUSR1 that reaches
# it meanwhile looks the same, and a server that dies just after it started
# is not noticed; either way the command then finds no display. So the
# command starts only once the server answers, and a display that never
# answers gets one more server before the test fails, with the server's own
# messages.

SOMORA_XVFB_LIB=$(readlink -f "${BASH_SOURCE[0]}")

# run_in_xvfb COMMAND ARGS...: COMMAND on a new display; its exit code.
run_in_xvfb() {
  local log rc attempt
  log=$(mktemp /tmp/somora-xvfb.XXXXXX)
  for attempt in 1 2; do
    rc=0
    : >"$log"
    xvfb-run -a -e "$log" -s "-screen 0 1024x768x24" bash "$SOMORA_XVFB_LIB" --when-ready "$@" || rc=$?
    [ "$rc" -eq 75 ] || break
    echo "the X display did not answer (try $attempt):" >&2
    sed 's/^/  Xvfb: /' "$log" >&2
  done
  rm -f "$log"
  return "$rc"
}

# Run by run_in_xvfb on the new display: waits for it, then becomes COMMAND.
if [ "${1:-}" = "--when-ready" ]; then
  shift
  for _ in $(seq 100); do
    if xdpyinfo >/dev/null 2>&1; then exec "$@"; fi
    sleep 0.1
  done
  exit 75
fi
