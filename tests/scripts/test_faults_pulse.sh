#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The headless recorder at its defaults through failures, end to end with the
# real program and the private sound server:
# 1. started while no sound server runs, it says "input lost", comes back
#    when the server starts and records speech;
# 2. the server killed in the middle of that take: the take is kept with its
#    header patched, "input lost" and, once the server runs again,
#    "input back" are printed, and speech played afterwards is a new take;
# 3. record/ on a small tmpfs (in a mount namespace of its own) that fills
#    during a take: "disk full", the take kept with a valid header; once a
#    file is deleted, "disk writable again" and a new take;
# 4. ManualMode=1: the start-up line, SIGUSR1 starts a take, SIGUSR2 ends it.
#
# $1 = the built Somorabox. Runs inside scripts/with-pulse.sh or
# scripts/with-pipewire.sh, as root (for the tmpfs).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exe=${1:?usage: test_faults_pulse.sh path/to/Somorabox}
if [ -z "${SOMORA_OWN_MOUNTS:-}" ]; then
  # The tmpfs goes away with the namespace, whatever happens to the test.
  SOMORA_OWN_MOUNTS=1 exec unshare --mount --propagation private bash "$0" "$@"
  echo "test_faults: FAIL: cannot make a mount namespace (run as root)" >&2
  exit 1
fi
. "$here/lib/program.sh"
. "$here/lib/wait.sh"
. "$here/../../scripts/lib/sound-server.sh"

work=$(mktemp -d /tmp/somora-faults.XXXXXX)
pid=""
player=""

stop_program() {
  [ -n "$pid" ] || return 0
  stop_pid "$pid" 100
  local code=$?
  pid=""
  return "$code"
}
cleanup() {
  [ -n "$player" ] && kill "$player" 2>/dev/null && wait "$player" 2>/dev/null
  stop_program
  mountpoint -q "$work/app/record" && umount "$work/app/record"
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "test_faults (${SOMORA_SOUND_SERVER:-?}): FAIL: $*" >&2
  show_recorder_logs "$work"
  exit 1
}

. "$here/lib/sound.sh"
require_sound
server=$(sound_server)

make_speech "$work" 14
make_silence "$work" 1
sox "$work/sil1.wav" "$work/speech14.wav" "$work/take.wav" || fail "sox concat"

mkdir -p "$work/app/record" "$work/config" "$work/runtime"
chmod 700 "$work/runtime"
copy_program "$exe" "$work/app" || fail "cannot copy $exe"
# Room for the takes of steps 1 and 2 and for the 16 MB the recorder wants
# free before it records again after a full disk.
mount -t tmpfs -o size=24m somora-record "$work/app/record" || fail "cannot mount a tmpfs (run as root)"

start_program() {
  run_program "$work" "$server" --headless >"$work/out.log" 2>"$work/err.log" &
  pid=$!
}
# The name on the Nth line that starts with WORD.
nth_name() { grep "^$1 " "$work/out.log" | sed -n "${2}p" | awk '{print $2}'; }
u32() { od -An -tu4 -j"$2" -N4 "$1" | tr -d ' '; }
# Fails unless the take NAME is there with sizes that match its file and at
# least MIN bytes of sound.
check_take() {
  local name=$1 min=$2 file=$work/app/record/$1 size
  [ -f "$file" ] || fail "the take $name is not there"
  size=$(stat -c %s "$file")
  [ "$(u32 "$file" 4)" = $((size - 8)) ] || fail "$name: RIFF size $(u32 "$file" 4), file $size"
  [ "$(u32 "$file" 40)" = $((size - 44)) ] || fail "$name: data size $(u32 "$file" 40), file $size"
  [ $((size - 44)) -ge "$min" ] || fail "$name holds only $((size - 44)) bytes of sound"
}

# --- 1. No sound server at start.
server_stop KILL
start_program
wait_line '^input lost: .*; trying again every 2 s$'
server_start || fail "the sound server did not start again"
wait_line '^input back: '
play_venue "$work/take.wav"
wait_line '^opened '
first=$(nth_name opened 1)

# --- 2. The server killed about three seconds into the take, then started again.
for _ in $(seq 100); do
  [ "$(stat -c %s "$work/app/record/$first" 2>/dev/null || echo 0)" -ge $((44 + 3 * 88200)) ] && break
  sleep 0.1
done
server_stop KILL
stop_player
wait_line '^input lost: ' 2
wait_line "^kept $first "
check_take "$first" $((2 * 88200))
server_start || fail "the sound server did not start again"
wait_line '^input back: ' 2
play_venue "$work/take.wav"
wait_line '^kept ' 2 40
second=$(nth_name kept 2)
[ "$second" != "$first" ] || fail "no second take"
check_take "$second" $((10 * 88200))
stop_player

# --- 3. A disk that fills during a take, then gets room again.
free_kb=$(df -k --output=avail "$work/app/record" | tail -n 1)
fallocate -l $(((free_kb - 400) * 1024)) "$work/app/record/filler" || fail "cannot fill the tmpfs"
play_venue "$work/take.wav"
wait_line '^opened ' 3
third=$(nth_name opened 3)
wait_line '^disk full: .*; the open take was kept$'
wait_line "^kept $third "
check_take "$third" 88200
stop_player
rm "$work/app/record/filler"
wait_line '^disk writable again: '
play_venue "$work/take.wav"
wait_line '^opened ' 4
stop_player
stop_program || fail "the program ended with an error"

# --- 4. Manual mode by signals.
printf '[Settings]\nManualMode=1\n' >"$work/app/config.ini"
start_program
wait_line "^manual mode: SIGUSR1 starts a take, SIGUSR2 ends it (kill -USR1 $pid)$"
kill -USR1 "$pid"
wait_line '^opened ' 1
manual=$(nth_name opened 1)
# Past the ten-second rule: kept at the stop.
for _ in $(seq 200); do
  [ "$(stat -c %s "$work/app/record/$manual" 2>/dev/null || echo 0)" -gt $((44 + 11 * 88200)) ] && break
  sleep 0.1
done
kill -USR2 "$pid"
wait_line "^kept $manual "
check_take "$manual" $((10 * 88200))
stop_program || fail "the program ended with an error"
[ ! -s "$work/err.log" ] || fail "the program wrote to standard error"

echo "test_faults (${SOMORA_SOUND_SERVER:-?}): ok (server back: $first, $second; disk full: $third; manual: $manual)"
