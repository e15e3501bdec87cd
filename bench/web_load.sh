#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The web server under load, in the headless recorder beside a private sound
# server:
#  1. /api/takes with 10,000 small takes in record/: the first answer (after
#     the server has read the headers ahead at its start) and the median of
#     20 more, from curl.
#  2. Four clients streaming takes at once (rate-limited, so they stream for
#     the whole run) while a 20 s tone plays into the recorder: its peak
#     memory (VmHWM) and the length of the take it made of the tone, against
#     the tone plus the 3 s of quiet that end a take; a lost block would
#     shorten it by a block (2048 frames) or more.
#  3. 200 half-open connections (half a request head each, renewed every 4 s
#     as the server closes those that stay silent) and 100 event streams
#     held open while the 20 s tone is recorded: how many streams were
#     answered and how many refused (503), the time of /api/status from a new
#     client once a second (median and worst), and the take's length as in 2.
#  4. Hostile clients (tests/scripts/lib/hostile_clients.py: an endless POST
#     body, ten /api/%65vents streams, a hundred connections from
#     127.0.0.2-.5 asking for a 64 MB take and never reading, wrong passwords
#     in a loop) while the 20 s tone is recorded, the program held to 512
#     descriptors: the time of /api/status from 127.0.0.1 once a second
#     (median and worst), the growth of the peak memory (VmHWM) and the
#     take's length as in 2.
# Usage: bench/web_load.sh [path/to/Somorabox]   (default build/Somorabox)
. "$(dirname "$0")/../tests/scripts/lib/program.sh"
. "$(dirname "$0")/../tests/scripts/lib/wait.sh"
set -euo pipefail
cd "$(dirname "$0")/.."
exe=${1:-build/Somorabox}
need_program web_load "$exe"
if [ -z "${SOMORA_WEB_INNER:-}" ]; then
  SOMORA_WEB_INNER=1 exec scripts/with-pulse.sh bash "$0" "$@"
fi

dir=$(mktemp -d /tmp/somora-web-load.XXXXXX)
pid=""
clients=()
held=()
cleanup() {
  touch "$dir/stop"
  for fd in "${held[@]}"; do exec {fd}>&- 2>/dev/null || true; done
  for c in "${clients[@]}"; do kill "$c" 2>/dev/null || true; wait "$c" 2>/dev/null || true; done
  kill_now "$pid" TERM
  rm -rf "$dir"
}
trap cleanup EXIT
mkdir -p "$dir/app/record" "$dir/runtime" "$dir/config"
chmod 700 "$dir/runtime"
copy_program "$exe" "$dir/app"
printf '[Settings]\nSamplingRate=22050\nRecordingLevel=2\nRecordingVolume=100\nPlayingVolume=100\nAGC=0\nManualMode=0\nManageFile=0\n' \
  >"$dir/app/config.ini"
server="unix:${PULSE_RUNTIME_PATH:-$XDG_RUNTIME_DIR/pulse}/native"

start_recorder() {
  : >"$dir/out.log"
  (cd "$dir/app" && ulimit -n "${descriptors:-$(ulimit -Hn)}" && exec env XDG_CONFIG_HOME="$dir/config" XDG_RUNTIME_DIR="$dir/runtime" PULSE_SERVER="$server" \
    ./Somorabox --headless --web 127.0.0.1:0) >"$dir/out.log" 2>"$dir/err.log" &
  pid=$!
  wait_url "$dir/out.log" 's/^web page on \(http:[^ ]*\)$/\1/p' ||
    { echo "web_load: no web page announced" >&2; cat "$dir/err.log" >&2; exit 1; }
  for _ in $(seq 50); do
    [ "$(pactl list short source-outputs | wc -l)" -ge 1 ] && break
    sleep 0.1
  done
}
stop_recorder() {
  kill -TERM "$pid"
  wait "$pid" 2>/dev/null || true
  pid=""
}

# --- 1. 10,000 takes of one block each: one file cut into pieces by split.
sox -n -r 22050 -c 2 -b 16 "$dir/one.wav" synth 2048s sine 440 vol 0.3
size=$(stat -c %s "$dir/one.wav")
cp "$dir/one.wav" "$dir/many"
for _ in $(seq 14); do cat "$dir/many" "$dir/many" >"$dir/twice" && mv "$dir/twice" "$dir/many"; done
head -c $((size * 10000)) "$dir/many" >"$dir/all"
(cd "$dir/app/record" && split -b "$size" -a 6 -d --additional-suffix=.wav "$dir/all" PLEN20261207)
rm -f "$dir/many" "$dir/all"
count=$(find "$dir/app/record" -name 'PLEN*.wav' | wc -l)
start_recorder
first=$(curl -s -o "$dir/takes.json" -w '%{time_total}' "${url}api/takes")
listed=$(jq length "$dir/takes.json")
for _ in $(seq 20); do curl -s -o /dev/null -w '%{time_total}\n' "${url}api/takes"; done | sort -n >"$dir/times"
median=$(sed -n 10p "$dir/times")
worst=$(tail -n 1 "$dir/times")
stop_recorder
printf '/api/takes with %d takes (%d listed, %d bytes of JSON): first %.1f ms, then median %.1f ms, worst %.1f ms\n' \
  "$count" "$listed" "$(stat -c %s "$dir/takes.json")" \
  "$(echo "$first * 1000" | bc -l)" "$(echo "$median * 1000" | bc -l)" "$(echo "$worst * 1000" | bc -l)"
find "$dir/app/record" -name 'PLEN*.wav' -delete

# --- 2. Four streaming clients while a tone is recorded.
for i in 1 2 3 4; do
  sox -n -r 22050 -c 2 -b 16 "$dir/app/record/PLEN2026120610000$i.wav" synth 60 sine $((300 + 100 * i)) vol 0.3
done
sox -n -r 22050 -c 2 -b 16 "$dir/silence.wav" trim 0 2
sox -n -r 22050 -c 2 -b 16 "$dir/tone.wav" synth 20 sine 440 vol 0.5
start_recorder
baseline=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status")
for i in 1 2 3 4; do
  (
    while [ ! -e "$dir/stop" ]; do
      curl -s -o /dev/null --limit-rate 400k "${url}takes/PLEN2026120610000$i.wav" || true
    done
  ) &
  clients+=($!)
done
# An event stream besides, as an open page would hold.
curl -s -N "${url}api/events" -o /dev/null --max-time 40 &
clients+=($!)
paplay -d venue "$dir/silence.wav"
paplay -d venue "$dir/tone.wav"
for _ in $(seq 100); do
  grep -q '^kept ' "$dir/out.log" && break
  sleep 0.1
done
peak=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status")
anon=$(awk '/^RssAnon:/ {print $2}' "/proc/$pid/status")
port=${url%/}
port=${port##*:}
streams=$(ss -Htn state established "( sport = :$port )" | wc -l)
touch "$dir/stop"
for c in "${clients[@]}"; do kill "$c" 2>/dev/null || true; wait "$c" 2>/dev/null || true; done
clients=()
stop_recorder
take=$(sed -n 's/^kept \(PLEN[0-9-]*\.wav\) .*/\1/p' "$dir/out.log" | head -n 1)
if [ -z "$take" ]; then
  echo "web_load: the tone made no take" >&2
  cat "$dir/out.log" >&2
  exit 1
fi
data=$(($(stat -c %s "$dir/app/record/$take") - 44))
awk -v d="$data" -v kb="$peak" -v base="$baseline" -v anon="$anon" -v s="$streams" 'BEGIN {
  blocks = d / 8192; expected = (20 + 3) * 22050 / 2048
  printf "4 streaming clients + 1 event stream (%s connections at the end): peak memory %.1f MB (%.1f MB before the clients; anonymous %.1f MB)\n",
    s, kb / 1024, base / 1024, anon / 1024
  printf "take of the 20 s tone: %d blocks (%.2f s); tone + 3 s of quiet = %.1f blocks\n", blocks, d / 88200, expected
}'
find "$dir/app/record" -name 'PLEN*.wav' -delete
rm -f "$dir/stop"

# --- 3. 200 half-open connections and 100 event streams while the tone is recorded.
start_recorder
port=${url%/}
port=${port##*:}
half_open() {  # closes the connections held and opens 200 new ones
  local fd
  for fd in "${held[@]}"; do exec {fd}>&-; done
  held=()
  for _ in $(seq 200); do
    exec {fd}<>"/dev/tcp/127.0.0.1/$port"
    printf 'GET /api/status HTTP/1.1\r\nHost: 127.0.0.1\r\n' >&"$fd"
    held+=("$fd")
  done
}
streams=()
for _ in $(seq 100); do
  exec {fd}<>"/dev/tcp/127.0.0.1/$port"
  printf 'GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n' >&"$fd"
  streams+=("$fd")
done
answered=0
refused=0
for fd in "${streams[@]}"; do
  read -r -t 5 -u "$fd" status_line || true
  case "$status_line" in
    *" 200 "*) answered=$((answered + 1)) ;;
    *" 503 "*) refused=$((refused + 1)) ;;
  esac
done
half_open
: >"$dir/times"
paplay -d venue "$dir/silence.wav"
paplay -d venue "$dir/tone.wav" &
player=$!
clients+=($player)
renewed=$SECONDS
for _ in $(seq 24); do
  curl -s -o /dev/null -m 10 -w '%{time_total}\n' "${url}api/status" >>"$dir/times"
  if [ $((SECONDS - renewed)) -ge 4 ]; then
    half_open
    renewed=$SECONDS
  fi
  sleep 1
done
wait "$player" || true
clients=()
for _ in $(seq 100); do
  grep -q '^kept ' "$dir/out.log" && break
  sleep 0.1
done
open_now=$(ss -Htn state established "( sport = :$port )" | wc -l)
for fd in "${held[@]}" "${streams[@]}"; do exec {fd}>&-; done
held=()
stop_recorder
take=$(sed -n 's/^kept \(PLEN[0-9-]*\.wav\) .*/\1/p' "$dir/out.log" | head -n 1)
[ -n "$take" ] || { echo "web_load: the tone made no take under load" >&2; cat "$dir/out.log" >&2; exit 1; }
data=$(($(stat -c %s "$dir/app/record/$take") - 44))
sort -n "$dir/times" -o "$dir/times"
awk -v d="$data" -v a="$answered" -v r="$refused" -v c="$open_now" -v n="$(wc -l <"$dir/times")" \
  -v med="$(sed -n 12p "$dir/times")" -v worst="$(tail -n 1 "$dir/times")" 'BEGIN {
  printf "200 half-open connections + 100 event streams (%d answered, %d refused with 503; %d connections open at the end):\n", a, r, c
  printf "  /api/status from a new client, %d times: median %.1f ms, worst %.1f ms\n", n, med * 1000, worst * 1000
  printf "  take of the 20 s tone: %d blocks (%.2f s); tone + 3 s of quiet = %.1f blocks\n", d / 8192, d / 88200, (20 + 3) * 22050 / 2048
}'

# --- 4. Hostile clients while the tone is recorded, within 512 descriptors.
find "$dir/app/record" -name 'PLEN*.wav' -delete
truncate -s 64M "$dir/app/record/PLEN20261207201500.wav"
descriptors=512 start_recorder
port=${url%/}
port=${port##*:}
curl -s -o /dev/null "${url}api/status"
baseline=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status")
python3 tests/scripts/lib/hostile_clients.py "$port" PLEN20261207201500.wav 30 >"$dir/attack.log" 2>&1 &
attack=$!
clients+=($attack)
sleep 3
: >"$dir/times"
paplay -d venue "$dir/silence.wav"
paplay -d venue "$dir/tone.wav" &
player=$!
clients+=($player)
for _ in $(seq 24); do
  curl -s -o /dev/null -m 10 -w '%{time_total}\n' "${url}api/status" >>"$dir/times"
  sleep 1
done
wait "$player" || true
wait "$attack" || true
clients=()
for _ in $(seq 100); do
  grep -q '^kept ' "$dir/out.log" && break
  sleep 0.1
done
peak=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status")
stop_recorder
take=$(sed -n 's/^kept \(PLEN[0-9-]*\.wav\) .*/\1/p' "$dir/out.log" | head -n 1)
[ -n "$take" ] || { echo "web_load: the tone made no take under hostile clients" >&2; cat "$dir/out.log" >&2; exit 1; }
data=$(($(stat -c %s "$dir/app/record/$take") - 44))
sort -n "$dir/times" -o "$dir/times"
awk -v d="$data" -v kb="$peak" -v base="$baseline" -v n="$(wc -l <"$dir/times")" -v seen="$(cat "$dir/attack.log")" \
  -v med="$(sed -n 12p "$dir/times")" -v worst="$(tail -n 1 "$dir/times")" 'BEGIN {
  printf "hostile clients, 512 descriptors (%s):\n", seen
  printf "  /api/status from 127.0.0.1, %d times: median %.1f ms, worst %.1f ms\n", n, med * 1000, worst * 1000
  printf "  peak memory %.1f MB (%.1f MB before the clients, +%.1f MB)\n", kb / 1024, base / 1024, (kb - base) / 1024
  printf "  take of the 20 s tone: %d blocks (%.2f s); tone + 3 s of quiet = %.1f blocks\n", d / 8192, d / 88200, (20 + 3) * 22050 / 2048
}'
