#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The recorder started under Xvfb in a folder with a few recordings shows one
# tile per recording at the strip's slots, with its time on it, and has
# removed the prefixed recording older than a day.
# $1: the built Somorabox.
. "$(dirname "$0")/lib/program.sh"
. "$(dirname "$0")/lib/xvfb.sh"
set -euo pipefail
exe=$(realpath "$1")
for tool in xvfb-run import convert; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/deps.sh installs it)" >&2; exit 1; }
done
dir=$(mktemp -d /tmp/somora-strip.XXXXXX)
pid_file=$dir/pid
cleanup() {
  if [ -s "$pid_file" ]; then kill "$(cat "$pid_file")" 2>/dev/null || true; fi
  rm -rf "$dir"
}
trap cleanup EXIT

copy_program "$exe" "$dir"
mkdir -p "$dir/record" "$dir/config" "$dir/runtime"
chmod 700 "$dir/runtime"

# A 44-byte PCM header (22050 Hz, stereo, 16 bits) and 8 KiB of silence.
make_wav() {
  {
    printf 'RIFF\x24\x20\x00\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x02\x00'
    printf '\x22\x56\x00\x00\x88\x58\x01\x00\x04\x00\x10\x00data\x00\x20\x00\x00'
    head -c 8192 /dev/zero
  } >"$1"
  touch -d "$2" "$1"
}
make_wav "$dir/record/PLEN20000101000000.wav" "3 hours ago"
make_wav "$dir/record/PLEN20000101000100.wav" "2 hours ago"
make_wav "$dir/record/take.wav" "1 hour ago"
make_wav "$dir/record/PLEN19990101000000.wav" "2 days ago"
[ "$(stat -c %s "$dir/record/take.wav")" -eq 8236 ]

shot=$dir/shot.png
export XDG_CONFIG_HOME=$dir/config XDG_RUNTIME_DIR=$dir/runtime QT_QPA_PLATFORM=xcb
run_in_xvfb bash -c "
  '$dir/Somorabox' & echo \$! >'$pid_file'
  sleep 2.5
  import -window root '$shot'
  kill \$(cat '$pid_file'); wait \$(cat '$pid_file') 2>/dev/null || true"
: >"$pid_file"

fail=0
pixel() { convert "$shot" -format "%[pixel:p{$1,$2}]" info:; }
# Pixels of the given colour (10% tolerance) in a rectangle w h x y.
count_colour() {
  convert "$shot" -crop "$1x$2+$3+$4" +repage -fuzz 10% -fill white -opaque "$5" \
    -fill black +opaque white -format '%[fx:round(mean*w*h)]' info:
}

# The window is 750x220, 10 pixels from the top, centred on the 1024-wide screen.
left=$(( (1024 - 750) / 2 )); top=10
background="srgb(84,125,141)"
for k in 0 1 2 3; do
  x=$((left + 112 + 61 * k)); y=$((top + 151))
  top_px=$(pixel $((x + 28)) $((y + 10)))
  orange=$(count_colour 56 15 "$x" $((y + 30)) "rgb(255,153,0)")
  if [ "$k" -lt 3 ]; then
    if [ "$top_px" = "$background" ] || [ "$orange" -lt 10 ]; then
      echo "slot $k: no tile (pixel $top_px, $orange orange pixels)"; fail=1
    fi
  else
    if [ "$top_px" != "$background" ] || [ "$orange" -ne 0 ]; then
      echo "slot $k: expected the empty strip, got $top_px and $orange orange pixels"; fail=1
    fi
  fi
done
# Between two tiles the strip's background shows.
gap=$(pixel $((left + 112 + 58)) $((top + 151 + 10)))
[ "$gap" = "$background" ] || { echo "gap between tiles: $gap"; fail=1; }

[ -e "$dir/record/PLEN19990101000000.wav" ] && { echo "the recording older than a day is still there"; fail=1; }
[ -e "$dir/record/take.wav" ] || { echo "take.wav was deleted"; fail=1; }

if [ "$fail" -ne 0 ]; then
  cp "$shot" /tmp/test_strip_xvfb_failed.png && echo "screenshot: /tmp/test_strip_xvfb_failed.png"
  exit 1
fi
echo "strip under Xvfb: ok"
