#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End to end through ALSA and the sound server: speech played into the sink
# "venue" reaches the program through the default source (its monitor) and
# becomes exactly one take; a short burst afterwards leaves no file.
#
# Needs the ALSA capture engine in the build under test: without it no take
# appears and the test fails with a message saying so. Every wait is bounded.
#
# $1 = the built Somorabox. Runs inside scripts/with-pulse.sh.
. "$(dirname "$0")/lib/program.sh"
. "$(dirname "$0")/lib/wait.sh"
set -uo pipefail

exe=${1:?usage: test_record_speech.sh path/to/Somorabox}
work=$(mktemp -d /tmp/somora-speech.XXXXXX)
pid=""

cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    stop_pid "$pid" 50
  fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "test_record_speech: FAIL: $*" >&2
  echo "--- record/:" >&2
  ls -l "$work/app/record" >&2 2>/dev/null
  echo "--- program output:" >&2
  tail -n 30 "$work/program.log" >&2 2>/dev/null
  exit 1
}

source "$(dirname "$0")/lib/sound.sh"
require_sound
# The program gets a runtime folder of its own, so it is told where the server is.
server=$(sound_server)

# --- Sound: 1 s silence, ~12 s of dense speech, 4 s silence; a 4 s burst.
make_speech "$work" 12
make_silence "$work" 1
make_silence "$work" 4
sox "$work/dense.wav" "$work/burst4.wav" trim 0 4 || fail "sox trim"
sox "$work/sil1.wav" "$work/speech12.wav" "$work/sil4.wav" "$work/take.wav" || fail "sox concat"
sox "$work/burst4.wav" "$work/sil4.wav" "$work/burst.wav" || fail "sox concat"

# --- The program in a folder of its own, with its own settings and runtime.
mkdir -p "$work/app" "$work/config" "$work/runtime"
chmod 700 "$work/runtime"
copy_program "$exe" "$work/app" || fail "cannot copy $exe"
# The default volumes and no automatic gain: the take's length must not
# depend on the gain stepping down.
printf '[Settings]\nSamplingRate=22050\nRecordingLevel=2\nAGC=0\nManualMode=0\n' \
  >"$work/app/config.ini"
(
  cd "$work/app" &&
    QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime" \
      PULSE_SERVER="$server" \
      exec ./Somorabox
) >"$work/program.log" 2>&1 &
pid=$!
sleep 2
kill -0 "$pid" 2>/dev/null || fail "the program ended at start-up"

takes() { find "$work/app/record" -maxdepth 1 -type f -name '*.wav' 2>/dev/null | sort; }
u32() { od -An -tu4 -j"$2" -N4 "$1" | tr -d ' '; }
u16() { od -An -tu2 -j"$2" -N2 "$1" | tr -d ' '; }
# A take is closed once its data size matches its length.
closed() { [ -s "$1" ] && [ "$(u32 "$1" 40)" = "$(($(stat -c %s "$1") - 44))" ]; }

timeout 40 paplay -d venue "$work/take.wav" || fail "paplay could not play the speech"

# The take ends 3 s after the speech; allow for latency.
first=""
for _ in $(seq 100); do
  mapfile -t files < <(takes)
  if [ ${#files[@]} -eq 1 ] && closed "${files[0]}"; then first=${files[0]}; break; fi
  sleep 0.1
done
mapfile -t files < <(takes)
[ ${#files[@]} -ge 1 ] || fail "no take was recorded (is the ALSA capture engine in this build?)"
[ ${#files[@]} -eq 1 ] || fail "expected exactly one take, found ${#files[@]}"
[ -n "$first" ] || fail "the take was not closed within 10 s after the speech"

name=$(basename "$first")
[[ $name =~ ^PLEN[0-9]{14}\.wav$ ]] || fail "unexpected name $name"
size=$(stat -c %s "$first")
[ "$(head -c 4 "$first")" = RIFF ] || fail "no RIFF id"
[ "$(dd if="$first" bs=1 skip=8 count=8 2>/dev/null)" = "WAVEfmt " ] || fail "no WAVEfmt id"
[ "$(dd if="$first" bs=1 skip=36 count=4 2>/dev/null)" = data ] || fail "no data id"
[ "$(u32 "$first" 4)" = $((size - 8)) ] || fail "RIFF size $(u32 "$first" 4), file $size"
[ "$(u32 "$first" 16)" = 16 ] || fail "format chunk size"
[ "$(u16 "$first" 20)" = 1 ] || fail "not PCM"
[ "$(u16 "$first" 22)" = 2 ] || fail "channels $(u16 "$first" 22)"
[ "$(u32 "$first" 24)" = 22050 ] || fail "rate $(u32 "$first" 24)"
[ "$(u32 "$first" 28)" = 88200 ] || fail "bytes per second $(u32 "$first" 28)"
[ "$(u16 "$first" 32)" = 4 ] || fail "block align $(u16 "$first" 32)"
[ "$(u16 "$first" 34)" = 16 ] || fail "bits $(u16 "$first" 34)"
data=$((size - 44))
[ $((data % 8192)) -eq 0 ] || fail "data length $data is no multiple of 8192"
# 12 s of speech and the 3 s quiet tail: at least 12 s, at most 20 s.
[ "$data" -ge $((12 * 88200)) ] && [ "$data" -le $((20 * 88200)) ] || fail "data holds $data bytes"
rms=$(sox "$first" -n stat 2>&1 | awk '/^RMS +amplitude/ {print $3}')
awk -v r="${rms:-0}" 'BEGIN { exit !(r > 0.01) }' || fail "the take is silent (RMS ${rms:-?})"

# --- A 4 s burst: a take opens and is deleted again.
timeout 20 paplay -d venue "$work/burst.wav" &
player=$!
opened=0
for _ in $(seq 80); do
  [ "$(takes | wc -l)" -ge 2 ] && { opened=1; break; }
  sleep 0.1
done
wait "$player" || fail "paplay could not play the burst"
[ $opened -eq 1 ] || fail "the burst did not open a take"
for _ in $(seq 100); do
  [ "$(takes | wc -l)" -eq 1 ] && break
  sleep 0.1
done
mapfile -t files < <(takes)
[ ${#files[@]} -eq 1 ] && [ "${files[0]}" = "$first" ] || fail "the burst left a file: ${files[*]}"

echo "test_record_speech: ok ($name, $data bytes of data, RMS $rms)"
