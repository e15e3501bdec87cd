#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Notes, holds, search and share links of the fleet page against the private
# S3 store: three takes put in the bucket, --fleet over it; a note set with
# the password is the note object in the store and is shown after a restart;
# the search finds a take by a word of its note and by a time range, and
# hostile queries get an answer or a 400; a hold in a bucket without Object
# Lock is refused with 409, and in one with it the store keeps the take from
# DeleteObject until the hold is lifted, and the search shows a hold set in
# the store by other hands; a share link plays its take (Range)
# without the password, refuses any other, and a link past its end (410) or
# made under a replaced key (403) is refused.
#
# $1 = the built Somorabox. Starts the store itself when none is given.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exe=${1:?usage: test_fleet_notes.sh path/to/Somorabox}
if [ -z "${SOMORA_S3_ENDPOINT:-}" ]; then
  exec "$here/../../scripts/with-s3.sh" bash "$0" "$@"
fi
. "$here/lib/program.sh"
. "$here/lib/wait.sh"

work=$(mktemp -d /tmp/somora-fleet-notes.XXXXXX)
pid=""
cleanup() {
  [ -n "$pid" ] && stop_pid "$pid" 50
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "test_fleet_notes: FAIL: $*" >&2
  cat "$work/out.log" >&2 2>/dev/null
  tail -n 20 "$work/err.log" >&2 2>/dev/null
  exit 1
}
for tool in curl jq python3; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/deps.sh installs it)"
done

s3py() {  # python with `s3` and `bucket` set
  python3 -c "
import boto3, os, sys
s3 = boto3.client('s3', endpoint_url=os.environ['SOMORA_S3_ENDPOINT'], region_name='us-east-1',
                  aws_access_key_id=os.environ['SOMORA_S3_ACCESS_KEY'],
                  aws_secret_access_key=os.environ['SOMORA_S3_SECRET_KEY'])
bucket = os.environ['SOMORA_S3_BUCKET']
$1" "${@:2}"
}

t1=PLEN20261115100000.flac   # room-a, 15 November 10:00
t2=PLEN20261116090000.flac   # room-a, 16 November 09:00
t3=PLEN20261115110000.flac   # room-b, 15 November 11:00
head -c 40000 /dev/urandom >"$work/t1.bin"
s3py "
for key, start in (('room-a/2026/11/15/$t1', '2026-11-15T10:00:00+01:00'),
                   ('room-a/2026/11/16/$t2', '2026-11-16T09:00:00+01:00'),
                   ('room-b/2026/11/15/$t3', '2026-11-15T11:00:00+01:00')):
    s3.put_object(Bucket=bucket, Key=key, Body=open('$work/t1.bin', 'rb').read(),
                  Metadata={'start': start, 'length': '12.500'})
" || fail "cannot fill the bucket"

mkdir -p "$work/app" "$work/config" "$work/cache" "$work/runtime"
chmod 700 "$work/runtime"
copy_program "$exe" "$work/app" || fail "cannot copy $exe"
printf '[Settings]\npassword=notes-pw\n[Archive]\nEndpoint=%s\nBucket=%s\nAccessKey=%s\nSecretKey=%s\n[Fleet]\nListen=127.0.0.1:0\nIndexSeconds=5\n' \
  "$SOMORA_S3_ENDPOINT" "$SOMORA_S3_BUCKET" "$SOMORA_S3_ACCESS_KEY" "$SOMORA_S3_SECRET_KEY" >"$work/app/config.ini"
start_fleet() {
  : >"$work/out.log"
  (cd "$work/app" && exec env XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache" \
    XDG_RUNTIME_DIR="$work/runtime" ./Somorabox --fleet) >>"$work/out.log" 2>>"$work/err.log" &
  pid=$!
  wait_url "$work/out.log" 's/^fleet page on \(http:[^ ]*\) .*/\1/p' || fail "the fleet did not start"
}
restart_fleet() {
  stop_pid "$pid" 50
  pid=""
  start_fleet
}
start_fleet
[ "$(stat -c %a "$work/app/fleet-share.key")" = 600 ] || fail "the share key is not 0600"
api() { curl -s --max-time 10 "$url$1"; }
code() { curl -s --max-time 10 -o /dev/null -w '%{http_code}' "${@:2}" "$url$1"; }
auth=(-u ":notes-pw")

# --- A note: the password is needed; with it the note object is in the store.
note='Sunday service, guest speaker «主日礼拜»'
[ "$(code "rooms/room-a/takes/$t1/note" -X PUT --data-binary "$note")" = 401 ] || fail "a note without the password"
[ "$(code "rooms/room-a/takes/$t1/note" -X PUT "${auth[@]}" --data-binary "$note")" = 204 ] || fail "the note was refused"
stored=$(s3py "print(s3.get_object(Bucket=bucket, Key='room-a/2026/11/15/${t1%.flac}.note')['Body'].read().decode())") ||
  fail "no note object in the store"
[ "$stored" = "$note" ] || fail "the note object holds '$stored'"
[ "$(code "rooms/room-a/takes/$t1/note" -X PUT "${auth[@]}" --data-binary "$(head -c 501 /dev/zero | tr '\0' x)")" = 400 ] ||
  fail "a note of 501 characters was taken"
[ "$(code "rooms/room-a/takes/PLEN20261115100001.flac/note" -X PUT "${auth[@]}" --data-binary x)" = 404 ] ||
  fail "a note for a take that is not there"
[ "$(code "rooms/room-a/takes/$t1/hold" -X PUT "${auth[@]}")" = 409 ] || fail "a hold without Object Lock was not 409"

# --- Search: by a word of the note, by a time range (after the first pass).
searched() { api "api/search?$1" | jq -e "$2" >/dev/null; }
wait_for 200 searched "" 'length == 3' || fail "the index has $(api api/search)"
wait_for 50 searched "q=guest" "length == 1 and .[0].name == \"$t1\" and .[0].room == \"room-a\"" ||
  fail "search by a word found $(api "api/search?q=guest")"
searched "q=%E4%B8%BB%E6%97%A5" "length == 1" || fail "search by two Chinese characters found $(api "api/search?q=%E4%B8%BB%E6%97%A5")"
wait_for 100 searched "from=2026-11-16&to=2026-11-16" "length == 1 and .[0].name == \"$t2\" and .[0].seconds == 12.5" ||
  fail "the 16th has $(api "api/search?from=2026-11-16&to=2026-11-16")"
wait_for 100 searched "from=2026-11-15T09:30:00%2B00:00&to=2026-11-15T10:30:00Z" "length == 1 and .[0].name == \"$t3\"" ||
  fail "the instants 09:30-10:30 UTC have $(api "api/search?from=2026-11-15T09:30:00%2B00:00&to=2026-11-15T10:30:00Z")"
searched "room=room-a" "map(.name) == [\"$t2\", \"$t1\"]" || fail "room-a, newest first: $(api "api/search?room=room-a")"
for q in '"' '"guest' 'NEAR(guest speaker)' 'guest AND OR NOT' '*' 'note:guest' '(((' "'; DROP TABLE takes; --" '%' '_'; do
  c=$(code "api/search" -G --data-urlencode "q=$q")
  [ "$c" = 200 ] || fail "the query '$q' was answered $c"
done
# Longer than a note: 400; longer than an address may be (8 KB): 414.
c=$(code "api/search" -G --data-urlencode "q=$(head -c 600 /dev/zero | tr "\0" a)")
[ "$c" = 400 ] || fail "a query of 600 characters: $c"
c=$(code "api/search" -G --data-urlencode "q=$(head -c 10240 /dev/zero | tr "\0" a)")
[ "$c" = 414 ] || fail "a query of 10 KB: $c"
[ "$(code "api/search?from=yesterday")" = 400 ] || fail "a bad time"
searched "q=guest" "length == 1" || fail "the index was harmed by the queries"

# --- Share links.
[ "$(code "rooms/room-a/takes/$t1/share?days=31" -X POST "${auth[@]}")" = 400 ] || fail "31 days were taken"
[ "$(code "rooms/room-a/takes/$t1/share?days=2" -X POST)" = 401 ] || fail "a share without the password"
link=$(curl -s -X POST "${auth[@]}" "${url}rooms/room-a/takes/$t1/share?days=2" | jq -r .url)
[[ "$link" == /s/* ]] || fail "the share answered '$link'"
base=${url%/}
curl -s -o "$work/shared.bin" "$base$link" && cmp -s "$work/shared.bin" "$work/t1.bin" || fail "the link does not play its take"
status=$(curl -s -o "$work/range.bin" -w '%{http_code}' -H 'Range: bytes=1000-1999' "$base$link")
[ "$status" = 206 ] && cmp -s "$work/range.bin" <(tail -c +1001 "$work/t1.bin" | head -c 1000) || fail "a Range of the link: $status"
for path in "$link/../../rooms/room-b/takes/$t3" "${link}x" "/s/${link:4:20}" "/s/"; do
  c=$(code "${path#/}" --path-as-is)
  [ "$c" != 200 ] && [ "$c" != 206 ] || fail "$path was answered $c"
done
forge() {  # ROOM NAME EXPIRES: a token under the key kept now
  python3 - "$work/app/fleet-share.key" "$@" <<'PY'
import base64, hashlib, hmac, sys
key = bytes.fromhex(open(sys.argv[1]).read().strip())
payload = ('1\n%s\n%s\n%s' % (sys.argv[2], sys.argv[3], sys.argv[4])).encode()
print('/s/' + base64.urlsafe_b64encode(payload + hmac.new(key, payload, hashlib.sha256).digest()).decode().rstrip('='))
PY
}
[ "$(code "$(forge room-a "$t1" $(($(date +%s) - 10)) | cut -c2-)")" = 410 ] || fail "a link past its end"
[ "$(code "$(forge room-b "$t3" $(($(date +%s) + 600)) | cut -c2-)")" = 200 ] || fail "a forged link under the key itself"

# --- After a restart the note is shown; after a new key the old link is refused.
restart_fleet
api "api/rooms/room-a/takes?day=2026-11-15" | jq -e --arg n "$note" '.[0].note == $n and .[0].held == false' >/dev/null ||
  fail "after a restart the day is $(api "api/rooms/room-a/takes?day=2026-11-15")"
[ "$(code "${link#/}")" = 200 ] || fail "the link died with the restart"
rm -f "$work/app/fleet-share.key"
restart_fleet
[ "$(code "${link#/}")" = 403 ] || fail "the link outlived its key"
[ "$(code "rooms/room-a/takes/$t1/note" -X PUT "${auth[@]}" --data-binary '')" = 204 ] || fail "the note was not cleared"
s3py "import botocore
try:
    s3.head_object(Bucket=bucket, Key='room-a/2026/11/15/${t1%.flac}.note'); sys.exit(1)
except botocore.exceptions.ClientError: pass" || fail "the cleared note's object is still there"

# --- A hold in a bucket made with Object Lock: the store refuses to delete
# the take, the day and the search show it, and it can be lifted.
s3py "
s3.create_bucket(Bucket='locked', ObjectLockEnabledForBucket=True)
s3.put_object(Bucket='locked', Key='room-a/2026/11/15/$t1', Body=b'take')
s3.put_object(Bucket='locked', Key='room-a/2026/11/16/$t2', Body=b'take')" || fail "cannot make the locked bucket"
sed -i 's/^Bucket=.*/Bucket=locked/' "$work/app/config.ini"
restart_fleet
[ "$(code "rooms/room-a/takes/$t1/hold" -X PUT "${auth[@]}")" = 204 ] || fail "the hold was refused"
api "api/rooms/room-a/takes?day=2026-11-15" | jq -e '.[0].held == true' >/dev/null || fail "the day does not show the hold"
s3py "
key = 'room-a/2026/11/15/$t1'
assert s3.get_object_legal_hold(Bucket='locked', Key=key)['LegalHold']['Status'] == 'ON'
version = s3.head_object(Bucket='locked', Key=key)['VersionId']
try:
    s3.delete_object(Bucket='locked', Key=key, VersionId=version)
    sys.exit(1)
except s3.exceptions.ClientError:
    pass" || fail "the held take could be deleted"
wait_for 50 searched "" "map(select(.name == \"$t1\"))[0].held == true" || fail "the search does not show the hold"
# A hold set in the store by something else (a script, the room itself)
# shows in the search without its day being viewed.
s3py "s3.put_object_legal_hold(Bucket='locked', Key='room-a/2026/11/16/$t2', LegalHold={'Status': 'ON'})" ||
  fail "cannot hold $t2 in the store"
wait_for 300 searched "" "map(select(.name == \"$t2\"))[0].held == true" ||
  fail "the search does not show a hold set in the store: $(api api/search)"
[ "$(code "rooms/room-a/takes/$t1/hold" -X DELETE "${auth[@]}")" = 204 ] || fail "the hold was not lifted"
s3py "assert s3.get_object_legal_hold(Bucket='locked', Key='room-a/2026/11/15/$t1')['LegalHold']['Status'] == 'OFF'" ||
  fail "the hold is still on in the store"
echo "test_fleet_notes: notes, search, holds and share links behave"
