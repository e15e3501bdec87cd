#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The recorder's page under hostile clients (tests/scripts/lib/hostile_clients.py:
# an endless POST body, event streams asked for as /api/%65vents, a hundred
# connections from 127.0.0.2-.5 asking for a large take and never reading,
# wrong passwords in a loop), the program held to 512 descriptors. While
# that goes on, /api/status from 127.0.0.1 answers within 1 s each time,
# speech played into the line input still opens a take, and the program's
# peak resident memory (VmHWM) grows by less than 32 MB.
#
# $1 = the built Somorabox. Runs inside scripts/with-pulse.sh.
. "$(dirname "$0")/lib/program.sh"
. "$(dirname "$0")/lib/wait.sh"
set -uo pipefail

exe=${1:?usage: test_web_hostile_pulse.sh path/to/Somorabox}
work=$(mktemp -d /tmp/somora-hostile.XXXXXX)
pid=""
player=""
attack=""

cleanup() {
  kill_now "$attack"
  [ -n "$player" ] && kill "$player" 2>/dev/null && wait "$player" 2>/dev/null
  kill_now "$pid"
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "test_web_hostile: FAIL: $*" >&2
  show_recorder_logs "$work"
  [ -f "$work/attack.log" ] && { echo "--- attack:" >&2; cat "$work/attack.log" >&2; }
  exit 1
}

source "$(dirname "$0")/lib/sound.sh"
require_sound
command -v python3 >/dev/null || fail "python3 is missing"
command -v ss >/dev/null || fail "ss is missing (iproute2)"
server=$(sound_server)
make_speech "$work" 8
make_silence "$work" 1
sox "$work/sil1.wav" "$work/speech8.wav" "$work/take.wav" || fail "sox concat"

mkdir -p "$work/app/record" "$work/config" "$work/runtime"
chmod 700 "$work/runtime"
copy_program "$exe" "$work/app" || fail "cannot copy $exe"
printf '[Settings]\nSamplingRate=22050\nRecordingLevel=2\nAGC=0\nManualMode=0\n' >"$work/app/config.ini"
# A take far larger than the sockets between hold (sparse: no disk used).
big=PLEN20261207201500.wav
truncate -s 64M "$work/app/record/$big"

# 512 descriptors, soft and hard: the web server's caps must leave the
# recording its own.
(ulimit -n 512 && run_program "$work" "$server" --headless --web 127.0.0.1:0) >"$work/out.log" 2>"$work/err.log" &
pid=$!
wait_url "$work/out.log" 's/^web page on \(http:[^ ]*\)$/\1/p' || fail "no web page announced"
port=${url%/}
port=${port##*:}
wait_for 100 capture_streams_at_least 1 || fail "no capture stream was opened"
curl -s -o /dev/null -m 5 "${url}api/takes" || fail "the page did not answer before the load"
curl -s -o /dev/null -m 5 "${url}api/status" || fail "the page did not answer before the load"
hwm() { awk '/^VmHWM:/ {print $2}' "/proc/$pid/status"; }
before=$(hwm)

python3 "$(dirname "$0")/lib/hostile_clients.py" "$port" "$big" 25 >"$work/attack.log" 2>&1 &
attack=$!
connections() { [ "$(ss -Htn state established "( sport = :$port )" | wc -l)" -ge "$1" ]; }
wait_for 100 connections 30 || fail "the hostile clients did not get going"

paplay -d venue "$work/take.wav" &
player=$!
: >"$work/times"
for _ in $(seq 12); do
  curl -s -o /dev/null -m 5 -w '%{http_code} %{time_total}\n' "${url}api/status" >>"$work/times"
  sleep 1
done
wait_for 100 grep -q '^opened ' "$work/out.log" || fail "no take was opened under the load"
wait "$player" 2>/dev/null
player=""
wait "$attack"
attack=""
after=$(hwm)
kill -0 "$pid" 2>/dev/null || fail "the program ended under the load"

slow=$(awk '$1 != 200 || $2 >= 1.0' "$work/times")
[ -z "$slow" ] || fail "/api/status under the load: $(tr '\n' ';' <"$work/times")"
grown=$((after - before))
[ "$grown" -lt $((32 * 1024)) ] || fail "peak memory grew by $grown kB under the load ($before -> $after kB)"
[ "$(curl -s -o /dev/null -m 5 -w '%{http_code}' "${url}api/status")" = 200 ] || fail "no answer after the load"

worst=$(sort -k2 -n "$work/times" | tail -n 1 | cut -d' ' -f2)
echo "test_web_hostile_pulse: ok (/api/status worst ${worst} s, VmHWM +${grown} kB, $(cat "$work/attack.log"))"
