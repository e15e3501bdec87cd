#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The web page in a real browser (headless Chromium driven over WebDriver by
# chromedriver and curl), served by the headless recorder beside the sound
# server: the page lists the takes that a replay made, its audio element
# plays one (the time advances), a take opened by speech on the live input
# shows up without a reload, and deleting with the password removes the file.
# The day's timeline places the takes at their times, plays from a point
# clicked, and opens at the take an address names; the speed control sets
# the players' rate.
# Meanwhile the page's "listen live" control plays /live.ogg, whose stream,
# decoded, holds the speech, and promtool accepts /metrics, whose take
# counter moves with that take.
# The page is served on a network address, so over HTTPS with the certificate
# that the recorder made on its first start; the browser pins it by its key.
# The address is one this test adds to the loopback interface of a network
# namespace of its own, which reaches no real network. Before that, on the
# same address: the factory password keeps the page off while the recorder
# records, and [Web] Plain=1 serves it over plain HTTP.
#
# $1 = the built Somorabox. Runs inside scripts/with-pulse.sh, as root (for
# the network namespace).
. "$(dirname "$0")/lib/program.sh"
. "$(dirname "$0")/lib/browser.sh"
. "$(dirname "$0")/lib/wait.sh"
set -uo pipefail

exe=${1:?usage: test_web_browser_pulse.sh path/to/Somorabox}
address=10.213.7.1
if [ -z "${SOMORA_WEB_NETNS:-}" ]; then
  exec unshare -n env SOMORA_WEB_NETNS=1 bash "$0" "$@"
fi
work=$(mktemp -d /tmp/somora-webpage.XXXXXX)
pid=""
driver=""
player=""
session=""
driver_port=""
listener=""

cleanup() {
  [ -n "$listener" ] && kill "$listener" 2>/dev/null && wait "$listener" 2>/dev/null
  [ -n "$session" ] && curl -s -X DELETE "http://127.0.0.1:$driver_port/session/$session" >/dev/null 2>&1
  [ -n "$player" ] && kill "$player" 2>/dev/null && wait "$player" 2>/dev/null
  [ -n "$driver" ] && kill "$driver" 2>/dev/null && wait "$driver" 2>/dev/null
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    stop_pid "$pid" 50
  fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "test_web_browser: FAIL: $*" >&2
  echo "--- record/:" >&2
  ls -l "$work/app/record" >&2 2>/dev/null
  echo "--- recorder output:" >&2
  cat "$work/out.log" "$work/err.log" >&2 2>/dev/null
  echo "--- chromedriver:" >&2
  tail -n 20 "$work/driver.log" >&2 2>/dev/null
  exit 1
}

source "$(dirname "$0")/lib/sound.sh"
require_sound
for tool in chromium chromedriver curl jq opusdec promtool; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/deps.sh installs it)"
done
server=$(sound_server)

# --- Two takes made by a replay, then the recorder with its page, turned on
# in config.ini (any free port; the recorder prints its address).
make_speech "$work" 12
make_silence "$work" 5
sox "$work/dense.wav" "$work/speech20.wav" repeat 6 trim 0 20 || fail "sox repeat"
sox "$work/sil5.wav" "$work/speech12.wav" "$work/sil5.wav" "$work/speech12.wav" "$work/sil5.wav" "$work/replay.wav" \
  || fail "sox concat"
mkdir -p "$work/app/record" "$work/config" "$work/runtime" "$work/profile"
chmod 700 "$work/runtime"
copy_program "$exe" "$work/app" || fail "cannot copy $exe"
ip link set lo up && ip addr add "$address/32" dev lo || fail "cannot add $address in the test's network namespace"
settings='[Settings]\nSamplingRate=22050\nRecordingLevel=2\nRecordingVolume=100\nPlayingVolume=100\nAGC=0\nManualMode=0\nManageFile=0\n'
printf "${settings}password=page-test-pw\n" >"$work/app/config.ini"
"$work/app/Somorabox" --replay "$work/replay.wav" --out "$work/app/record" --start "2026-12-07 20:15:00" \
  >"$work/replay.log" 2>&1 || fail "the replay failed: $(cat "$work/replay.log")"
mapfile -t replayed < <(cd "$work/app/record" && ls PLEN*.wav | sort)
[ ${#replayed[@]} -eq 2 ] || fail "the replay made ${#replayed[@]} takes, not 2"

listening() { [ "$(capture_streams)" -ge 1 ]; }
start_recorder() {  # waits for its line about the web page
  run_program "$work" "$server" --headless >"$work/out.log" 2>"$work/err.log" &
  pid=$!
  for _ in $(seq 300); do
    grep -q '^web page ' "$work/out.log" && break
    kill -0 "$pid" 2>/dev/null || fail "the recorder ended at start-up"
    sleep 0.1
  done
  grep -q '^web page ' "$work/out.log" || fail "the recorder said nothing of its web page"
  wait_for 100 listening
}
stop_recorder() {
  kill -TERM "$pid"
  wait "$pid" 2>/dev/null
  pid=""
}

# --- The factory password on a network address: no page, but recording.
printf "${settings}password=58316024\n[Web]\nListen=$address:0\n" >"$work/app/config.ini"
start_recorder
grep -q '^web page not started: .*factory' "$work/out.log" || fail "no refusal on standard output"
grep -q 'web page not started: .*factory' "$work/err.log" || fail "no refusal on standard error"
listening || fail "the recorder does not listen"
kill -0 "$pid" 2>/dev/null || fail "the recorder ended"
stop_recorder
[ ! -e "$work/app/web-key.pem" ] || fail "a key was made for a page that did not start"

# --- [Web] Plain=1: plain HTTP on the network address, behind the password.
printf "${settings}password=page-test-pw\n[Web]\nListen=$address:0\nPlain=1\n" >"$work/app/config.ini"
start_recorder
url=$(sed -n 's/^web page on \(http:[^ ]*\)$/\1/p' "$work/out.log")
[ -n "$url" ] || fail "Plain=1 announced $(cat "$work/out.log")"
[ "$(curl -s -o /dev/null -w '%{http_code}' "${url}api/status")" = 401 ] || fail "Plain=1 reads without the password"
[ "$(curl -s -o /dev/null -w '%{http_code}' -u admin:page-test-pw "${url}api/status")" = 200 ] ||
  fail "Plain=1 does not answer with the password"
stop_recorder

# --- HTTPS with a certificate made on the first start.
printf "${settings}password=page-test-pw\n[Web]\nListen=$address:0\n" >"$work/app/config.ini"
start_recorder
line=$(grep '^web page on https:' "$work/out.log") || fail "no HTTPS: $(cat "$work/out.log")"
url=$(sed -n 's/^web page on \(https:[^ ]*\) .*/\1/p' <<<"$line")
printed=$(sed -n 's/.*(certificate SHA-256 \([0-9A-F:]*\))$/\1/p' <<<"$line")
actual=$(openssl x509 -in "$work/app/web-certificate.pem" -noout -fingerprint -sha256 | sed 's/.*=//')
[ -n "$printed" ] && [ "$printed" = "$actual" ] || fail "printed fingerprint '$printed', the certificate's '$actual'"
[ "$(stat -c %a "$work/app/web-key.pem")" = 600 ] || fail "the key is readable by others"
spki=$(openssl x509 -in "$work/app/web-certificate.pem" -pubkey -noout | openssl pkey -pubin -outform der |
  openssl dgst -sha256 -binary | base64)
[ "$(curl -s -o /dev/null -w '%{http_code}' "${url}api/status")" = 000 ] || fail "an unpinned client was served"
[ "$(curl -sk -o /dev/null -w '%{http_code}' -u admin:page-test-pw "${url}api/status")" = 200 ] ||
  fail "HTTPS does not answer"

# --- The browser, through chromedriver on a free loopback port.
start_chromedriver "$work/driver.log"
[ -n "$driver" ] || fail "chromedriver did not start"

open_browser "$work/profile" "$spki"
[ -n "$session" ] || fail "no browser session"

# The password in an address answers the page's challenge, as the browser's
# own dialog would; the browser keeps it for the page's requests, which are
# made from the address without it.
wd POST /url "$(jq -nc --arg u "${url/https:\/\//https://admin:page-test-pw@}" '{url: $u}')" >/dev/null
wd POST /url "$(jq -nc --arg u "$url" '{url: $u}')" >/dev/null
# The page lists both takes of the replay, newest first, with the live state on top.
until_true "document.querySelectorAll('article.take').length === 2" 100 ||
  fail "the page lists $(js "return document.querySelectorAll('article.take').length") takes, not 2"
names=$(js "return [...document.querySelectorAll('article.take')].map(e => e.dataset.name).join(' ')")
[ "$names" = "\"${replayed[1]} ${replayed[0]}\"" ] || fail "listed $names"
until_true "document.getElementById('listening').classList.contains('on')" 100 || fail "the page does not show listening"

# The day's timeline: each take's block starts at its time (within a pixel).
until_true "document.querySelectorAll('.tl-take').length === 2" 150 || fail "the timeline shows $(js "return document.querySelectorAll('.tl-take').length") takes"
second() { echo $((10#${1:12:2} * 3600 + 10#${1:14:2} * 60 + 10#${1:16:2})); }  # of the day, from PLENyyyymmddhhmmss
lane="document.querySelector('.tl-lane')"
block() { echo "document.querySelector('.tl-take[data-name=\"$1\"]')"; }
for take in "${replayed[@]}"; do
  off=$(js "const l = $lane.getBoundingClientRect(), b = $(block "$take").getBoundingClientRect();
            return Math.abs(b.left - l.left - l.width * $(second "$take") / 86400) < 1")
  [ "$off" = true ] || fail "$take is not at its time on the timeline"
done
# A click on the bar plays that take from the point clicked: 6 s into the
# newest take, on a bar made a pixel a second wide for it.
newest=${replayed[1]}
tl_audio="document.querySelector('.tl-audio')"
js "document.querySelector('.tl-bar').style.width = '86400px';
    const l = $lane.getBoundingClientRect();
    $lane.dispatchEvent(new MouseEvent('click', {bubbles: true, clientX: l.left + $(second "$newest") + 6, clientY: l.top + 10}));
    return true" >/dev/null
until_true "$tl_audio.currentTime > 0 && !$tl_audio.paused" 100 || fail "the click on the timeline played nothing"
at=$(js "return $tl_audio.currentTime")
awk -v t="$at" 'BEGIN { exit !(t >= 5.5 && t < 8) }' || fail "the click at 6 s into the take played from $at s"
[ "$(js "return $tl_audio.src.endsWith('/$newest') && location.hash === '#day=2026-12-07&take=$newest'")" = true ] ||
  fail "the timeline played $(js "return $tl_audio.src + ' ' + location.hash")"
# The speed control sets every take's player, pitch kept, the live one aside.
js "$tl_audio.pause(); document.querySelector('.tl-bar').style.width = '';
    const s = document.getElementById('speed'); s.value = '1.5'; s.dispatchEvent(new Event('change')); return true" >/dev/null
[ "$(js "return [...document.querySelectorAll('article.take audio, .tl-audio')].every(a => a.playbackRate === 1.5 && a.preservesPitch)
           && document.getElementById('live-audio').playbackRate === 1")" = true ] || fail "the speed control did not set the players"
# A note is shown as text, never as markup, and a held take is marked.
js "Timeline.show('2026-12-07', [{name: 'PLEN20261207101010.wav', start: '2026-12-07T10:10:10', seconds: 5,
      note: '<img src=x onerror=\"window.injected=1\">', held: true}]);
    Timeline.open('PLEN20261207101010.wav', 0, false); return true" >/dev/null
[ "$(js "return document.querySelector('.tl-note').textContent.startsWith('<img') && !document.querySelector('.tl-now img')
           && document.querySelector('.tl-take.held') !== null")" = true ] || fail "the note or the hold is not shown as it should be"
# The address "#day=…&take=…" opens the page at that take, in a phone's width
# without text running over the edge.
wd POST /window/rect '{"width": 360, "height": 740}' >/dev/null
js "location.hash = '#day=2026-12-07&take=${replayed[0]}'; location.reload(); return true" >/dev/null
until_true "document.querySelector('.tl-take.picked[data-name=\"${replayed[0]}\"]') && $tl_audio.src.endsWith('/${replayed[0]}')" 100 ||
  fail "the address did not open ${replayed[0]}"
[ "$(js "return document.documentElement.scrollWidth <= innerWidth")" = true ] || fail "the page is wider than a phone"
js "window.samePage = 'yes'; return true" >/dev/null

# The newest take plays: its audio element's time advances.
js "document.querySelector('article.take audio').play(); return true" >/dev/null
until_true "document.querySelector('article.take audio').currentTime > 1" 150 ||
  fail "the audio element did not play (currentTime $(js "return document.querySelector('article.take audio').currentTime"))"
js "document.querySelector('article.take audio').pause(); return true" >/dev/null
until_true "document.querySelector('article.take canvas').peaks !== undefined" 150 || fail "no waveform thumbnail"

# The metrics before any take of this recorder: accepted by promtool.
metric() {  # NAME: its value in the page's /metrics now
  curl -sk -u admin:page-test-pw "${url}metrics" | sed -n "s/^$1 //p"
}
curl -sk -u admin:page-test-pw "${url}metrics" >"$work/before.prom" || fail "no /metrics"
promtool check metrics <"$work/before.prom" >"$work/promtool.log" 2>&1 ||
  fail "promtool refuses /metrics: $(cat "$work/promtool.log")"
[ "$(metric somorabox_takes_made_total)" = 0 ] || fail "takes made before any: $(metric somorabox_takes_made_total)"

# Speech on the live input opens a take, which the page shows without a
# reload; meanwhile the live stream is listened to, by a client that keeps
# what it gets and by the page's own control.
paplay -d venue "$work/speech20.wav" &
player=$!
curl -sk -u admin:page-test-pw --max-time 8 -o "$work/live.ogg" "${url}live.ogg" &
listener=$!
# The page joins the running stream: it starts from the header pages.
has_bytes() { [ -s "$work/live.ogg" ]; }
wait_for 50 has_bytes || fail "no bytes of /live.ogg"
js "document.getElementById('listen').click(); return true" >/dev/null
until_true "document.getElementById('live-audio').currentTime > 1" 150 ||
  fail "the live stream did not play (currentTime $(js "return document.getElementById('live-audio').currentTime"))"
until_true "document.querySelector('article.take.recording') !== null" 200 || fail "the live take did not show up"
[ "$(js "return window.samePage")" = '"yes"' ] || fail "the page was reloaded"
live=$(js "return document.querySelector('article.take.recording').dataset.name")
until_true "document.getElementById('recording').classList.contains('rec')" 150 || fail "the state shows no recording"
[ "$(metric somorabox_live_listeners)" -ge 1 ] || fail "no live listener in /metrics"
wait "$listener"
listener=""
# The stream decoded holds the speech: far louder than the silence before it.
opusdec --quiet "$work/live.ogg" "$work/live.wav" 2>"$work/opusdec.log" || fail "opusdec: $(cat "$work/opusdec.log")"
rms=$(sox "$work/live.wav" -n stat 2>&1 | sed -n 's/^RMS     amplitude: *//p')
length=$(sox "$work/live.wav" -n stat 2>&1 | sed -n 's/^Length (seconds): *//p')
awk -v r="$rms" -v l="$length" 'BEGIN { exit !(r > 0.02 && l > 5) }' ||
  fail "the live stream holds ${length:-no} s of sound at RMS ${rms:-none}"
js "document.getElementById('listen').click(); return true" >/dev/null
made=$(metric somorabox_takes_made_total)
[ "$made" = 1 ] || fail "takes made after the live take opened: $made"

# Deleting the older replayed take with the password removes its file.
older=${replayed[0]}
js "window.confirm = () => true;
    document.getElementById('password').value = 'page-test-pw';
    document.querySelector('article.take[data-name=\"$older\"] button.delete').click(); return true" >/dev/null
until_true "document.querySelector('article.take[data-name=\"$older\"]') === null" 100 ||
  fail "the deleted take stays on the page ($(js "var x=new XMLHttpRequest(); x.open('GET','/api/takes',false); x.send(); return x.status + ' ' + x.responseText.slice(0,100) + ' ' + location.href + ' ' + typeof loadTakes + ' ' + document.scripts.length + ' ' + JSON.stringify(performance.getEntriesByType('resource').map(e => e.name + ':' + e.responseStatus))"))"
[ ! -e "$work/app/record/$older" ] || fail "$older is still on disk"
[ -e "$work/app/record/${replayed[1]}" ] || fail "the other take went too"

kill "$player" 2>/dev/null
wait "$player" 2>/dev/null
player=""

# With the page still connected, SIGTERM ends the recorder cleanly.
kill -TERM "$pid"
wait_exit "$pid" 150 || fail "the recorder did not end within 15 s of SIGTERM"
pid=""
[ "$exit_code" -eq 0 ] || fail "exit code $exit_code after SIGTERM"
[ ! -s "$work/err.log" ] || fail "the recorder wrote to standard error"
echo "test_web_browser_pulse: ok (listed ${replayed[*]}, played one, live take $live, deleted $older)"
