# A private virtual X display for the window tests (sourced, not run).
#
# Xvfb resets itself whenever its last client leaves, and a client that
# connects during the reset is turned away ("could not connect to display").
# The tests' own X tools come and go around the program's start, so the
# server here never resets.

# run_in_xvfb COMMAND ARGS...: COMMAND on a new display; its exit code. When it
# fails, the server's own messages follow on standard error.
run_in_xvfb() {
  local log rc=0
  log=$(mktemp /tmp/somora-xvfb.XXXXXX)
  xvfb-run -a -e "$log" -s "-screen 0 1024x768x24 -noreset" "$@" || rc=$?
  if [ "$rc" -ne 0 ] && [ -s "$log" ]; then sed 's/^/  Xvfb: /' "$log" >&2; fi
  rm -f "$log"
  return "$rc"
}
