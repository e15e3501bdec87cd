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
#     clients fetched one take each at once.
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
            s3.put_object(Bucket=bucket, Key='%s/%s/PLEN%s.flac' % (name, day.strftime('%Y/%m/%d'), stamp), Body=body,
                          Metadata={'start': '%sT%02d:%02d:00+01:00' % (day.isoformat(), 8 + t, r % 60), 'length': '61.250'})
with concurrent.futures.ThreadPoolExecutor(16) as pool:
    list(pool.map(room, range(100)))
PY
fill=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN {printf "%.0f", b - a}')

mkdir -p "$dir/app" "$dir/runtime"
chmod 700 "$dir/runtime"
copy_program "$exe" "$dir/app"
printf '[Archive]\nEndpoint=%s\nBucket=%s\nAccessKey=%s\nSecretKey=%s\n[Fleet]\nListen=127.0.0.1:0\n' \
  "$SOMORA_S3_ENDPOINT" "$SOMORA_S3_BUCKET" "$SOMORA_S3_ACCESS_KEY" "$SOMORA_S3_SECRET_KEY" >"$dir/app/config.ini"
(cd "$dir/app" && exec env XDG_RUNTIME_DIR="$dir/runtime" ./Somorabox --fleet) >"$dir/out.log" 2>"$dir/err.log" &
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

echo "fleet: bucket of 30,000 takes and 100 heartbeats filled in ${fill} s"
echo "  /api/rooms ($count rooms): first ${rooms_first} s, median of 10 more ${rooms_median} s"
echo "  one room's day ($takes takes): first ${day_first} s, median of 10 more ${day_median} s;" \
  "10 other days, each asked once: median ${other_days} s"
echo "  fleet server peak memory: ${hwm_api} kB after the listings, ${hwm} kB after 8 take downloads"
