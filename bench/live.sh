#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The live stream (/live.ogg) of the headless recorder at 44.1 kHz beside a
# private sound server:
# - latency: from each of eight tone bursts played into the line input to the
#   arrival at a client of the Ogg page that holds its first loud sample (the
#   page found by its granule position after decoding the kept stream with
#   opusdec);
#   the burst's start is taken as a second after paplay was started (the
#   burst follows a second of silence), so the figure includes the sound
#   server's own latency;
# - the recorder's CPU share (sum over its threads of /proc/PID/task/*/schedstat)
#   with 0, 1 and 16 listeners (curl into /dev/null), and its peak memory
#   (VmHWM) after all of them.
# Usage: bench/live.sh [seconds per CPU figure] [path/to/Somorabox]   (default 30, build/Somorabox)
. "$(dirname "$0")/../tests/scripts/lib/program.sh"
. "$(dirname "$0")/../tests/scripts/lib/wait.sh"
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${1:-30}
exe=${2:-build/Somorabox}
need_program live "$exe"
for tool in opusdec sox paplay curl python3; do
  command -v "$tool" >/dev/null || { echo "live: $tool is missing (scripts/deps.sh installs it)" >&2; exit 1; }
done
if [ -z "${SOMORA_LIVE_INNER:-}" ]; then
  SOMORA_LIVE_INNER=1 exec scripts/with-pulse.sh bash "$0" "$@"
fi

dir=$(mktemp -d /tmp/somora-live-bench.XXXXXX)
pid=""
listeners=()
stop_listeners() {
  local p
  for p in "${listeners[@]}"; do kill_now "$p" TERM; done
  listeners=()
}
cleanup() {
  stop_listeners
  kill_now "$pid" TERM
  rm -rf "$dir"
}
trap cleanup EXIT
mkdir -p "$dir/app/record" "$dir/runtime" "$dir/config"
chmod 700 "$dir/runtime"
copy_program "$exe" "$dir/app"
printf '[Settings]\nSamplingRate=44100\nManualMode=1\nAGC=0\nRecordingVolume=100\n[Web]\nListen=127.0.0.1:0\n' >"$dir/app/config.ini"
server="unix:${PULSE_RUNTIME_PATH:-$XDG_RUNTIME_DIR/pulse}/native"
run_program "$dir" "$server" --headless >"$dir/out.log" 2>"$dir/err.log" &
pid=$!
wait_url "$dir/out.log" 's/^web page on \(http:[^ ]*\)$/\1/p' || { echo "live: no web page" >&2; cat "$dir/err.log" >&2; exit 1; }
wait_for 100 capture_streams_at_least 1 || { echo "live: the recorder does not listen" >&2; exit 1; }
port=${url##*:}
port=${port%/}

# --- Latency, five bursts.
# A second of silence first: the sound server starts a short stream late or
# not at all until its buffer is full.
sox -n -r 44100 -c 2 -b 16 "$dir/tone.wav" synth 0.3 sine 1000 gain -6
sox -n -r 44100 -c 2 -b 16 "$dir/lead.wav" trim 0 1
sox "$dir/lead.wav" "$dir/tone.wav" "$dir/burst.wav"
python3 - "$port" "$dir" <<'PY'
import http.client, os, struct, subprocess, sys, time, wave
port, folder = int(sys.argv[1]), sys.argv[2]
conn = http.client.HTTPConnection('127.0.0.1', port, timeout=10)
conn.request('GET', '/live.ogg')
resp = conn.getresponse()
assert resp.status == 200, resp.status
data, arrivals = bytearray(), []   # arrivals: (end offset, monotonic time)
def read_for(seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        chunk = resp.read1(65536)
        if not chunk:
            raise SystemExit('live: the stream ended')
        data.extend(chunk)
        arrivals.append((len(data), time.monotonic()))
read_for(2.0)
plays = []
for _ in range(8):
    plays.append(time.monotonic() + 1.0)  # the tone after the second of silence
    subprocess.Popen(['paplay', '-d', 'venue', os.path.join(folder, 'burst.wav')])
    read_for(3.0)
conn.close()
ogg = os.path.join(folder, 'live.ogg')
open(ogg, 'wb').write(data)
wav = os.path.join(folder, 'live.wav')
subprocess.run(['opusdec', '--quiet', '--rate', '48000', ogg, wav], check=True)
with wave.open(wav) as w:
    channels, frames = w.getnchannels(), w.readframes(w.getnframes())
samples = struct.unpack('<%dh' % (len(frames) // 2), frames)[::channels]
# The pages: end offset and granule position; the stream's pre-skip.
pages, at = [], 0
while True:
    at = data.find(b'OggS', at)
    if at < 0: break
    segments = data[at + 26]
    size = 27 + segments + sum(data[at + 27:at + 27 + segments])
    pages.append((at + size, struct.unpack_from('<q', data, at + 6)[0]))
    at += size
head = data.find(b'OpusHead')
preskip = struct.unpack_from('<H', data, head + 10)[0]
def arrival(offset):
    return next(t for end, t in arrivals if end >= offset)
loud = max(abs(v) for v in samples) / 4
if loud < 300:
    raise SystemExit('live: the bursts did not reach the stream (peak %d)' % (loud * 4))
# Each burst's onset in the stream (loud after at least half a second of
# quiet), matched to the last burst played before its page arrived.
latencies, last = [], -48000
for i, v in enumerate(samples):
    if abs(v) < loud:
        continue
    if i - last > 24000:
        end = next(e for e, g in pages if g >= i + preskip)
        came = arrival(end)
        before = [p for p in plays if 0 <= came - p < 2.4]
        if before:
            latencies.append(came - max(before))
    last = i
if not latencies:
    raise SystemExit('live: no burst found in the stream')
latencies.sort()
print('latency line input -> client: %s s (median %.3f, max %.3f, %d of %d bursts); %d pages, %.1f kbit/s' % (
    ' '.join('%.3f' % l for l in latencies), latencies[len(latencies) // 2], latencies[-1], len(latencies), len(plays),
    len(pages), len(data) * 8 / 1000 / (arrivals[-1][1] - arrivals[0][1])))
PY

# --- CPU with 0, 1 and 16 listeners.
run_ns() { cat /proc/"$1"/task/*/schedstat | awk '{s += $1} END {print s}'; }
cpu() {  # LISTENERS
  local n=$1 i n0 s0 n1 s1
  for ((i = 0; i < n; i++)); do
    curl -s -N -o /dev/null "${url}live.ogg" &
    listeners+=($!)
  done
  sleep 2
  n0=$(run_ns "$pid")
  s0=$(date +%s.%N)
  sleep "$secs"
  n1=$(run_ns "$pid")
  s1=$(date +%s.%N)
  local open
  open=$(curl -s "${url}metrics" | sed -n 's/^somorabox_live_listeners //p')
  stop_listeners
  awk -v n="$n" -v n0="$n0" -v n1="$n1" -v s0="$s0" -v s1="$s1" -v open="$open" 'BEGIN {
    printf "%2d listeners (%s served): CPU %.3f %% of one core over %.0f s\n", n, open, 100 * (n1 - n0) / 1e9 / (s1 - s0), s1 - s0 }'
  sleep 1
}
cpu 0
cpu 1
cpu 16
awk '/^VmHWM:/ {printf "peak memory %.1f MB", $2 / 1024} /^RssAnon:/ {printf " (anonymous now %.1f MB)\n", $2 / 1024}' \
  "/proc/$pid/status"
