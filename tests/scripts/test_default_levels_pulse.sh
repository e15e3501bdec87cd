#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The recorder at its defaults (no config.ini at all), end to end through
# ALSA and the sound server, as a new user starts it without a window:
# * it sets the speakers and the line input to the server's 100 %;
# * speech at about -20 dBFS RMS played into the line input becomes a take;
# * a hot input (compressed speech, peaks at -0.5 dBFS) makes the automatic
#   gain step the recording volume down during the take, and the kept take
#   has fewer than 0.1 % of its samples at full scale.
#
# $1 = the built Somorabox. Runs inside scripts/with-pulse.sh or
# scripts/with-pipewire.sh.
. "$(dirname "$0")/lib/program.sh"
. "$(dirname "$0")/lib/wait.sh"
set -uo pipefail

exe=${1:?usage: test_default_levels_pulse.sh path/to/Somorabox}
work=$(mktemp -d /tmp/somora-levels.XXXXXX)
pid=""
player=""

cleanup() {
  [ -n "$player" ] && kill "$player" 2>/dev/null && wait "$player" 2>/dev/null
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    stop_pid "$pid" 50
  fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "test_default_levels (${SOMORA_SOUND_SERVER:-?}): FAIL: $*" >&2
  show_recorder_logs "$work"
  exit 1
}

source "$(dirname "$0")/lib/sound.sh"
require_sound
server=$(sound_server)

# The first channel's volume of a sink or source in percent.
percent() {
  pactl "get-$1-volume" "$2" | head -n 1 | grep -o '[0-9]\+%' | head -n 1 | tr -d '%'
}

# --- Speech at -20 dBFS RMS, and the same speech compressed and peaking at -0.5 dBFS.
make_speech "$work" 12
make_silence "$work" 1
rms=$(sox "$work/speech12.wav" -n stat 2>&1 | awk '/^RMS +amplitude/ {print $3}')
gain=$(awk -v r="$rms" 'BEGIN { printf "%.2f", -20 - 20 * log(r) / log(10) }')
sox "$work/speech12.wav" "$work/normal12.wav" gain "$gain" || fail "sox gain"
sox "$work/speech12.wav" "$work/hot12.wav" compand 0.002,0.05 -70,-70,-40,-8,0,-3 gain -n -0.5 2>/dev/null \
  || fail "sox compand"
sox "$work/sil1.wav" "$work/normal12.wav" "$work/normal.wav" || fail "sox concat"
sox "$work/sil1.wav" "$work/hot12.wav" "$work/hot.wav" || fail "sox concat"

# Volumes the recorder must change: a quiet desktop and a turned-down input.
pactl set-sink-volume speakers 30%
pactl set-source-volume venue.monitor 30%

# --- The program in a folder of its own, without any settings file.
mkdir -p "$work/app" "$work/config" "$work/runtime"
chmod 700 "$work/runtime"
copy_program "$exe" "$work/app" || fail "cannot copy $exe"
run_program "$work" "$server" --headless >"$work/out.log" 2>"$work/err.log" &
pid=$!

# Listening once the capture stream is open and the volumes are set.
for _ in $(seq 150); do
  kill -0 "$pid" 2>/dev/null || fail "the program ended at start-up"
  [ "$(capture_streams)" -ge 1 ] && [ "$(percent source venue.monitor)" = 100 ] &&
    [ "$(percent sink speakers)" = 100 ] && break
  sleep 0.1
done
[ "$(capture_streams)" -ge 1 ] || fail "no capture stream was opened"
[ "$(percent source venue.monitor)" = 100 ] || fail "the line input is at $(percent source venue.monitor) %, not 100 %"
[ "$(percent sink speakers)" = 100 ] || fail "the speakers are at $(percent sink speakers) %, not 100 %"

# Waits for the Nth "kept" line and prints the take's file name.
kept() {
  local n=$1
  for _ in $(seq 300); do
    [ "$(grep -c '^kept ' "$work/out.log")" -ge "$n" ] && break
    sleep 0.1
  done
  grep '^kept ' "$work/out.log" | sed -n "${n}p" | awk '{print $2}'
}

# --- Speech at a normal line level.
timeout 40 paplay -d venue "$work/normal.wav" || fail "paplay could not play the speech"
first=$(kept 1)
[ -n "$first" ] || fail "speech at -20 dBFS RMS was not recorded as a take"

# --- A hot input, watching the recording volume while it plays.
timeout 40 paplay -d venue "$work/hot.wav" &
player=$!
lowest=100
while kill -0 "$player" 2>/dev/null; do
  p=$(percent source venue.monitor)
  [ -n "$p" ] && [ "$p" -lt "$lowest" ] && lowest=$p
  sleep 0.1
done
wait "$player" || fail "paplay could not play the hot speech"
player=""
second=$(kept 2)
[ -n "$second" ] || fail "the hot speech was not recorded as a take"
[ "$lowest" -lt 100 ] || fail "the automatic gain did not turn the recording volume down"

file="$work/app/record/$second"
[ -f "$file" ] || fail "no file $second"
total=0
clipped=0
read -r total clipped < <(tail -c +45 "$file" | od -An -v -td2 -w2 |
  awk '{ n++; if ($1 >= 32767 || $1 <= -32768) c++ } END { print n + 0, c + 0 }')
[ "$total" -gt 0 ] || fail "the hot take is empty"
awk -v c="$clipped" -v n="$total" 'BEGIN { exit !(c * 1000 < n) }' \
  || fail "$clipped of $total samples of the hot take are at full scale"

echo "test_default_levels (${SOMORA_SOUND_SERVER:-?}): ok (takes $first, $second; volume down to $lowest %;" \
  "$clipped of $total samples at full scale)"
