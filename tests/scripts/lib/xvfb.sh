# SPDX-License-Identifier: GPL-3.0-or-later
# A private virtual X display for the window tests (sourced, not run).
#
# Xvfb resets itself whenever its last client leaves, and a client that
# connects during the reset is turned away ("could not connect to display").
# The tests' own X tools come and go around the program's start, so the
# server here never resets.
#
# The server picks its display number itself (-displayfd: it takes the first
# number whose socket it can bind, and writes it once it accepts clients), so
# window tests started at the same moment each get a display of their own.

# run_in_xvfb COMMAND ARGS...: COMMAND on a new display; its exit code. When it
# fails, the server's own messages follow on standard error. Safe in a shell
# with set -e.
run_in_xvfb() {
  local dir server display="" rc=0 _
  dir=$(mktemp -d /tmp/somora-xvfb.XXXXXX)
  : >"$dir/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -noreset -nolisten tcp 3>"$dir/display" >"$dir/log" 2>&1 &
  server=$!
  for _ in $(seq 100); do
    display=$(head -n 1 "$dir/display") || true
    [ -n "$display" ] && break
    kill -0 "$server" 2>/dev/null || break
    sleep 0.1
  done
  if [ -z "$display" ]; then
    echo "xvfb: no display within 10 s" >&2
    rc=1
  else
    DISPLAY=:$display "$@" || rc=$?
  fi
  kill "$server" 2>/dev/null || true
  wait "$server" 2>/dev/null || true
  if [ "$rc" -ne 0 ] && [ -s "$dir/log" ]; then sed 's/^/  Xvfb: /' "$dir/log" >&2; fi
  rm -rf "$dir"
  return "$rc"
}
