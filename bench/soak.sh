#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A fault soak: the headless recorder at its defaults listens live beside a
# private sound server while speech (12 s bursts, 4-8 s apart) plays into the
# line input, and at random moments the sound server is killed and started
# again, the disk is stalled (its file system frozen with fsfreeze for 5-20 s)
# or filled (until a file is deleted 5-15 s later). record/ is a small ext4
# image on a loop device, mounted in a mount namespace of the soak's own.
# At the end it prints the takes expected and recorded, and the seconds of
# speech lost: while the server was down, while the disk was full, and
# elsewhere (the aim: none).
#
# Usage: bench/soak.sh MINUTES [path/to/Somorabox]   (as root)
# SOMORA_SOAK_SERVER=pipewire runs it beside PipeWire; SOMORA_SOAK_RANDOM
# repeats a run's random choices.
set -uo pipefail
cd "$(dirname "$0")/.."
minutes=${1:?usage: bench/soak.sh MINUTES [path/to/Somorabox]}
exe=${2:-build/Somorabox}
[ -x "$exe" ] || { echo "soak: build the program first (ninja -C build Somorabox)" >&2; exit 1; }
if [ -z "${SOMORA_SOAK_INNER:-}" ]; then
  wrapper=scripts/with-pulse.sh
  [ "${SOMORA_SOAK_SERVER:-pulseaudio}" = pipewire ] && wrapper=scripts/with-pipewire.sh
  SOMORA_SOAK_INNER=1 exec unshare --mount --propagation private "$wrapper" bash "$0" "$@"
fi
. tests/scripts/lib/program.sh
. tests/scripts/lib/wait.sh
. scripts/lib/sound-server.sh
fail() { echo "soak: $*" >&2; exit 1; }
. tests/scripts/lib/sound.sh
require_sound
server=$(sound_server)
dice=${SOMORA_SOAK_RANDOM:-$$}
RANDOM=$dice

dir=$(mktemp -d /tmp/somora-soak.XXXXXX)
record=$dir/app/record
pid=""
player=""
cleanup() {
  [ -n "$player" ] && kill "$player" 2>/dev/null && wait "$player" 2>/dev/null
  fsfreeze -u "$record" 2>/dev/null
  kill_now "$pid" TERM
  mountpoint -q "$record" && umount "$record"
  rm -rf "$dir"
}
trap cleanup EXIT
now() { date +%s.%N; }
# A whole number from A to B.
pick() { echo $(($1 + RANDOM % ($2 - $1 + 1))); }

make_speech "$dir" 12
mkdir -p "$record" "$dir/config" "$dir/runtime"
chmod 700 "$dir/runtime"
copy_program "$exe" "$dir/app" || fail "cannot copy $exe"
# Room for the takes (about 5 MB a minute at the default rate) and for the
# 16 MB the recorder wants free after a full disk.
truncate -s $((40 + 6 * minutes))M "$dir/disk.img"
mkfs.ext4 -q -F -m 0 "$dir/disk.img" || fail "mkfs.ext4"
mount -o loop "$dir/disk.img" "$record" || fail "cannot mount a loop device (run as root)"

# Standard output with the time each line arrived.
stamp() { while IFS= read -r line; do echo "$(now) $line"; done; }
run_program "$dir" "$server" --headless > >(stamp >"$dir/out.log") 2>"$dir/err.log" &
pid=$!
for _ in $(seq 100); do
  [ "$(pactl list short source-outputs | wc -l)" -ge 1 ] && break
  sleep 0.1
done
[ "$(pactl list short source-outputs | wc -l)" -ge 1 ] || fail "the recorder opened no capture stream"
# A new capture stream's first two seconds or so come late from the server.
sleep 3

start=$(date +%s)
end=$((start + 60 * minutes))
# The speech: each burst's start and end as played (cut short when the server goes).
(
  RANDOM=$((dice + 1))
  while [ "$(date +%s)" -lt $((end - 12)) ]; do
    t0=$(now)
    if paplay -d venue "$dir/speech12.wav" 2>/dev/null; then code=0; else code=1; fi
    echo "$t0 $(now) $code" >>"$dir/bursts.log"
    sleep "$(pick 4 8)"
  done
) &
player=$!

# The faults, one at a time, 15-35 s apart, in turn in a random order.
: >"$dir/faults.log"
kinds=(server stall fill)
while [ $(($(date +%s) + 60)) -lt "$end" ]; do
  sleep "$(pick 15 35)"
  kind=${kinds[RANDOM % 3]}
  case $kind in
    server)
      t0=$(now)
      server_stop KILL
      sleep "$(pick 1 6)"
      server_start >/dev/null || fail "the sound server did not start again"
      echo "server $t0 $(now)" >>"$dir/faults.log"
      ;;
    stall)
      t0=$(now)
      fsfreeze -f "$record" || fail "fsfreeze"
      sleep "$(pick 5 20)"
      fsfreeze -u "$record"
      echo "stall $t0 $(now)" >>"$dir/faults.log"
      ;;
    fill)
      t0=$(now)
      free_kb=$(df -k --output=avail "$record" | tail -n 1)
      fallocate -l $(((free_kb - 64) * 1024)) "$record/filler" 2>/dev/null || fail "cannot fill the disk"
      sleep "$(pick 5 15)"
      rm -f "$record/filler"
      echo "fill $t0 $(now)" >>"$dir/faults.log"
      ;;
  esac
done
wait "$player"
player=""
sleep 5  # the last take's three seconds of quiet, and its close
kill -TERM "$pid"
wait "$pid"
code=$?
pid=""
sleep 0.5  # the stamping reader's last lines

# --- The figures.
# Each take: the time in its name, its "opened" line's time, the time of its
# "kept" or "deleted" line, its seconds, and kept or deleted.
declare -A opened
while read -r t what name rest; do
  case $what in
    opened) opened[$name]=$t ;;
    kept | deleted)
      n=${name#PLEN}
      e=$(date -d "${n:0:4}-${n:4:2}-${n:6:2} ${n:8:2}:${n:10:2}:${n:12:2}" +%s)
      echo "$e ${opened[$name]:-$t} $t ${rest% s} $what"
      ;;
  esac
done <"$dir/out.log" >"$dir/takes.log"

# A server is down from the kill until the recorder says "input back"; a disk
# is full from the fill until it says "disk writable again".
awk -v minutes="$minutes" -v dice="$dice" -v code="$code" -v server="$SOMORA_SOUND_SERVER" '
  function max(a, b) { return a > b ? a : b }
  function min(a, b) { return a < b ? a : b }
  # Seconds of [a, b] inside the windows of kind k.
  function within(k, a, b,   i, s) {
    s = 0
    for (i = 1; i <= nw[k]; i++) s += max(0, min(b, we[k, i]) - max(a, ws[k, i]))
    return s
  }
  FILENAME ~ /faults.log$/ { nf[$1]++; fs[$1, nf[$1]] = $2; fe[$1, nf[$1]] = $3; next }
  FILENAME ~ /bursts.log$/ { nb++; b0[nb] = $1; b1[nb] = $2; next }
  # A take starts at its "opened" line, or, when that came later than the
  # time in its name allows (its file was created on a frozen disk), half a
  # second into that second. Takes under ten seconds deleted by the
  # recorder are counted apart.
  FILENAME ~ /takes.log$/ {
    if ($5 == "deleted") { nd++; ds[nd] = ($2 < $1 + 2) ? $2 : $1 + 0.5; de[nd] = ds[nd] + $4; next }
    nt++; ts[nt] = ($2 < $1 + 2) ? $2 : $1 + 0.5; tk[nt] = $3; te[nt] = ts[nt] + $4; td[nt] = $4
    next
  }
  FILENAME ~ /out.log$/ {
    t = $1; what = $2
    if (what == "overrun:") overrun_ms += $3
    else if (what == "input" && $3 == "back:") back[++nback] = t
    else if (what == "disk" && $3 == "writable") writable[++nwritable] = t
    else if (what == "disk" && $3 == "full:") full++
    else if (what == "disk" && $3 == "too") slow++
    next
  }
  END {
    # The windows: each server kill ends with the first "input back" after the
    # restart; each fill with the first "disk writable again" after the delete.
    for (i = 1; i <= nf["server"]; i++) {
      e = fe["server", i] + 30
      for (j = 1; j <= nback; j++) if (back[j] >= fe["server", i]) { e = back[j]; break }
      nw["down"]++; ws["down", i] = fs["server", i]; we["down", i] = e
    }
    for (i = 1; i <= nf["fill"]; i++) {
      e = fe["fill", i] + 30
      for (j = 1; j <= nwritable; j++) if (writable[j] >= fe["fill", i]) { e = writable[j]; break }
      nw["full"]++; ws["full", i] = fs["fill", i]; we["full", i] = e
    }
    # Speech not inside any take, allowing each take 0.5 s before its
    # "opened" line (the voice trigger hears the first block, then opens).
    for (b = 1; b <= nb; b++) {
      len = b1[b] - b0[b]; played += len
      covered = 0
      for (t = 1; t <= nt; t++) covered += max(0, min(b1[b], te[t]) - max(b0[b], ts[t] - 0.5))
      missing = max(0, len - covered)
      if (missing <= 0) continue
      d = min(missing, within("down", b0[b], b1[b]))
      f = min(missing - d, within("full", b0[b], b1[b]))
      r = 0
      for (t = 1; t <= nd; t++) r += max(0, min(b1[b], de[t]) - max(b0[b], ds[t] - 0.5))
      r = min(missing - d - f, r)
      lost_down += d; lost_full += f; lost_rule += r; lost_other += missing - d - f - r
    }
    # Inside the takes: the time from the start of a take to its "kept" line
    # against the sound it holds.
    for (t = 1; t <= nt; t++) {
      gap = (tk[t] - ts[t]) - td[t] - within("down", ts[t], tk[t]) - within("full", ts[t], tk[t]) - 0.5
      if (gap > 0) lost_inside += gap
    }
    # A take is expected for every burst that played in full (12 s) while the
    # server ran and the disk had room, the three seconds of quiet after it included.
    for (b = 1; b <= nb; b++) {
      if (b1[b] - b0[b] < 11.5) continue
      if (within("down", b0[b], b1[b] + 3) > 0 || within("full", b0[b], b1[b] + 3) > 0) continue
      expected++
      for (t = 1; t <= nt; t++)
        if (ts[t] - 0.5 <= b0[b] + 1 && te[t] >= b1[b]) { recorded++; break }
    }
    printf "soak: %d min beside %s (dice %s), exit code %d\n", minutes, server, dice, code
    printf "faults: %d server kills, %d disk stalls, %d disk fills\n", nf["server"], nf["stall"], nf["fill"]
    printf "speech: %d bursts, %.1f s played\n", nb, played
    printf "takes: %d expected (bursts played whole with the server up and disk room), %d of them recorded; %d kept in all, %d deleted (under 10 s)\n", expected, recorded, nt, nd
    printf "state lines: %d input back, %d disk full, %d disk writable again, %d disk too slow, overruns %d ms\n", nback, full, nwritable, slow, overrun_ms
    printf "speech lost while the server was down: %.1f s\n", lost_down
    printf "speech lost while the disk was full: %.1f s\n", lost_full
    printf "speech in takes deleted under the ten-second rule: %.1f s\n", lost_rule
    printf "speech lost elsewhere: %.1f s outside takes, %.1f s inside takes\n", lost_other, lost_inside
  }' "$dir/faults.log" "$dir/bursts.log" "$dir/takes.log" "$dir/out.log"
if [ -s "$dir/err.log" ]; then
  echo "standard error of the recorder:"
  tail -n 20 "$dir/err.log"
fi
if [ -n "${SOMORA_SOAK_KEEP:-}" ]; then
  cp "$dir/out.log" "$dir/faults.log" "$dir/bursts.log" "$dir/takes.log" "$SOMORA_SOAK_KEEP/" 2>/dev/null
fi
