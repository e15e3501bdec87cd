#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The recorder without a window, end to end through ALSA and the sound server:
# speech played into the sink "venue" opens a take; SIGTERM in the middle of
# the speech ends the program with exit code 0 and keeps the take with its
# header sizes patched. A second headless start meanwhile ends at once.
#
# $1 = the built Somorabox. Runs inside scripts/with-pulse.sh.
. "$(dirname "$0")/lib/program.sh"
. "$(dirname "$0")/lib/wait.sh"
set -uo pipefail

exe=${1:?usage: test_headless_pulse.sh path/to/Somorabox}
work=$(mktemp -d /tmp/somora-headless.XXXXXX)
pid=""
player=""

cleanup() {
  [ -n "$player" ] && kill "$player" 2>/dev/null && wait "$player" 2>/dev/null
  kill_now "$pid"
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "test_headless: FAIL: $*" >&2
  show_recorder_logs "$work"
  exit 1
}

source "$(dirname "$0")/lib/sound.sh"
require_sound
server=$(sound_server)

# --- About 12 s of dense speech after 1 s of silence.
make_speech "$work" 12
make_silence "$work" 1
sox "$work/sil1.wav" "$work/speech12.wav" "$work/take.wav" || fail "sox concat"

# --- The program in a folder of its own, with its own settings and runtime.
mkdir -p "$work/app" "$work/config" "$work/runtime"
chmod 700 "$work/runtime"
copy_program "$exe" "$work/app" || fail "cannot copy $exe"
# The default volumes and no automatic gain: the take's length must not
# depend on the gain stepping down.
printf '[Settings]\nSamplingRate=22050\nRecordingLevel=2\nAGC=0\nManualMode=0\n' \
  >"$work/app/config.ini"
run() { run_program "$work" "$server" "$@"; }
(run --headless) >"$work/out.log" 2>"$work/err.log" &
pid=$!

# Listening once its capture stream is open.
listening() {
  kill -0 "$pid" 2>/dev/null || fail "the program ended at start-up"
  [ "$(capture_streams)" -ge 1 ]
}
wait_for 100 listening || fail "no capture stream was opened"

# A second recorder ends at once, silently, with exit code 0.
(run --headless) >"$work/second.out" 2>&1 &
second=$!
if ! wait_exit "$second" 50; then
  kill -KILL "$second"
  fail "a second headless start kept running"
fi
[ "$exit_code" -eq 0 ] || fail "a second headless start ended with a code other than 0"
[ ! -s "$work/second.out" ] || fail "a second headless start printed: $(cat "$work/second.out")"
kill -0 "$pid" 2>/dev/null || fail "the first recorder ended"

takes() { find "$work/app/record" -maxdepth 1 -type f -name '*.wav' 2>/dev/null | sort; }
u32() { od -An -tu4 -j"$2" -N4 "$1" | tr -d ' '; }

paplay -d venue "$work/take.wav" &
player=$!
# The take opens within the first seconds of speech; end the program about
# 6 s into the speech, while it still plays.
for _ in $(seq 80); do
  grep -q '^opened ' "$work/out.log" && break
  sleep 0.1
done
grep -q '^opened ' "$work/out.log" || fail "no take was opened by the speech"
sleep 5
kill -0 "$player" 2>/dev/null || fail "the speech ended before the signal"
kill -TERM "$pid"
wait_exit "$pid" 100 || fail "the program did not end within 10 s of SIGTERM"
pid=""
[ "$exit_code" -eq 0 ] || fail "exit code $exit_code after SIGTERM"
kill "$player" 2>/dev/null
wait "$player" 2>/dev/null
player=""

mapfile -t files < <(takes)
[ ${#files[@]} -eq 1 ] || fail "expected exactly one take, found ${#files[@]}"
file=${files[0]}
name=$(basename "$file")
[[ $name =~ ^PLEN[0-9]{14}\.wav$ ]] || fail "unexpected name $name"
size=$(stat -c %s "$file")
[ "$(u32 "$file" 4)" = $((size - 8)) ] || fail "RIFF size $(u32 "$file" 4), file $size"
[ "$(u32 "$file" 40)" = $((size - 44)) ] || fail "data size $(u32 "$file" 40), file $size"
data=$((size - 44))
[ $((data % 8192)) -eq 0 ] || fail "data length $data is no multiple of 8192"
# About five seconds of speech: kept although shorter than ten seconds.
[ "$data" -ge $((3 * 88200)) ] && [ "$data" -lt $((10 * 88200)) ] || fail "data holds $data bytes"
rms=$(sox "$file" -n stat 2>&1 | awk '/^RMS +amplitude/ {print $3}')
awk -v r="${rms:-0}" 'BEGIN { exit !(r > 0.01) }' || fail "the take is silent (RMS ${rms:-?})"

# Standard output: the take opened and kept, with its name and length.
seconds=$(awk -v d="$data" 'BEGIN { printf "%.1f", d / 4 / 22050 }')
expected=$(printf 'opened %s\nkept %s %s s' "$name" "$name" "$seconds")
[ "$(cat "$work/out.log")" = "$expected" ] || fail "standard output differs from: $expected"
[ ! -s "$work/err.log" ] || fail "the program wrote to standard error"

echo "test_headless_pulse: ok ($name, $data bytes of data, RMS $rms)"
