#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The recorder sets the sound server's volumes from config.ini one second
# after it starts (25 % is the server's 100 %, lower percentages scale it
# linearly), and --list-mixers shows the server's mixer with its gains.
# Runs inside the private sound server of scripts/with-pulse.sh or
# scripts/with-pipewire.sh; $1 is the built Somorabox.
. "$(dirname "$0")/lib/program.sh"
set -uo pipefail
exe=${1:?usage: test_mixer_pulse.sh path/to/Somorabox}

fail() {
  echo "test_mixer_pulse: $*" >&2
  exit 1
}

pactl info >/dev/null 2>&1 || fail "no sound server (run under scripts/with-pulse.sh)"

work=$(mktemp -d /tmp/somora-mixer.XXXXXX)
pid=""
cleanup() {
  if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# The volume in percent of every channel of a sink or source, one per line.
percents() {
  pactl "get-$1-volume" "$2" | head -n 1 | grep -o '[0-9]\+%' | tr -d '%'
}

expect_percent() {
  local kind=$1 name=$2 want=$3 got
  got=$(percents "$kind" "$name")
  [ -n "$got" ] || fail "could not read the volume of $kind $name"
  for p in $got; do
    [ "$p" = "$want" ] || fail "$kind $name is at $(echo $got | tr ' ' '/') %, expected $want %"
  done
}

# Start from volumes that differ from the configured ones.
pactl set-sink-volume speakers 90%
pactl set-source-volume venue.monitor 80%
# A muted capture is unmuted when the recording volume is applied.
pactl set-source-mute venue.monitor 1

# --list-mixers names the server's playback and capture elements.
listing=$("$exe" --list-mixers) || fail "--list-mixers exited with $?"
echo "$listing"
grep -q '"Master"' <<<"$listing" || fail "--list-mixers shows no line from the Master element"
grep -q 'source 0 "Capture"' <<<"$listing" || fail "--list-mixers shows no Capture source"
# The sink at 90 % of the server's volume: 22.5 %, 60 · log10(0.9) dB.
grep -q 'values 14745 14745 (-2.7 dB, -2.7 dB)' <<<"$listing" || fail "--list-mixers shows no gain of the Master volume"

mkdir -p "$work/app" "$work/config"
copy_program "$exe" "$work/app"
printf '[Settings]\r\nPlayingVolume=20\r\nRecordingVolume=10\r\n' >"$work/app/config.ini"

XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=offscreen "$work/app/Somorabox" >"$work/out.log" 2>&1 &
pid=$!
sleep 3
kill -0 "$pid" 2>/dev/null || { cat "$work/out.log" >&2; fail "the recorder ended early"; }

expect_percent sink speakers 80
expect_percent source venue.monitor 40
pactl get-source-mute venue.monitor | grep -q 'no' || fail "the default source is still muted"

kill "$pid"
wait "$pid" 2>/dev/null
pid=""
echo "test_mixer_pulse: volumes set as configured"
