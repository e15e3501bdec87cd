#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The window ends the program, keeping an open take with its header sizes
# patched, however it is closed: by its close image while the settings dialog
# is open, by SIGTERM while the password dialog is open, and by SIGHUP or
# SIGINT. Each time the process is gone with exit code 0, so the next start
# shows the window again.
#
# A manual take records the private sound server's quiet monitor.
# $1: the built Somorabox. Runs inside scripts/with-pulse.sh.
. "$(dirname "$0")/lib/program.sh"
. "$(dirname "$0")/lib/wait.sh"
set -uo pipefail
exe=$(readlink -f "${1:?usage: $0 path/to/Somorabox}")

fail() {
  echo "test_window_close: FAIL: $*" >&2
  [ -f "${work:-}/app.log" ] && { echo "--- program output:" >&2; tail -n 20 "$work/app.log" >&2; }
  exit 1
}

if [ -z "${SOMORA_IN_XVFB:-}" ]; then
  for tool in xvfb-run xdotool pactl od; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/deps.sh installs it)"
  done
  pactl info >/dev/null 2>&1 || fail "no sound server: run this test through scripts/with-pulse.sh"
  source "$(dirname "$0")/lib/sound.sh"
  rerun_in_xvfb "$0" "$exe"
fi

work=$(mktemp -d /tmp/somora-close.XXXXXX)
pid=""
cleanup() {
  kill_now "$pid"
  rm -rf "$work"
}
trap cleanup EXIT

copy_program "$exe" "$work" || fail "cannot copy $exe"
window_folders "$work" || fail "cannot make the program's folders"
printf '[Settings]\nSamplingRate=22050\nManualMode=1\n' >"$work/config.ini"

# The id of the visible window with this exact title, waiting up to 10 s.
window() {
  local id
  for _ in $(seq 100); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
# Clicks at client position x,y of a window (no window manager: no frame).
click() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
  xdotool mousemove --sync $((X + $2)) $((Y + $3)) click 1
}
takes() { find "$work/record" -maxdepth 1 -type f -name 'PLEN*.wav' 2>/dev/null | sort; }
u32() { od -An -tu4 -j"$2" -N4 "$1" | tr -d ' '; }

capturing() { pactl list source-outputs 2>/dev/null | grep -q "application.process.id = \"$pid\""; }

# Starts the window and, once its capture stream is open, opens a manual take.
start_with_take() {
  rm -rf "$work/record"
  # The pointer starts away from the window, not where the last click left it.
  xdotool mousemove 1000 740
  (cd "$work" && exec ./Somorabox) >"$work/app.log" 2>&1 &
  pid=$!
  main=$(window "Brovane Somora recorder") || fail "$1: no main window"
  wait_for 100 capturing || fail "$1: no capture stream was opened"
  click "$main" $((158 + 14)) $((45 + 8))   # Image7, manual start
  for _ in $(seq 100); do [ -n "$(takes)" ] && break; sleep 0.1; done
  [ -n "$(takes)" ] || fail "$1: no take was opened"
}

# Waits up to 10 s for the program to end; it must end with exit code 0 and
# leave one take whose sizes match its length.
expect_end() {
  wait_exit "$pid" 100 || fail "$1: the program kept running"
  pid=""
  [ "$exit_code" -eq 0 ] || fail "$1: exit code $exit_code"
  mapfile -t files < <(takes)
  [ ${#files[@]} -eq 1 ] || fail "$1: expected one take, found ${#files[@]}"
  local size
  size=$(stat -c %s "${files[0]}")
  [ "$size" -gt 44 ] || fail "$1: the take holds no sound"
  [ "$(u32 "${files[0]}" 4)" = $((size - 8)) ] || fail "$1: RIFF size $(u32 "${files[0]}" 4), file $size"
  [ "$(u32 "${files[0]}" 40)" = $((size - 44)) ] || fail "$1: data size $(u32 "${files[0]}" 40), file $size"
}

# 1. The close image while the settings dialog is open.
start_with_take "close image"
click "$main" $((68 + 14)) $((45 + 8))         # Image5, settings
window "Somora录音系统设置" >/dev/null || fail "close image: no settings dialog"
click "$main" $((712 + 14)) $((54 + 19))       # Image2, close
expect_end "close image with the settings dialog open"

# 2. SIGTERM while the password dialog (modal, over the settings) is open.
start_with_take "SIGTERM"
click "$main" $((68 + 14)) $((45 + 8))
settings=$(window "Somora录音系统设置") || fail "SIGTERM: no settings dialog"
click "$settings" $((368 + 44)) $((512 + 12))  # 设为默认值
window "权限管理" >/dev/null || fail "SIGTERM: no password dialog"
kill -TERM "$pid"
expect_end "SIGTERM with the password dialog open"

# 3. SIGHUP and SIGINT with the window alone.
for signal in HUP INT; do
  start_with_take "SIG$signal"
  kill -"$signal" "$pid"
  expect_end "SIG$signal"
done

echo "test_window_close_xvfb: ok"
