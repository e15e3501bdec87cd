# SPDX-License-Identifier: GPL-3.0-or-later
# Waiting in the scripted tests (sourced, not run): every wait polls its
# condition ten times a second and has a limit.

# wait_for TENTHS COMMAND...: true as soon as COMMAND succeeds; false when it
# still fails after TENTHS tenths of a second.
wait_for() {
  local tenths=$1 _
  shift
  for _ in $(seq "$tenths"); do
    "$@" && return 0
    sleep 0.1
  done
  "$@"
}

# True once process PID has ended.
gone() {
  ! kill -0 "$1" 2>/dev/null
}

# wait_exit PID TENTHS: waits for PID, a child of this shell, to end and
# sets exit_code to its exit code; false, with exit_code empty, while it
# still runs after TENTHS tenths of a second.
wait_exit() {
  exit_code=""
  wait_for "$2" gone "$1" || return 1
  wait "$1"
  exit_code=$?
}

# stop_pid PID TENTHS: SIGTERM, and SIGKILL when PID still runs after
# TENTHS tenths of a second; returns its exit code.
stop_pid() {
  kill -TERM "$1" 2>/dev/null
  wait_for "$2" gone "$1" || kill -KILL "$1" 2>/dev/null
  wait "$1" 2>/dev/null
}

# The number of capture streams on the sound server.
capture_streams() {
  pactl list short source-outputs | wc -l
}

# True when the sound server has at least N capture streams.
capture_streams_at_least() {
  [ "$(capture_streams)" -ge "$1" ]
}

# kill_now PID [SIGNAL]: SIGNAL (KILL) for PID, a child of this shell, when
# it is given and still runs, and waits for it (for the clean-up of tests
# and benchmarks).
kill_now() {
  if [ -n "$1" ] && kill -0 "$1" 2>/dev/null; then
    kill -"${2:-KILL}" "$1" 2>/dev/null
    wait "$1" 2>/dev/null || true
  fi
}

# wait_url LOG SED-SCRIPT: sets url to what `sed -n SED-SCRIPT` prints from
# LOG (the address a server announced), waiting up to 30 s; false, with url
# empty, when it prints nothing by then.
wait_url() {
  local _
  url=""
  for _ in $(seq 300); do
    url=$(sed -n "$2" "$1")
    [ -n "$url" ] && return 0
    sleep 0.1
  done
  return 1
}
