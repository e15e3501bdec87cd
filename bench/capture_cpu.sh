#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The recorder's CPU share while it captures at 44.1 kHz with its window open:
# runs the built program beside a private sound server under Xvfb, with
# speech playing into the sink now and then, and reads utime+stime from
# /proc/PID/stat over the measuring time.
# Usage: bench/capture_cpu.sh [seconds]   (default 20)
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-20}
if [ ! -x build/Somorabox ]; then
  echo "capture_cpu: build the program first (ninja -C build Somorabox)" >&2
  exit 1
fi
if [ -z "${SOMORA_CPU_INNER:-}" ]; then
  SOMORA_CPU_INNER=1 exec scripts/with-pulse.sh \
    xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi

dir=$(mktemp -d /tmp/somora-cpu.XXXXXX)
pid=""
player=""
cleanup() {
  [ -n "$player" ] && kill "$player" 2>/dev/null && wait "$player" 2>/dev/null
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
cp build/Somorabox build/libsomorabox_core.so build/libsomorabox_window.so "$dir/"
printf '[Settings]\nSamplingRate=44100\n' >"$dir/config.ini"
espeak-ng -w "$dir/speech.wav" "One, two, three, testing the line input of the venue."
export XDG_CONFIG_HOME=$dir/config

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }

QT_QPA_PLATFORM=xcb "$dir/Somorabox" >"$dir/out.log" 2>&1 &
pid=$!
sleep 4  # start-up, the capture start after one second, the first sound
streams=$(pactl list short source-outputs | wc -l)
t0=$(ticks "$pid")
s0=$(date +%s.%N)
(
  end=$((SECONDS + secs))
  while [ "$SECONDS" -lt "$end" ]; do
    paplay -d venue "$dir/speech.wav" 2>/dev/null || true
    sleep 2
  done
) &
player=$!
sleep "$secs"
t1=$(ticks "$pid")
s1=$(date +%s.%N)
hz=$(getconf CLK_TCK)
awk -v t0="$t0" -v t1="$t1" -v s0="$s0" -v s1="$s1" -v hz="$hz" -v n="$streams" 'BEGIN {
  cpu = (t1 - t0) / hz; wall = s1 - s0
  printf "capture streams open: %d\n", n
  printf "CPU %.2f s in %.1f s of wall time: %.2f %% of one core\n", cpu, wall, 100 * cpu / wall
}'
if [ "$streams" -lt 1 ]; then
  echo "capture_cpu: the program opened no capture stream; the figure does not cover capture" >&2
  exit 2
fi
