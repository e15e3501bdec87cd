#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The fleet page over a big bucket, beside a private S3 store
# (scripts/with-s3.sh): 100 rooms x 30 days x 10 small takes (30,000
# objects, each with its start and length) and a heartbeat per room, filled
# by boto3 on 16 threads. Then --fleet over it:
#  1. /api/rooms: the first answer (listing and 100 heartbeats) and the
#     median of 10 more (the second within the cache's 5 s);
#  2. one room's day: the first answer (a listing and 10 HEADs) and the
#     median of 10 more, then 10 other days each asked once;
#  3. the fleet server's peak memory (VmHWM) after all of it and after 8
#     clients fetched one take each at once;
#  4. the search index (one take in ten has a note): the first pass over the
#     bucket's listing, the time until every take's start and length is
#     known, and searches (a word, two words, a room and a week, everything)
#     each the median of 10.
# The index at the full size of 100 rooms x 365 days x 10 takes is measured
# by build/bench/bench_fleet_search (filling a store with 365,000 objects
# takes longer than a benchmark should here).
# Usage: bench/fleet.sh [path/to/Somorabox]   (default build/Somorabox)
. "$(dirname "$0")/../tests/scripts/lib/program.sh"
. "$(dirname "$0")/../tests/scripts/lib/wait.sh"
set -euo pipefail
cd "$(dirname "$0")/.."
exe=${1:-build/Somorabox}
need_program fleet "$exe"
if [ -z "${SOMORA_S3_ENDPOINT:-}" ]; then
  exec scripts/with-s3.sh bash "$0" "$@"
fi

dir=$(mktemp -d /tmp/somora-fleet-bench.XXXXXX)
pid=""
cleanup() {
  kill_now "$pid" TERM
  rm -rf "$dir"
}
trap cleanup EXIT

start=$(date +%s.%N)
python3 - <<'PY'
import boto3, botocore, os, json, datetime, concurrent.futures
cfg = botocore.config.Config(max_pool_connections=32)
s3 = boto3.client('s3', endpoint_url=os.environ['SOMORA_S3_ENDPOINT'], region_name='us-east-1', config=cfg,
                  aws_access_key_id=os.environ['SOMORA_S3_ACCESS_KEY'],
                  aws_secret_access_key=os.environ['SOMORA_S3_SECRET_KEY'])
bucket = os.environ['SOMORA_S3_BUCKET']
body = bytes(2048)
words = ['service', 'sermon', 'choir', 'hearing', 'witness', 'rehearsal', 'wedding', 'meeting', 'lecture', 'guest']
first = datetime.date(2026, 11, 1)
now = datetime.datetime.now(datetime.timezone.utc).strftime('%Y-%m-%dT%H:%M:%SZ')
def room(r):
    name = 'room-%03d' % r
    s3.put_object(Bucket=bucket, Key=name + '/status.json', Body=json.dumps(
        {'host': name, 'prefix': name, 'time': now, 'listening': True, 'recording': False,
         'input': 'listening', 'disk': 'ok', 'archive': {'state': 'ok', 'queued': 0, 'queued_bytes': 0}}).encode())
    for d in range(30):
        day = first + datetime.timedelta(days=d)
        for t in range(10):
            stamp = '%s%02d%02d00' % (day.strftime('%Y%m%d'), 8 + t, r % 60)
            key = '%s/%s/PLEN%s' % (name, day.strftime('%Y/%m/%d'), stamp)
            s3.put_object(Bucket=bucket, Key=key + '.flac', Body=body,
                          Metadata={'start': '%sT%02d:%02d:00+01:00' % (day.isoformat(), 8 + t, r % 60), 'length': '61.250'})
            if (r + d + t) % 10 == 0:
                s3.put_object(Bucket=bucket, Key=key + '.note', ContentType='text/plain; charset=utf-8',
                              Body=('%s, %s %d/%d' % (words[(r + t) % len(words)], words[(d * 7 + t) % len(words)],
                                                      day.day, day.month)).encode())
with concurrent.futures.ThreadPoolExecutor(16) as pool:
    list(pool.map(room, range(100)))
PY
fill=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN {printf "%.0f", b - a}')

mkdir -p "$dir/app" "$dir/runtime"
chmod 700 "$dir/runtime"
copy_program "$exe" "$dir/app"
printf '[Archive]\nEndpoint=%s\nBucket=%s\nAccessKey=%s\nSecretKey=%s\n[Fleet]\nListen=127.0.0.1:0\n' \
  "$SOMORA_S3_ENDPOINT" "$SOMORA_S3_BUCKET" "$SOMORA_S3_ACCESS_KEY" "$SOMORA_S3_SECRET_KEY" >"$dir/app/config.ini"
(cd "$dir/app" && exec env XDG_RUNTIME_DIR="$dir/runtime" XDG_CACHE_HOME="$dir/cache" ./Somorabox --fleet) >"$dir/out.log" 2>"$dir/err.log" &
pid=$!
wait_url "$dir/out.log" 's/^fleet page on \(http:[^ ]*\) .*/\1/p' ||
  { echo "fleet: the server did not start" >&2; cat "$dir/err.log" >&2; exit 1; }

timed() { curl -s -o "$dir/answer" -w '%{time_total}\n' "$url$1"; }
median() { sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}'; }
rooms_first=$(timed api/rooms)
count=$(jq length "$dir/answer")
rooms_median=$(for _ in $(seq 10); do timed api/rooms; sleep 0.6; done | median)
day_first=$(timed "api/rooms/room-042/takes?day=2026-11-15")
takes=$(jq length "$dir/answer")
day_median=$(for _ in $(seq 10); do timed "api/rooms/room-042/takes?day=2026-11-15"; sleep 0.6; done | median)
other_days=$(for d in $(seq 1 10); do timed "api/rooms/room-0$((10 + d))/takes?day=2026-11-$(printf %02d "$d")"; done | median)
hwm_api=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status")
take=$(jq -r '.[0].name' "$dir/answer")
for _ in $(seq 8); do curl -s -o /dev/null "${url}rooms/room-042/takes/$take" & done
wait_clients() { for job in $(jobs -p); do [ "$job" = "$pid" ] || wait "$job"; done; }
wait_clients
hwm=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status")

# The search index: its first pass (logged by the server), then the lengths.
for _ in $(seq 1200); do grep -q "start and length known" "$dir/out.log" && break; sleep 0.5; done
first_pass=$(sed -n 's/^search index: \([0-9]*\) takes, first pass in \([0-9.]*\) s$/\1 takes in \2 s/p' "$dir/out.log")
lengths=$(sed -n "s/^search index: every take's start and length known \([0-9.]*\) s after the start$/\1/p" "$dir/out.log")
search() { for _ in $(seq 10); do timed "api/search?$1"; done | median; }
word=$(search "q=witness")
found_word=$(jq length "$dir/answer")
two=$(search "q=guest%20choir")
week=$(search "room=room-042&from=2026-11-09&to=2026-11-15")
found_week=$(jq length "$dir/answer")
everything=$(search "")

echo "fleet: bucket of 30,000 takes, 3,000 notes and 100 heartbeats filled in ${fill} s"
echo "  /api/rooms ($count rooms): first ${rooms_first} s, median of 10 more ${rooms_median} s"
echo "  one room's day ($takes takes): first ${day_first} s, median of 10 more ${day_median} s;" \
  "10 other days, each asked once: median ${other_days} s"
echo "  fleet server peak memory: ${hwm_api} kB after the listings, ${hwm} kB after 8 take downloads"
echo "  search index: first pass ${first_pass:-not done}; every start and length known after ${lengths:-?} s"
echo "  search (median of 10): a word ${word} s ($found_word answers), two words ${two} s," \
  "a room's week ${week} s ($found_week answers), everything ${everything} s"
