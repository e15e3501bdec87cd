#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The headless recorder's CPU share and peak memory while it listens at
# 44.1 kHz through ALSA and a private sound server, beside the same figures
# for arecord capturing the same source into /dev/null.
# The CPU time is the sum over the process's threads of the time the
# scheduler ran them (/proc/PID/task/*/schedstat, in nanoseconds; utime+stime
# from /proc/PID/stat count whole clock ticks and are shown beside it); the
# peak memory is VmHWM from /proc/PID/status, with the anonymous part
# (RssAnon) beside it: the rest are pages of the shared libraries.
# Usage: bench/headless_cpu.sh [seconds] [path/to/Somorabox]   (default 60, build/Somorabox)
. "$(dirname "$0")/../tests/scripts/lib/program.sh"
. "$(dirname "$0")/../tests/scripts/lib/wait.sh"
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-60}
exe=${2:-build/Somorabox}
need_program headless_cpu "$exe"
if [ -z "${SOMORA_CPU_INNER:-}" ]; then
  SOMORA_CPU_INNER=1 exec scripts/with-pulse.sh bash "$0" "$@"
fi

dir=$(mktemp -d /tmp/somora-headless-cpu.XXXXXX)
pid=""
cleanup() {
  kill_now "$pid" TERM
  rm -rf "$dir"
}
trap cleanup EXIT
mkdir -p "$dir/runtime" "$dir/config"
chmod 700 "$dir/runtime"
copy_program "$exe" "$dir"
printf '[Settings]\nSamplingRate=44100\n' >"$dir/config.ini"
hz=$(getconf CLK_TCK)
server="unix:${PULSE_RUNTIME_PATH:-$XDG_RUNTIME_DIR/pulse}/native"

ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
run_ns() { cat /proc/"$1"/task/*/schedstat | awk '{s += $1} END {print s}'; }
peak_kb() { awk '/^VmHWM:/ {print $2}' "/proc/$1/status"; }
anon_kb() { awk '/^RssAnon:/ {print $2}' "/proc/$1/status"; }

# measure NAME COMMAND...: starts the command, lets it settle, and prints its
# CPU share and peak memory over `secs` seconds.
measure() {
  local name=$1
  shift
  "$@" >"$dir/$name.out" 2>"$dir/$name.err" &
  pid=$!
  for _ in $(seq 50); do
    [ "$(pactl list short source-outputs | wc -l)" -ge 1 ] && break
    sleep 0.1
  done
  sleep 2
  kill -0 "$pid" 2>/dev/null || { echo "headless_cpu: $name ended early" >&2; cat "$dir/$name.err" >&2; exit 1; }
  local streams t0 n0 s0 t1 n1 s1 kb anon
  streams=$(pactl list short source-outputs | wc -l)
  t0=$(ticks "$pid")
  n0=$(run_ns "$pid")
  s0=$(date +%s.%N)
  sleep "$secs"
  t1=$(ticks "$pid")
  n1=$(run_ns "$pid")
  s1=$(date +%s.%N)
  kb=$(peak_kb "$pid")
  anon=$(anon_kb "$pid")
  kill -TERM "$pid"
  wait "$pid" 2>/dev/null || true
  pid=""
  awk -v n="$name" -v t0="$t0" -v t1="$t1" -v n0="$n0" -v n1="$n1" -v s0="$s0" -v s1="$s1" -v hz="$hz" \
    -v kb="$kb" -v anon="$anon" -v st="$streams" 'BEGIN {
    cpu = (n1 - n0) / 1e9; wall = s1 - s0
    printf "%-9s CPU %.3f s in %.1f s: %.3f %% of one core (ticks: %.2f s); peak memory %.1f MB (anonymous %.1f MB); capture streams %d\n",
      n, cpu, wall, 100 * cpu / wall, (t1 - t0) / hz, kb / 1024, anon / 1024, st
  }'
  [ "$streams" -ge 1 ] || { echo "headless_cpu: $name opened no capture stream" >&2; exit 2; }
}

measure headless env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
  XDG_CONFIG_HOME="$dir/config" XDG_RUNTIME_DIR="$dir/runtime" PULSE_SERVER="$server" \
  "$dir/Somorabox" --headless
measure arecord arecord -q -D default -f S16_LE -c 2 -r 44100 /dev/null
