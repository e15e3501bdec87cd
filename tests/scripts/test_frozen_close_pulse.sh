#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Closing with the disk frozen: the headless recorder takes speech into
# record/ on a small ext4 image (a loop device, in a mount namespace of its
# own); the file system is frozen with fsfreeze during the take, while an
# older take (larger than the sockets' buffers) is downloaded slowly through
# the web page and sent to an archive that never answers (a listener on
# 127.0.0.1), and SIGTERM is sent. Within
# 10 s standard error names the take that may be cut; once the file system
# is thawed the process is gone within 2 s, with exit code 0, and standard
# error has named the last heartbeat as abandoned.
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
sink=""
reader=""
cleanup() {
  [ -n "$player" ] && kill "$player" 2>/dev/null && wait "$player" 2>/dev/null
  for p in $sink $reader; do kill "$p" 2>/dev/null && wait "$p" 2>/dev/null; done
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
# An archive that takes connections and never answers.
port_file=$work/sink.port
python3 -c '
import socket, sys, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(16)
open(sys.argv[1], "w").write(str(s.getsockname()[1]))
held = []
while True:
    held.append(s.accept()[0])
' "$port_file" &
sink=$!
wait_for 50 test -s "$port_file" || fail "the silent archive did not start"
printf '[Settings]\nSamplingRate=22050\nRecordingLevel=2\nAGC=0\nManualMode=0\n[Archive]\nEndpoint=http://127.0.0.1:%s\nBucket=b\nPrefix=p\nAccessKey=a\nSecretKey=s\n' \
  "$(cat "$port_file")" >"$work/app/config.ini"
truncate -s 64M "$work/disk.img"
mkfs.ext4 -q -F -m 0 "$work/disk.img" || fail "mkfs.ext4"
mount -o loop "$work/disk.img" "$record" || fail "cannot mount a loop device (run as root)"
old=PLEN20200101120000.wav
sox -n -r 22050 -c 2 -b 16 "$record/$old" synth 150 whitenoise gain -12 || fail "sox noise"

start() {
  run_program "$work" "$server" --headless --web 127.0.0.1:0 >"$work/out.log" 2>"$work/err.log" &
  pid=$!
}
start
wait_for 100 capture_streams_at_least 1 || fail "the program did not start listening"
wait_for 100 grep -q '^web page on ' "$work/out.log" || fail "no web page"
url=$(grep '^web page on ' "$work/out.log" | awk '{print $4}')
curl -s --limit-rate 1k -o /dev/null "${url}takes/$old" &
reader=$!
# The archive's thread is inside a request to the silent archive.
sink_port=$(cat "$port_file")
wait_for 100 eval 'compgen -G "$work/app/archive-upload/*.flac" >/dev/null &&
  ss -Htnp state established "dport = :$sink_port" | grep -q "pid=$pid,"' || fail "no upload to the archive"
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
# The last heartbeat, to an archive that never answers, was cut at its limit.
grep -qF "heartbeat: not done: the last status.json" "$work/err.log" || fail "the stop did not name the last heartbeat"

echo "test_frozen_close_pulse: ok ($name)"
