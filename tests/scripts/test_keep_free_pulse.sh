#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# [Disk] KeepFreeMB end to end: record/ on a 24 MB tmpfs (in a mount
# namespace of its own) holds four 5 MB takes and a file that is no take;
# the headless recorder with KeepFreeMB=10 removes the two oldest takes at
# start-up, one line each, and leaves the rest alone.
#
# $1 = the built Somorabox. Runs inside scripts/with-pulse.sh, as root.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exe=${1:?usage: test_keep_free_pulse.sh path/to/Somorabox}
if [ -z "${SOMORA_OWN_MOUNTS:-}" ]; then
  SOMORA_OWN_MOUNTS=1 exec unshare --mount --propagation private bash "$0" "$@"
  echo "test_keep_free: FAIL: cannot make a mount namespace (run as root)" >&2
  exit 1
fi
. "$here/lib/program.sh"
. "$here/lib/wait.sh"
. "$here/lib/sound.sh"

work=$(mktemp -d /tmp/somora-keepfree.XXXXXX)
record=$work/app/record
pid=""
cleanup() {
  kill_now "$pid"
  mountpoint -q "$record" && umount "$record"
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "test_keep_free: FAIL: $*" >&2
  show_recorder_logs "$work"
  exit 1
}

mkdir -p "$record" "$work/config" "$work/runtime"
chmod 700 "$work/runtime"
copy_program "$exe" "$work/app" || fail "cannot copy $exe"
printf '[Settings]\nSamplingRate=22050\nManageFile=0\n[Disk]\nKeepFreeMB=10\n' >"$work/app/config.ini"
mount -t tmpfs -o size=24m somora-record "$record" || fail "cannot mount a tmpfs (run as root)"
for d in 1 2 3 4; do
  head -c $((5 << 20)) /dev/zero >"$record/PLEN2026120${d}120000.wav"
  touch -d "2026-12-0$d 12:00" "$record/PLEN2026120${d}120000.wav"
done
head -c $((1 << 20)) /dev/zero >"$record/notes.wav"
touch -d "2026-11-01 12:00" "$record/notes.wav"

run_program "$work" "$(sound_server)" --headless >"$work/out.log" 2>"$work/err.log" &
pid=$!
for _ in $(seq 50); do
  [ "$(grep -c '^removed ' "$work/out.log")" -ge 2 ] && break
  sleep 0.1
done
kill -TERM "$pid"
wait "$pid"
pid=""
expected=$(printf 'removed PLEN20261201120000.wav (keeping 10 MB free)\nremoved PLEN20261202120000.wav (keeping 10 MB free)')
[ "$(grep '^removed ' "$work/out.log")" = "$expected" ] || fail "removal lines differ from: $expected"
left=$(cd "$record" && ls | sort | tr '\n' ' ')
[ "$left" = "PLEN20261203120000.wav PLEN20261204120000.wav notes.wav " ] || fail "left in record/: $left"
echo "test_keep_free_pulse: ok"
