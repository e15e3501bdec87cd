#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Closing with the disk frozen: the headless recorder takes speech into
# record/ on a small ext4 image (a loop device, in a mount namespace of its
# own); the file system is frozen with fsfreeze during the take and SIGTERM
# is sent. Within 10 s standard error names the take that may be cut; once
# the file system is thawed the process is gone within 2 s, with exit code 0.
# The next start repairs the take's header.
#
# $1 = the built Somorabox. Runs inside scripts/with-pulse.sh, as root.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exe=${1:?usage: test_frozen_close_pulse.sh path/to/Somorabox}
if [ -z "${SOMORA_OWN_MOUNTS:-}" ]; then
  SOMORA_OWN_MOUNTS=1 exec unshare --mount --propagation private bash "$0" "$@"
  echo "test_frozen_close: FAIL: cannot make a mount namespace (run as root)" >&2
  exit 1
fi
. "$here/lib/program.sh"
. "$here/lib/wait.sh"

work=$(mktemp -d /tmp/somora-frozen.XXXXXX)
record=$work/app/record
pid=""
player=""
cleanup() {
  [ -n "$player" ] && kill "$player" 2>/dev/null && wait "$player" 2>/dev/null
  fsfreeze -u "$record" 2>/dev/null
  kill_now "$pid"
  mountpoint -q "$record" && umount "$record"
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "test_frozen_close: FAIL: $*" >&2
  show_recorder_logs "$work"
  exit 1
}

. "$here/lib/sound.sh"
require_sound
server=$(sound_server)
make_speech "$work" 12

mkdir -p "$record" "$work/config" "$work/runtime"
chmod 700 "$work/runtime"
copy_program "$exe" "$work/app" || fail "cannot copy $exe"
printf '[Settings]\nSamplingRate=22050\nRecordingLevel=2\nAGC=0\nManualMode=0\n' >"$work/app/config.ini"
truncate -s 32M "$work/disk.img"
mkfs.ext4 -q -F -m 0 "$work/disk.img" || fail "mkfs.ext4"
mount -o loop "$work/disk.img" "$record" || fail "cannot mount a loop device (run as root)"

start() {
  run_program "$work" "$server" --headless >"$work/out.log" 2>"$work/err.log" &
  pid=$!
}
start
wait_for 100 capture_streams_at_least 1 || fail "the program did not start listening"
play_venue "$work/speech12.wav"
wait_for 100 grep -q '^opened ' "$work/out.log"
name=$(sed -n 's/^opened \([^ ]*\).*/\1/p' "$work/out.log" | head -1)
[ -n "$name" ] || fail "no take was opened by the speech"

fsfreeze -f "$record" || fail "fsfreeze"
sleep 1  # a second of sound for the writer to be held up by
kill -TERM "$pid"
line="take may be cut: $name (the disk did not answer)"
wait_for 100 grep -qF "$line" "$work/err.log" || fail "no line '$line' within 10 s of SIGTERM"

fsfreeze -u "$record"
wait_exit "$pid" 20 || fail "the program did not end within 2 s of the thaw"
pid=""
[ "$exit_code" -eq 0 ] || fail "exit code $exit_code"
stop_player
[ -f "$record/$name" ] || fail "the take $name is gone"

echo "test_frozen_close_pulse: ok ($name)"
