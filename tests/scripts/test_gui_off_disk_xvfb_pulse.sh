#!/usr/bin/env bash
# The window's GUI thread leaves record/ to the other threads: under strace,
# while speech opens and closes a kept take and a short one (removed) and a
# take is deleted through the web page, the main thread opens, lists, syncs,
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
  for tool in xvfb-run strace curl paplay sox; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/deps.sh installs it)"
  done
  source "$(dirname "$0")/lib/sound.sh"
  rerun_in_xvfb "$0" "$exe"
fi
source "$(dirname "$0")/lib/sound.sh"

work=$(mktemp -d /tmp/somora-guidisk.XXXXXX)
pid=""
cleanup() {
  kill_now "$pid"
  rm -rf "$work"
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
  -e trace=open,openat,unlink,unlinkat,fdatasync,fsync,getdents64,link,linkat,rename,renameat2 \
  ./Somorabox) >"$work/app.log" 2>&1 &
pid=$!
main=""
for _ in $(seq 100); do
  main=$(pgrep -P "$pid" -x Somorabox | head -n1)
  [ -n "$main" ] && curl -s -o /dev/null "http://127.0.0.1:$port/" && break
  sleep 0.1
done
[ -n "$main" ] || fail "the program did not start"
takes() { find "$work/record" -maxdepth 1 -type f -name 'PLEN*.wav' | wc -l; }
# A take kept, then a short one removed, then the kept one deleted.
paplay -d venue "$work/speech12.wav" && paplay -d venue "$work/sil5.wav"
paplay -d venue "$work/short.wav" && paplay -d venue "$work/sil5.wav"
[ "$(takes)" -eq 1 ] || fail "expected one kept take, found $(takes)"
name=$(basename "$(find "$work/record" -maxdepth 1 -name 'PLEN*.wav')")
code=$(curl -s -o /dev/null -w '%{http_code}' -u admin:gui-disk-pw -X DELETE "http://127.0.0.1:$port/takes/$name")
[ "$code" = 204 ] || fail "DELETE answered $code"
for _ in $(seq 50); do [ "$(takes)" -eq 0 ] && break; sleep 0.1; done
kill -TERM "$main"
wait "$pid"
pid=""

grep -q 'linkat(.*record/PLEN' "$work/trace" || fail "no take was created (strace saw no link)"
touched=$(grep "^$main " "$work/trace" | grep 'record' | grep -v ' mkdir(')
[ -z "$touched" ] || fail "the GUI thread touched record/:
$touched"
echo "test_gui_off_disk_xvfb_pulse: ok"
