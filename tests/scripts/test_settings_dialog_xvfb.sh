#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Opens the settings dialog from the main window's settings image under Xvfb,
# saves the settings as defaults with the administrator password, and checks
# config.ini. $1: the built Somorabox.
. "$(dirname "$0")/lib/program.sh"
. "$(dirname "$0")/lib/xvfb.sh"
set -euo pipefail
exe=$(realpath "${1:?usage: $0 path/to/Somorabox}")
for tool in xvfb-run xdotool; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/deps.sh installs it)" >&2; exit 1; }
done

dir=$(mktemp -d /tmp/somora-settings.XXXXXX)
trap 'rm -rf "$dir"' EXIT
copy_program "$exe" "$dir"
export XDG_CONFIG_HOME=$dir/config XDG_RUNTIME_DIR=$dir/runtime
mkdir -p "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

cat >"$dir/drive.sh" <<'DRIVE'
set -euo pipefail
dir=$1
QT_QPA_PLATFORM=xcb "$dir/Somorabox" >"$dir/app.log" 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null || true' EXIT

# The id of the visible window with this exact title, waiting up to 10 s.
window() {
  for _ in $(seq 100); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    kill -0 $pid 2>/dev/null || { echo "the program ended" >&2; cat "$dir/app.log" >&2; return 1; }
    sleep 0.1
  done
  echo "no window '$1'" >&2
  return 1
}
# Clicks at client position x,y of a window (no window manager: no frame).
click() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
  xdotool mousemove --sync $((X + $2)) $((Y + $3))
  sleep 0.2
  xdotool click 1
}

main=$(window "Brovane Somora recorder")
sleep 1.5   # the capture starts one second after start-up
click "$main" $((68 + 14)) $((45 + 8))          # Image5, the settings image
settings=$(window "Somora录音系统设置")
eval "$(xdotool getwindowgeometry --shell "$settings")"
[ "$WIDTH" = 500 ] && [ "$HEIGHT" = 560 ] || { echo "settings dialog is ${WIDTH}x$HEIGHT" >&2; exit 1; }
click "$settings" $((368 + 44)) $((512 + 12))   # 设为默认值
password=$(window "权限管理")
sleep 0.3
click "$password" $((144 + 56)) $((13 + 10))    # Edit1
xdotool type --delay 30 58316024
click "$password" $((96 + 32)) $((56 + 12))     # 确定
for _ in $(seq 100); do
  [ -f "$dir/config.ini" ] && grep -q '^password=' "$dir/config.ini" && break
  sleep 0.1
done
sleep 0.3
# Both dialogs are gone, the main window stays.
if xdotool search --onlyvisible --name '^Somora录音系统设置$' >/dev/null 2>&1; then
  echo "the settings dialog is still open" >&2; exit 1
fi
kill -0 $pid
DRIVE

run_in_xvfb bash "$dir/drive.sh" "$dir"

expected=$'[Settings]\nSamplingRate=22050\nRecordingChannel=-1\nRecordingVolume=25\nPlayingVolume=25\nRecordingLevel=2\nManualMode=0\nEndRecordingIfPlaying=1\nAGC=1\nManageFile=1\npassword=58316024'
actual=$(cat "$dir/config.ini" 2>/dev/null || true)
if [ "$actual" != "$expected" ]; then
  echo "config.ini differs:" >&2
  diff <(echo "$expected") <(echo "$actual") >&2 || true
  exit 1
fi
if [ -e "$XDG_CONFIG_HOME/autostart/PLEN.desktop" ]; then
  echo "an autostart entry was written although the box was not ticked" >&2
  exit 1
fi
echo "PASS"
