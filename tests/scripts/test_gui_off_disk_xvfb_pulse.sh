#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The window's GUI thread leaves record/ to the other threads: under strace,
# while speech opens and closes a kept take and a short one (removed) and a
# take is played from the strip and then deleted through the web page, the
# main thread opens, reads, lists, syncs,
# links or removes nothing under record/ (its one mkdir at start-up aside).
#
# $1 = the built Somorabox. Runs inside scripts/with-pulse.sh.
. "$(dirname "$0")/lib/program.sh"
. "$(dirname "$0")/lib/wait.sh"
set -uo pipefail
exe=$(readlink -f "${1:?usage: $0 path/to/Somorabox}")
fail() {
  echo "test_gui_off_disk: FAIL: $*" >&2
  [ -f "${work:-}/app.log" ] && { echo "--- program output:" >&2; tail -n 20 "$work/app.log" >&2; }
  exit 1
}
if [ -z "${SOMORA_IN_XVFB:-}" ]; then
  for tool in xvfb-run xdotool strace curl paplay sox; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/deps.sh installs it)"
  done
  source "$(dirname "$0")/lib/sound.sh"
  rerun_in_xvfb "$0" "$exe"
fi
source "$(dirname "$0")/lib/sound.sh"

work=$(mktemp -d /tmp/somora-guidisk.XXXXXX)
pid=""
wiggle=""
cleanup() {
  [ -n "$wiggle" ] && kill "$wiggle" 2>/dev/null
  kill_now "$pid"
  [ -n "${SOMORA_KEEP:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

copy_program "$exe" "$work" || fail "cannot copy $exe"
window_folders "$work" || fail "cannot make the program's folders"
port=$((20000 + RANDOM % 20000))
printf '[Settings]\nSamplingRate=22050\nRecordingLevel=2\nAGC=0\nManualMode=0\npassword=gui-disk-pw\n[Web]\nListen=127.0.0.1:%s\n' \
  "$port" >"$work/config.ini"
make_speech "$work" 12
make_silence "$work" 5
sox "$work/speech12.wav" "$work/short.wav" trim 0 3 || fail "sox trim"

(cd "$work" && exec strace -y -f -qq -o "$work/trace" \
  -e trace=open,openat,read,pread64,unlink,unlinkat,fdatasync,fsync,getdents64,link,linkat,rename,renameat2 \
  ./Somorabox) >"$work/app.log" 2>&1 &
pid=$!
main=""
for _ in $(seq 100); do
  main=$(pgrep -P "$pid" -x Somorabox | head -n1)
  [ -n "$main" ] && curl -s -o /dev/null "http://127.0.0.1:$port/" && break
  sleep 0.1
done
[ -n "$main" ] || fail "the program did not start"
win=""
for _ in $(seq 100); do
  win=$(xdotool search --onlyvisible --name '^Brovane Somora recorder$' 2>/dev/null | head -n1)
  [ -n "$win" ] && break
  sleep 0.1
done
[ -n "$win" ] || fail "no main window"
# The pointer keeps moving over the window, so it stays whole (it turns into
# the small panel after ten seconds without pointer movement there).
eval "$(xdotool getwindowgeometry --shell "$win")"
(while :; do xdotool mousemove $((X + 400)) $((Y + 8)); sleep 1; xdotool mousemove $((X + 401)) $((Y + 9)); sleep 1; done) >/dev/null 2>&1 &
wiggle=$!
takes() { find "$work/record" -maxdepth 1 -type f -name 'PLEN*.wav' | wc -l; }
# A take kept, then a short one removed, then the kept one deleted.
paplay -d venue "$work/speech12.wav" && paplay -d venue "$work/sil5.wav"
paplay -d venue "$work/short.wav" && paplay -d venue "$work/sil5.wav"
[ "$(takes)" -eq 1 ] || fail "expected one kept take, found $(takes)"
name=$(basename "$(find "$work/record" -maxdepth 1 -name 'PLEN*.wav')")
# Play it from the strip: its tile, then the play image; stop once a reader
# thread has the file open.
kill "$wiggle"; wiggle=""
click() {
  eval "$(xdotool getwindowgeometry --shell "$win")"
  xdotool mousemove --sync $((X + $1)) $((Y + $2)) click 1
}
for _ in $(seq 50); do
  click $((112 + 28)) $((151 + 27))   # the first tile
  click $((113 + 14)) $((45 + 8))     # Image6, play the selection
  grep -q "openat(.*record/$name.*O_RDONLY" "$work/trace" && break
  sleep 0.2
done
grep -q "openat(.*record/$name.*O_RDONLY" "$work/trace" || { import -window root "$work/shot.png" 2>/dev/null; fail "playing the take opened no file"; }
click $((113 + 14)) $((74 + 8))       # Image9, stop playing
code=""
for _ in $(seq 150); do   # until the reader has let go of the file
  code=$(curl -s -o /dev/null -w '%{http_code}' -u admin:gui-disk-pw -X DELETE "http://127.0.0.1:$port/takes/$name")
  [ "$code" = 409 ] || break
  sleep 0.1
done
[ "$code" = 204 ] || fail "DELETE answered $code"
for _ in $(seq 50); do [ "$(takes)" -eq 0 ] && break; sleep 0.1; done
kill -TERM "$main"
wait "$pid"
pid=""

grep -q 'linkat(.*record/PLEN' "$work/trace" || fail "no take was created (strace saw no link)"
touched=$(grep "^$main " "$work/trace" | grep 'record/' | grep -v ' mkdir(')
[ -z "$touched" ] || fail "the GUI thread touched record/:
$touched"
echo "test_gui_off_disk_xvfb_pulse: ok"
