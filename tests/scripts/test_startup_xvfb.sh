#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The real program under Xvfb: started in an empty folder it creates record/
# and shows its 750x220 window 10 px from the top, centred; a second start
# ends silently; the close image ends the program.
. "$(dirname "$0")/lib/program.sh"
. "$(dirname "$0")/lib/xvfb.sh"
set -euo pipefail
exe=${1:?usage: test_startup_xvfb.sh path/to/Somorabox}
for tool in xvfb-run xdotool; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/deps.sh installs it)" >&2; exit 1; }
done
dir=$(mktemp -d /tmp/somora-startup.XXXXXX)
trap 'rm -rf "$dir"' EXIT
copy_program "$exe" "$dir"
export XDG_RUNTIME_DIR=$dir/runtime XDG_CONFIG_HOME=$dir/config QT_QPA_PLATFORM=xcb
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

run_in_xvfb bash -euo pipefail -c '
  dir=$1
  fail() { echo "FAIL: $*" >&2; exit 1; }
  "$dir/Somorabox" & pid=$!
  win=""
  for _ in $(seq 100); do
    win=$(xdotool search --name "^Brovane Somora recorder$" 2>/dev/null | head -n1 || true)
    [ -n "$win" ] && break
    sleep 0.1
  done
  [ -n "$win" ] || fail "no window captioned Brovane Somora recorder"
  sleep 0.5
  [ -d "$dir/record" ] || fail "record/ was not created"
  eval "$(xdotool getwindowgeometry --shell "$win")"
  [ "$WIDTH" = 750 ] && [ "$HEIGHT" = 220 ] || fail "window is ${WIDTH}x${HEIGHT}, not 750x220"
  [ "$X" = 137 ] && [ "$Y" = 10 ] || fail "window at $X,$Y, not 137,10"

  start=$(date +%s)
  timeout 10 "$dir/Somorabox" > "$dir/second.out" 2>&1 || fail "second start did not end with 0"
  [ ! -s "$dir/second.out" ] || { cat "$dir/second.out"; fail "second start printed something"; }
  kill -0 $pid 2>/dev/null || fail "first instance ended"

  # The close image at window-client (712, 54), 28x38.
  xdotool mousemove --window "$win" 726 73 click 1
  for _ in $(seq 50); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
  if kill -0 $pid 2>/dev/null; then kill $pid; fail "the close image did not end the program"; fi
  wait $pid || fail "program exited with $?"
  echo "startup under Xvfb: ok"
' _ "$dir"
