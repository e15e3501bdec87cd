#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# How fast --replay splits a long recording: generates an hour of 44.1 kHz
# stereo sound (tones and pauses) in /tmp, copies it once with cp (the time a
# disk needs to read and write it), replays it into a temporary folder, and
# prints both times, their ratio, the factor of real time and the peak memory.
# The copy and the replay take turns, three times each; the best of each counts.
# Usage: bench/replay_speed.sh [path/to/Somorabox] [minutes]   (default: build/Somorabox, 60)
. "$(dirname "$0")/../tests/scripts/lib/program.sh"
set -euo pipefail
cd "$(dirname "$0")/.."
exe=${1:-}
minutes=${2:-60}
if [ -z "$exe" ]; then
  build_program
  exe=build/Somorabox
fi
for tool in sox /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "replay_speed: $tool is missing (scripts/deps.sh installs it)" >&2; exit 1; }
done

dir=$(mktemp -d /tmp/somora-replay.XXXXXX)
trap 'rm -rf "$dir"' EXIT
copy_program "$exe" "$dir"
printf '[Settings]\nRecordingLevel=2\n' >"$dir/config.ini"

# One minute: takes of 15, 5 and 30 s split by pauses of 4 s (the take
# ends) and 2 s (it goes on), and a 3 s burst that is deleted; low noise
# throughout so that the pauses are not digital silence.
fmt=(-r 44100 -c 2 -b 16)
sox -n "${fmt[@]}" "$dir/minute.wav" \
  synth 15 sine 440 : synth 4 whitenoise vol 0.001 : synth 5 sine 660 : synth 2 whitenoise vol 0.001 : \
  synth 30 sine 330 : synth 4 whitenoise vol 0.001
sox "$dir/minute.wav" "$dir/burst.wav" trim 0 3
sox -n "${fmt[@]}" "$dir/rest.wav" synth 57 whitenoise vol 0.001
sox "$dir/minute.wav" "$dir/burst.wav" "$dir/rest.wav" "$dir/two.wav"
sox "$dir/two.wav" "$dir/long.wav" repeat $((minutes / 2 - 1))
rm -f "$dir/minute.wav" "$dir/burst.wav" "$dir/rest.wav" "$dir/two.wav"
seconds=$(soxi -D "$dir/long.wav")
bytes=$(stat -c %s "$dir/long.wav")
# Once through the file so that the first replay does not measure the disk.
cat "$dir/long.wav" >/dev/null

wall_of() {
  awk -F': ' '/Elapsed \(wall clock\)/ {n = split($2, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s}' "$1"
}
# The copy into an empty folder: what reading the input and writing as much
# again costs here.
copy="" wall=""
for round in 1 2 3; do
  mkdir "$dir/copy"
  /usr/bin/time -v -o "$dir/copy-time.txt" cp "$dir/long.wav" "$dir/copy/"
  rm -rf "$dir/copy"
  sync
  k=$(wall_of "$dir/copy-time.txt")
  if [ -z "$copy" ] || awk -v a="$k" -v b="$copy" 'BEGIN {exit !(a < b)}'; then copy=$k; fi

  rm -rf "$dir/out"
  /usr/bin/time -v -o "$dir/time-now.txt" "$dir/Somorabox" --replay "$dir/long.wav" --out "$dir/out" \
    --start "2026-12-07 10:00:00" >"$dir/out.txt"
  sync
  w=$(wall_of "$dir/time-now.txt")
  echo "round $round: copy $k s, replay $w s"
  if [ -z "$wall" ] || awk -v a="$w" -v b="$wall" 'BEGIN {exit !(a < b)}'; then
    wall=$w
    mv "$dir/time-now.txt" "$dir/time.txt"
  fi
done
cpu=$(awk -F': ' '/User time/ {u = $2} /System time/ {s = $2} END {print u + s}' "$dir/time.txt")
peak=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$dir/time.txt")
echo "input: $(awk -v s="$seconds" 'BEGIN {printf "%.0f s", s}') of 44.1 kHz stereo, $((bytes / 1048576)) MiB"
echo "$(tail -n 1 "$dir/out.txt")"
echo "takes written: $(find "$dir/out" -name '*.wav' | wc -l), $(du -sm "$dir/out" | cut -f1) MiB"
awk -v s="$seconds" -v w="$wall" -v c="$cpu" -v p="$peak" 'BEGIN {
  printf "replay (best of three): %.2f s wall, %.2f s CPU: %.0fx real time (%.0fx per CPU second)\n", w, c, s / w, s / c
  printf "peak memory: %.1f MB\n", p / 1024
}'
awk -v w="$wall" -v k="$copy" 'BEGIN {
  printf "copy of the input (cp, best of three): %.2f s wall; replay / copy: %.2f\n", k, (k > 0 ? w / k : 0)
}'
