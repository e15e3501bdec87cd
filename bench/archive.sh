#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# What the archive costs: an hour of takes made by --replay from speech
# (about a minute each, 22.05 kHz stereo) is uploaded by the headless
# recorder to a private object store (scripts/with-s3.sh) while it records
# speech played into the sound server. Prints the upload rate, the CPU
# seconds the recorder spent per hour of sound (FLAC encoding, hashing and
# sending), the FLAC size against the WAV size, the recorder's peak memory,
# and whether the take recorded meanwhile lost any sound.
# Usage: bench/archive.sh [path/to/Somorabox] [minutes]   (default: build/Somorabox, 60)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. tests/scripts/lib/program.sh
exe=${1:-}
minutes=${2:-60}
if [ -z "$exe" ]; then
  build_program
  exe=$root/build/Somorabox
fi
exe=$(realpath "$exe")
if [ -z "${SOMORA_S3_ENDPOINT:-}" ]; then
  exec scripts/with-pulse.sh scripts/with-s3.sh bash "$0" "$exe" "$minutes"
fi
fail() { echo "archive bench: $*" >&2; exit 1; }
. tests/scripts/lib/sound.sh
require_sound

dir=$(mktemp -d /tmp/somora-archive-bench.XXXXXX)
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$dir"
}
trap cleanup EXIT
mkdir -p "$dir/app" "$dir/runtime" "$dir/config"
chmod 700 "$dir/runtime"
copy_program "$exe" "$dir/app"

# A minute: 55 s of speech and 5 s of quiet (the take ends), repeated.
make_speech "$dir" 55
sox -n "${SOUND_FORMAT[@]}" "$dir/quiet.wav" synth 5 whitenoise vol 0.001
sox "$dir/speech55.wav" "$dir/quiet.wav" "$dir/minute.wav"
sox "$dir/minute.wav" "$dir/long.wav" repeat $((minutes - 1))
printf '[Settings]\nSamplingRate=22050\n' >"$dir/app/config.ini"
"$dir/app/Somorabox" --replay "$dir/long.wav" --out "$dir/app/record" --start "2026-12-07 08:00:00" >/dev/null
takes=$(find "$dir/app/record" -name 'PLEN*.wav' | wc -l)
wav_bytes=$(find "$dir/app/record" -name 'PLEN*.wav' -printf '%s\n' | awk '{s += $1} END {print s}')
sound_s=$(awk -v b="$wav_bytes" -v n="$takes" 'BEGIN {print (b - 44 * n) / 88200}')

printf '[Archive]\nEndpoint=%s\nBucket=%s\nAccessKey=%s\nSecretKey=%s\n' "$SOMORA_S3_ENDPOINT" \
  "$SOMORA_S3_BUCKET" "$SOMORA_S3_ACCESS_KEY" "$SOMORA_S3_SECRET_KEY" >>"$dir/app/config.ini"
make_speech "$dir" 30
ticks=$(getconf CLK_TCK)
cpu_of() { awk -v t="$ticks" '{print ($14 + $15) / t}' "/proc/$1/stat"; }
(
  cd "$dir/app" &&
    exec env -u DISPLAY XDG_RUNTIME_DIR="$dir/runtime" XDG_CONFIG_HOME="$dir/config" \
      PULSE_SERVER="$(sound_server)" ./Somorabox --headless
) >"$dir/out.log" 2>"$dir/err.log" &
pid=$!
for _ in $(seq 100); do grep -q '^archive behind: ' "$dir/out.log" && break; sleep 0.1; done
start=$(date +%s.%N)
cpu0=$(cpu_of "$pid")
# Speech recorded while the backlog goes up.
paplay -d venue "$dir/speech30.wav" &
player=$!
peak=0
while [ "$(grep -c '^archived ' "$dir/out.log")" -lt "$takes" ]; do
  kill -0 "$pid" 2>/dev/null || fail "the recorder ended: $(tail -n 3 "$dir/err.log")"
  rss=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status")
  [ "$rss" -gt "$peak" ] && peak=$rss
  sleep 0.5
done
end=$(date +%s.%N)
cpu1=$(cpu_of "$pid")
wait "$player"
for _ in $(seq 200); do grep -q '^kept ' "$dir/out.log" && break; sleep 0.1; done
rss=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status")
[ "$rss" -gt "$peak" ] && peak=$rss
kill -TERM "$pid"
wait "$pid" || true
pid=""

flac_bytes=$(grep '^archived PLEN2026120708' "$dir/out.log" | sed 's/.*(\([0-9]*\) bytes)$/\1/' | awk '{s += $1} END {print s}')
awk -v t="$takes" -v s="$sound_s" -v w="$wav_bytes" -v f="$flac_bytes" -v a="$start" -v b="$end" \
  -v c0="$cpu0" -v c1="$cpu1" -v p="$peak" 'BEGIN {
  printf "takes: %d, %.0f s of sound, WAV %.1f MB, FLAC %.1f MB (%.0f %% of WAV)\n", t, s, w / 1e6, f / 1e6, 100 * f / w
  printf "upload: %.1f s, %.1f MB/s of FLAC (%.1f MB/s of WAV)\n", b - a, f / 1e6 / (b - a), w / 1e6 / (b - a)
  printf "recorder CPU while uploading: %.1f s, %.1f s per hour of sound\n", c1 - c0, (c1 - c0) * 3600 / s
  printf "recorder peak memory: %.1f MB\n", p / 1024
}'
kept=$(grep -c '^kept ' "$dir/out.log" || true)
overruns=$(grep -c '^overrun' "$dir/out.log" || true)
echo "recorded meanwhile: $kept take(s), overrun lines: $overruns"
