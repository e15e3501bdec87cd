#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The recorder left alone under X11 turns into the shaped 314x90 panel after
# about ten seconds and drifts; a double click on the panel brings the full
# window back with the display area where the panel was.
# $1: the built Somorabox.
. "$(dirname "$0")/lib/program.sh"
. "$(dirname "$0")/lib/xvfb.sh"
set -euo pipefail

exe=$(readlink -f "${1:?usage: $0 path/to/Somorabox}")
for tool in xvfb-run xdotool xwininfo; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/deps.sh installs it)" >&2; exit 1; }
done
if [ -z "${SOMORA_IN_XVFB:-}" ]; then
  rc=0
  SOMORA_IN_XVFB=1 run_in_xvfb bash "$0" "$exe" || rc=$?
  exit "$rc"
fi

work=$(mktemp -d)
app_pid=""
cleanup() {
  if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then
    kill "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  [ -f "$work/app.log" ] && sed 's/^/  app: /' "$work/app.log" >&2
  exit 1
}

mkdir -p "$work/bin" "$work/config" "$work/runtime"
chmod 700 "$work/runtime"
copy_program "$exe" "$work/bin"
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY

# Keep the pointer away from the window: it starts below it, in the middle.
xdotool mousemove 1000 740

(cd "$work/bin" && exec ./Somorabox) >"$work/app.log" 2>&1 &
app_pid=$!

wid=""
for _ in $(seq 1 100); do
  wid=$(xdotool search --name '^Brovane Somora recorder$' 2>/dev/null | head -1 || true)
  [ -n "$wid" ] && break
  kill -0 "$app_pid" 2>/dev/null || fail "the recorder ended early"
  sleep 0.1
done
[ -n "$wid" ] || fail "no window appeared"
shown_at=$(date +%s.%N)

# Prints "x y w h" of the window's shape ("x y 750 220" when it has none).
geometry() {
  local info x y extents
  info=$(xwininfo -id "$wid" -shape)
  x=$(awk '/Absolute upper-left X:/ {print $4}' <<<"$info")
  y=$(awk '/Absolute upper-left Y:/ {print $4}' <<<"$info")
  extents=$(awk '/Window shape extents:/ {print $4}' <<<"$info")
  if [ -z "$extents" ]; then
    extents=$(awk '/^ *Width:/ {w=$2} /^ *Height:/ {h=$2} END {print w "x" h "+0+0"}' <<<"$info")
  fi
  extents=${extents%%+*}
  echo "$x $y ${extents%x*} ${extents#*x}"
}

read -r x y w h <<<"$(geometry)"
[ "$w $h" = "750 220" ] || fail "the window starts as ${w}x${h}, not 750x220"
[ "$x $y" = "137 10" ] || fail "the window starts at $x,$y, not centred 10 pixels from the top (137,10)"

# Without pointer movement the panel comes after about ten seconds.
for _ in $(seq 1 200); do
  read -r x y w h <<<"$(geometry)"
  [ "$w $h" = "314 90" ] && break
  sleep 0.1
done
now=$(date +%s.%N)
[ "$w $h" = "314 90" ] || fail "no 314x90 panel after 20 s (shape ${w}x${h})"
elapsed=$(awk -v a="$shown_at" -v b="$now" 'BEGIN {printf "%.1f", b - a}')
awk -v e="$elapsed" 'BEGIN {exit !(e >= 8 && e <= 14)}' || fail "the panel came after $elapsed s, not about 10 s"

# The window moved by (244, 36) so the displays kept their place, then drifts
# down and right by equal steps: it lies on the diagonal from (381, 46).
[ $((x - 381)) -eq $((y - 46)) ] && [ $((x - 381)) -ge 0 ] ||
  fail "the panel is at $x,$y, off the drift line from 381,46"
sleep 1
read -r x2 y2 w2 h2 <<<"$(geometry)"
[ "$w2 $h2" = "314 90" ] || fail "the panel lost its shape while drifting (${w2}x${h2})"
dx=$((x2 - x)) dy=$((y2 - y))
[ "$dx" -eq "$dy" ] && [ "$dx" -ge 15 ] && [ "$dx" -le 45 ] ||
  fail "the panel moved by $dx,$dy in a second, not about 30,30"

# A double click on the panel: the full window comes back 244 pixels left of
# and 36 above the panel's place at that moment, and stops drifting.
read -r px py _ _ <<<"$(geometry)"
xdotool mousemove $((px + 157)) $((py + 45))
xdotool click --repeat 2 --delay 80 1
sleep 0.5
read -r qx qy qw qh <<<"$(geometry)"
[ "$qw $qh" = "750 220" ] || fail "after the double click the shape is ${qw}x${qh}, not 750x220"
ax=$((qx + 244 - px)) ay=$((qy + 36 - py))
[ "$ax" -eq "$ay" ] && [ "$ax" -ge 0 ] && [ "$ax" -le 30 ] ||
  fail "the window came back at $qx,$qy; the panel was at $px,$py"
sleep 0.5
read -r rx ry _ _ <<<"$(geometry)"
[ "$rx $ry" = "$qx $qy" ] || fail "the full window still moves ($qx,$qy -> $rx,$ry)"

echo "PASS: panel after $elapsed s, drifted $dx,$dy per second, back at $qx,$qy"
