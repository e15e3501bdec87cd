#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# [Schedule] Hours end to end, headless beside the sound server: with hours
# that exclude now, speech makes no take and the state says when the hours
# come (also on /api/status); with hours that include now, speech opens a
# take; a malformed value is refused with a line naming the bad part, and
# the recorder records always. A square wave at full scale is said as
# clipping ([Alerts] ClipPercent, 1 % by default).
#
# $1 = the built Somorabox. Runs inside scripts/with-pulse.sh.
. "$(dirname "$0")/lib/program.sh"
. "$(dirname "$0")/lib/wait.sh"
set -uo pipefail

exe=${1:?usage: test_hours_pulse.sh path/to/Somorabox}
work=$(mktemp -d /tmp/somora-hours.XXXXXX)
pid=""
player=""
cleanup() {
  stop_player
  kill_now "$pid"
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "test_hours: FAIL: $*" >&2
  show_recorder_logs "$work"
  exit 1
}
source "$(dirname "$0")/lib/sound.sh"
require_sound
server=$(sound_server)
command -v curl >/dev/null || fail "curl is missing"

make_speech "$work" 4
sox -n "${SOUND_FORMAT[@]}" "$work/square.wav" synth 2 square 441 gain -n 0 2>/dev/null || fail "sox square"
mkdir -p "$work/app" "$work/config" "$work/runtime"
chmod 700 "$work/runtime"
copy_program "$exe" "$work/app" || fail "cannot copy $exe"

# Day names in the program's own words; two days either way, so that a run
# across midnight still finds now inside or outside.
day() { LC_ALL=C date -d "$1" +%a; }
today=$(day today) tomorrow=$(day tomorrow) later=$(day '+2 days') last=$(day '+3 days')

# start HOURS [ARGS]: a fresh recorder with these hours, listening.
start() {
  rm -rf "$work/app/record"
  printf '[Settings]\nSamplingRate=22050\nRecordingLevel=2\nAGC=0\nManualMode=0\n[Schedule]\nHours=%s\n' "$1" \
    >"$work/app/config.ini"
  shift
  (run_program "$work" "$server" --headless "$@") >"$work/out.log" 2>"$work/err.log" &
  pid=$!
  wait_for 100 capture_streams_at_least 1 || fail "no capture stream was opened"
}
stop() {
  stop_player
  stop_pid "$pid" 100
  pid=""
}

# --- Outside the hours: the state line, /api/status, and no take.
start "$later-$last 00:00-24:00" --web 127.0.0.1:0
wait_line "^outside recording hours: next $later 00:00\$"
wait_url "$work/out.log" 's|^web page on \(http://[^ ]*\).*|\1|p' || fail "the web page did not start"
outside_on_page() {
  status=$(curl -s "${url}api/status")
  [[ $status == *'"hours":{"inside":false,"next":"'*'"state":"outside recording hours: next '"$later"' 00:00"}'* ]]
}
wait_for 30 outside_on_page || fail "/api/status: $status"
play_venue "$work/speech4.wav"
wait_for 100 gone "$player" || fail "the speech did not end"
sleep 0.5  # the last blocks of the speech reach the recorder
grep -q '^opened ' "$work/out.log" && fail "a take opened outside the hours"
stop
[ -z "$(ls -A "$work/app/record" 2>/dev/null)" ] || fail "record/ holds $(ls "$work/app/record")"

# --- Inside the hours: the speech opens a take; full scale is clipping.
start "$today-$tomorrow 00:00-24:00"
wait_line "^recording hours: until $later 00:00\$"
play_venue "$work/speech4.wav"
wait_line '^opened ' 1 10
stop_player
play_venue "$work/square.wav"
wait_line '^clipping$' 1 10
stop

# --- A malformed value: refused by a line that names the bad part; records always.
start "$today-Fry 08:00-18:00"
wait_line "^\[Schedule\] Hours refused: 'Fry' is no day .*; recording always\$"
play_venue "$work/speech4.wav"
wait_line '^opened ' 1 10
stop
grep -q 'recording hours' "$work/out.log" && fail "a refused value still gave hours"

echo "test_hours_pulse: ok"
