#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The fleet page end to end: two headless recorders (Prefix room-a and
# room-b) beside the private sound server and a private S3 store archive the
# same speech; --fleet over that bucket, in headless Chromium, lists both
# rooms and a take of each, and a take plays from the store through it; a
# Range request returns the object's own bytes; the day's timeline places a
# take at its time with its outline, plays from a point clicked and opens at the take an
# address names; hostile room and take names
# are refused; room-b killed turns stale after [Fleet] StaleSeconds while
# room-a stays fresh, as /metrics says too (promtool accepts it).
#
# $1 = the built Somorabox. Runs inside scripts/with-pulse.sh; starts the
# store itself when none is given.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exe=${1:?usage: test_fleet_pulse.sh path/to/Somorabox}
if [ -z "${SOMORA_S3_ENDPOINT:-}" ]; then
  exec "$here/../../scripts/with-s3.sh" bash "$0" "$@"
fi
. "$here/lib/program.sh"
. "$here/lib/wait.sh"
. "$here/lib/browser.sh"

work=$(mktemp -d /tmp/somora-fleet.XXXXXX)
declare -A pid=()
player=""
driver=""
session=""
driver_port=""
stale=25

stop_program() {  # NAME [SIGNAL]
  local p=${pid[$1]:-}
  [ -n "$p" ] || return 0
  kill -"${2:-TERM}" "$p" 2>/dev/null
  wait_for 100 gone "$p" || kill -KILL "$p" 2>/dev/null
  wait "$p" 2>/dev/null
  pid[$1]=""
}
cleanup() {
  [ -n "$session" ] && curl -s -X DELETE "http://127.0.0.1:$driver_port/session/$session" >/dev/null 2>&1
  [ -n "$player" ] && kill "$player" 2>/dev/null && wait "$player" 2>/dev/null
  [ -n "$driver" ] && kill "$driver" 2>/dev/null && wait "$driver" 2>/dev/null
  for name in "${!pid[@]}"; do stop_program "$name"; done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "test_fleet: FAIL: $*" >&2
  for name in a b fleet; do
    echo "--- $name:" >&2
    cat "$work/$name/out.log" >&2 2>/dev/null
    tail -n 20 "$work/$name/err.log" >&2 2>/dev/null
  done
  tail -n 20 "$work/driver.log" >&2 2>/dev/null
  exit 1
}

. "$here/lib/sound.sh"
require_sound
for tool in chromium chromedriver curl jq python3 promtool; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/deps.sh installs it)"
done
server=$(sound_server)
make_speech "$work" 12
make_silence "$work" 1
make_silence "$work" 5
sox "$work/sil1.wav" "$work/speech12.wav" "$work/take.wav" || fail "sox concat"
# Three takes in a row: a heartbeat at each start and end, never 20 s apart.
sox "$work/take.wav" "$work/sil5.wav" "$work/speech12.wav" "$work/sil5.wav" "$work/speech12.wav" "$work/sil5.wav" \
  "$work/three.wav" || fail "sox concat"

setup() {  # NAME PREFIX [extra lines]
  local dir=$work/$1
  mkdir -p "$dir/app/record" "$dir/config" "$dir/runtime"
  chmod 700 "$dir/runtime"
  copy_program "$exe" "$dir/app" || fail "cannot copy $exe"
  {
    printf '[Settings]\nSamplingRate=22050\n'
    printf '[Archive]\nEndpoint=%s\nBucket=%s\nPrefix=%s\nAccessKey=%s\nSecretKey=%s\n' \
      "$SOMORA_S3_ENDPOINT" "$SOMORA_S3_BUCKET" "$2" "$SOMORA_S3_ACCESS_KEY" "$SOMORA_S3_SECRET_KEY"
    printf '%s\n' "${@:3}"
  } >"$dir/app/config.ini"
}
start_program() {  # NAME ARGS...
  local dir=$work/$1
  run_program "$dir" "$server" "${@:2}" >>"$dir/out.log" 2>>"$dir/err.log" &
  pid[$1]=$!
}
wait_room_line() {  # NAME PATTERN [SECONDS]
  for _ in $(seq $((${3:-30} * 10))); do
    grep -q -- "$2" "$work/$1/out.log" 2>/dev/null && return 0
    kill -0 "${pid[$1]}" 2>/dev/null || fail "$1 ended while waiting for '$2'"
    sleep 0.1
  done
  fail "$1: no line '$2' within ${3:-30} s"
}

# --- Two rooms record the same speech and archive it.
setup a room-a
setup b room-b
setup fleet fleet "[Fleet]" "Listen=127.0.0.1:0" "StaleSeconds=$stale"
start_program a --headless
start_program b --headless
wait_for 100 capture_streams_at_least 2 || fail "the two rooms did not start listening"
play_venue "$work/take.wav"
wait_room_line a '^archived ' 60
wait_room_line b '^archived ' 60
stop_player
take_a=$(sed -n 's/^archived \(PLEN[0-9-]*\)\.wav -> .*/\1.flac/p' "$work/a/out.log" | head -n1)
key_b=$(sed -n 's/^archived PLEN.* -> [^/]*\/\(room-b\/[^ ]*\) .*/\1/p' "$work/b/out.log" | head -n1)
take_b=${key_b##*/}
day=$(echo "$take_a" | sed 's/^PLEN\(....\)\(..\)\(..\).*/\1-\2-\3/')
day_b=$(echo "$take_b" | sed 's/^PLEN\(....\)\(..\)\(..\).*/\1-\2-\3/')

start_program fleet --fleet
wait_room_line fleet '^fleet page on http:'
url=$(sed -n 's/^fleet page on \(http:[^ ]*\) .*/\1/p' "$work/fleet/out.log")
api() { curl -s --max-time 10 "$url$1"; }
code() { curl -s --max-time 10 -o /dev/null -w '%{http_code}' "$url$1"; }

# --- The API: both rooms fresh, each with its take.
api api/rooms | jq -e 'map(select(.stale == false and .listening == true)) | map(.room) == ["room-a", "room-b"]' \
  >/dev/null || fail "the rooms are $(api api/rooms)"
api "api/rooms/room-a/takes?day=$day" | jq -e --arg n "$take_a" 'any(.[]; .name == $n and .seconds > 10)' \
  >/dev/null || fail "room-a's takes are $(api "api/rooms/room-a/takes?day=$day")"

# --- A Range request returns the object's own bytes.
python3 - "$key_b" "$work/object.flac" <<'PY' || fail "the second client cannot read $key_b"
import boto3, os, sys
s3 = boto3.client('s3', endpoint_url=os.environ['SOMORA_S3_ENDPOINT'], region_name='us-east-1',
                  aws_access_key_id=os.environ['SOMORA_S3_ACCESS_KEY'],
                  aws_secret_access_key=os.environ['SOMORA_S3_SECRET_KEY'])
s3.download_file(os.environ['SOMORA_S3_BUCKET'], sys.argv[1], sys.argv[2])
PY
size=$(stat -c %s "$work/object.flac")
first=$((size / 3))
last=$((first + 70000))
status=$(curl -s -o "$work/range.bin" -w '%{http_code}' -H "Range: bytes=$first-$last" "${url}rooms/room-b/takes/$take_b")
[ "$status" = 206 ] || fail "the Range request was answered $status"
cmp -s "$work/range.bin" <(tail -c +$((first + 1)) "$work/object.flac" | head -c $((last - first + 1))) ||
  fail "the Range request returned other bytes ($(stat -c %s "$work/range.bin") bytes)"
[ "$(code "rooms/room-b/takes/$take_b")" = 200 ] || fail "the whole take is not served"

# --- Hostile names reach no key.
for path in "rooms/..%2Froom-b/takes/$take_b" "rooms/room-a/takes/..%2F..%2F$key_b" \
  "rooms/room-a/takes/$(echo "$key_b" | sed 's|/|%2F|g')" "rooms/room-a/takes/.." "rooms/../takes/$take_b" \
  "rooms/room-a%2F..%2Froom-b/takes/$take_b" "rooms/room-a/takes/status.json" \
  "api/rooms/..%2Froom-b/takes?day=$day" "api/rooms/room-a/takes?day=$day%2F..%2F.." "api/rooms/room-a/takes?day=.."; do
  c=$(code "$path")
  case $c in 400 | 404) ;; *) fail "$path was answered $c" ;; esac
done

# --- The page in the browser.
start_chromedriver "$work/driver.log"
[ -n "$driver" ] || fail "chromedriver did not start"
mkdir -p "$work/profile"
open_browser "$work/profile"
[ -n "$session" ] || fail "no browser session"
show_takes() {  # ROOM DAY
  js "document.querySelector('article.room[data-room=\"$1\"]').click();
      const d = document.getElementById('day'); d.value = '$2'; d.dispatchEvent(new Event('change')); return true" >/dev/null
}

wd POST /url "$(jq -nc --arg u "$url" '{url: $u}')" >/dev/null
until_true "document.querySelectorAll('article.room:not(.stale)').length === 2" 100 ||
  fail "the page shows $(js "return document.getElementById('rooms').innerText")"
show_takes room-b "$day_b"
until_true "document.querySelector('article.take[data-name=\"$take_b\"]') !== null" 100 ||
  fail "room-b's take is not listed: $(js "return document.getElementById('takes').innerText")"
show_takes room-a "$day"
until_true "document.querySelector('article.take[data-name=\"$take_a\"]') !== null" 100 ||
  fail "room-a's take is not listed: $(js "return document.getElementById('takes').innerText")"
audio="document.querySelector('article.take[data-name=\"$take_a\"] audio')"
js "$audio.play(); return true" >/dev/null
until_true "$audio.currentTime > 1" 150 || fail "the take did not play (currentTime $(js "return $audio.currentTime"))"
js "$audio.pause(); return true" >/dev/null

# --- The day's timeline: room-a's take at its time (within a pixel); a click
# 4 s into it, on a bar made a pixel a second wide for it, plays from there
# through the store's ranges; the speed control sets the players' rate; an
# address "#room=…&day=…&take=…" opens room-b's take.
second=$((10#${take_a:12:2} * 3600 + 10#${take_a:14:2} * 60 + 10#${take_a:16:2}))
lane="document.querySelector('.tl-lane')"
tl_audio="document.querySelector('.tl-audio')"
[ "$(js "const l = $lane.getBoundingClientRect(), b = document.querySelector('.tl-take[data-name=\"$take_a\"]').getBoundingClientRect();
         return Math.abs(b.left - l.left - l.width * $second / 86400) < 1")" = true ] || fail "$take_a is not at its time on the timeline"
js "document.querySelector('.tl-bar').style.width = '86400px';
    const l = $lane.getBoundingClientRect();
    $lane.dispatchEvent(new MouseEvent('click', {bubbles: true, clientX: l.left + $second + 4, clientY: l.top + 10}));
    return true" >/dev/null
until_true "$tl_audio.currentTime > 0 && !$tl_audio.paused" 150 || fail "the click on the timeline played nothing"
at=$(js "return $tl_audio.currentTime")
awk -v t="$at" 'BEGIN { exit !(t >= 3.5 && t < 7) }' || fail "the click at 4 s into the take played from $at s"
# The take's outline comes from its object's metadata: speech, not silence.
until_true "(w => !w.hidden && w.peaks && w.peaks.length === 240 && Math.max(...w.peaks) > 0)(document.querySelector('.tl-wave'))" 100 ||
  fail "the timeline drew no outline for $take_a: $(api "rooms/room-a/takes/$take_a/peaks" | head -c 200)"
js "$tl_audio.pause(); document.querySelector('.tl-bar').style.width = '';
    const s = document.getElementById('speed'); s.value = '2'; s.dispatchEvent(new Event('change')); return true" >/dev/null
[ "$(js "return [...document.querySelectorAll('audio')].every(a => a.playbackRate === 2 && a.preservesPitch)")" = true ] ||
  fail "the speed control did not set the players"
js "location.hash = '#room=room-b&day=$day_b&take=$take_b'; return true" >/dev/null
until_true "document.querySelector('.tl-take.picked[data-name=\"$take_b\"]') && $tl_audio.src.endsWith('/rooms/room-b/takes/$take_b')
            && document.getElementById('room').value === 'room-b'" 100 || fail "the address did not open room-b's $take_b"

# --- room-b killed: stale after StaleSeconds, while room-a, still speaking,
# keeps its heartbeat fresh.
stop_program b KILL
play_venue "$work/three.wav"
b_stale() { api api/rooms | jq -e 'map(select(.room == "room-b"))[0].stale' >/dev/null; }
wait_for $(((stale + 20) * 10)) b_stale
api api/rooms | jq -e 'map({(.room): .stale}) | add == {"room-a": false, "room-b": true}' >/dev/null ||
  fail "after room-b was killed the rooms are $(api api/rooms)"
# The fleet's metrics say the same, and promtool accepts them.
api metrics >"$work/fleet.prom"
promtool check metrics <"$work/fleet.prom" >"$work/promtool.log" 2>&1 ||
  fail "promtool refuses the fleet's /metrics: $(cat "$work/promtool.log")"
grep -q '^somorabox_fleet_room_stale{room="room-b"} 1$' "$work/fleet.prom" &&
  grep -q '^somorabox_fleet_room_stale{room="room-a"} 0$' "$work/fleet.prom" &&
  grep -q '^somorabox_fleet_heartbeat_age_seconds{room="room-a"} ' "$work/fleet.prom" ||
  fail "the fleet's metrics are $(cat "$work/fleet.prom")"
js "loadRooms(); return true" >/dev/null
until_true "document.querySelector('article.room.stale[data-room=\"room-b\"]') !== null" 50 ||
  fail "room-b is not shown stale"
beat=$(js "return document.querySelector('article.room[data-room=\"room-b\"] .beat').textContent")
case $beat in *"no heartbeat since "*) ;; *) fail "room-b says $beat" ;; esac

stop_program fleet
stop_program a
for name in a fleet; do
  [ ! -s "$work/$name/err.log" ] || fail "$name wrote to standard error"
done
echo "test_fleet_pulse: ok (room-a $take_a played, room-b $take_b by range, room-b stale after its kill)"
