#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Notes and holds on a real S3 gateway (scripts/with-s3.sh):
# 1. in a bucket made with Object Lock, a note set on the recorder's page is
#    the object NAME.note beside the archived take, and clearing it deletes
#    that object; a held take's object gets the legal hold, and deleting
#    that object's version with the recorder's own keys is refused;
# 2. the 24-hour rule after archiving removes the take not held and keeps
#    the held one; a lifted hold is lifted in the store too;
# 3. in a bucket without Object Lock, a hold is said to be kept here only.
#
# $1 = the built Somorabox. Runs inside scripts/with-pulse.sh.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exe=${1:?usage: test_archive_marks_pulse.sh path/to/Somorabox}
if [ -z "${SOMORA_S3_ENDPOINT:-}" ]; then
  exec "$here/../../scripts/with-s3.sh" bash "$0" "$@"
fi
. "$here/lib/program.sh"
. "$here/lib/wait.sh"
. "$here/lib/sound.sh"

top=$(mktemp -d /tmp/somora-marks.XXXXXX)
pid=""
cleanup() {
  [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$top"
}
trap cleanup EXIT
work=$top
fail() {
  echo "test_archive_marks: FAIL: $*" >&2
  show_recorder_logs "$work"
  exit 1
}
require_sound
server=$(sound_server)

# The store as a second client sees it (boto3).
store() {
  python3 - "$@" <<'PY'
import sys, boto3, botocore
cmd, bucket, key = sys.argv[1], sys.argv[2], sys.argv[3] if len(sys.argv) > 3 else ""
import os
s3 = boto3.client("s3", endpoint_url=os.environ["SOMORA_S3_ENDPOINT"], region_name="us-east-1",
                  aws_access_key_id=os.environ["SOMORA_S3_ACCESS_KEY"],
                  aws_secret_access_key=os.environ["SOMORA_S3_SECRET_KEY"])
try:
    if cmd == "locked-bucket":
        s3.create_bucket(Bucket=bucket, ObjectLockEnabledForBucket=True)
    elif cmd == "note":
        print(s3.get_object(Bucket=bucket, Key=key)["Body"].read().decode("utf-8"), end="")
    elif cmd == "hold":
        print(s3.get_object_legal_hold(Bucket=bucket, Key=key)["LegalHold"]["Status"])
    elif cmd == "delete-version":
        version = s3.head_object(Bucket=bucket, Key=key)["VersionId"]
        s3.delete_object(Bucket=bucket, Key=key, VersionId=version)
        print("deleted")
except botocore.exceptions.ClientError as e:
    print("error " + e.response["Error"]["Code"])
PY
}
note_is() { [ "$(store note "$bucket" "$1")" = "$2" ]; }
hold_is() { [ "$(store hold "$bucket" "$1")" = "$2" ]; }

bucket=marks-locked
store locked-bucket "$bucket" | grep . && fail "cannot make a bucket with Object Lock"

mkdir -p "$top/app/record" "$top/config" "$top/runtime"
chmod 700 "$top/runtime"
copy_program "$exe" "$top/app" || fail "cannot copy $exe"
configure() {  # BUCKET
  {
    printf '[Settings]\nSamplingRate=22050\n'
    printf '[Archive]\nEndpoint=%s\nBucket=%s\nPrefix=room\nAccessKey=%s\nSecretKey=%s\n' \
      "$SOMORA_S3_ENDPOINT" "$1" "$SOMORA_S3_ACCESS_KEY" "$SOMORA_S3_SECRET_KEY"
  } >"$top/app/config.ini"
}
tone() {  # NAME FREQUENCY
  sox -n "${SOUND_FORMAT[@]}" "$top/app/record/$1" synth 1 sine "$2" gain -6 || fail "sox"
}
start() {
  run_program "$top" "$server" --headless --web 127.0.0.1:0 >>"$top/out.log" 2>>"$top/err.log" &
  pid=$!
  local n
  n=$(($(grep -c '^web page on ' "$top/out.log" 2>/dev/null) + 1))
  wait_line '^web page on ' "$n"
  url=$(grep '^web page on ' "$top/out.log" | tail -n1 | awk '{print $4}')
}
stop() {
  kill -TERM "$pid"
  wait_exit "$pid" 50 || fail "the recorder did not end"
  pid=""
}
# admin METHOD PATH [BODY]: the HTTP status of a request with the password.
admin() {
  curl -s -o /dev/null -w '%{http_code}' -X "$1" -u admin:58316024 --data-binary "${3-}" \
    -H 'Content-Type: text/plain; charset=utf-8' "${url}${2#/}"
}

# --- 1. A note and a hold reach the store.
configure "$bucket"
held=PLEN20200103120000.wav
noted=PLEN20200103121000.wav
tone "$held" 440
tone "$noted" 660
key() { local n=${1%.wav}; echo "room/${n:4:4}/${n:8:2}/${n:10:2}/$n.$2"; }
note='Sunday service — guest speaker «1/2»'
start
[ "$(admin PUT "/takes/$noted/note" "$note")" = 204 ] || fail "the note was not set"
[ "$(admin PUT "/takes/$held/hold")" = 204 ] || fail "the hold was not set"
[ "$(admin DELETE "/takes/$held")" = 409 ] || fail "a held take was deleted through the page"
curl -s "${url}api/takes" | jq -e --arg n "$note" \
  "map(select(.name == \"$noted\"))[0].note == \$n and (map(select(.name == \"$held\"))[0].held)" >/dev/null ||
  fail "/api/takes does not show the note and the hold"
wait_line "^archived $held -> $bucket/$(key "$held" flac) "
wait_line "^archived $noted -> $bucket/$(key "$noted" flac) "
wait_for 300 note_is "$(key "$noted" note)" "$note" || fail "the note object is not the note"
wait_for 300 hold_is "$(key "$held" flac)" ON || fail "no legal hold on the held take's object"
[ "$(store delete-version "$bucket" "$(key "$held" flac)")" = "error AccessDenied" ] ||
  fail "the held object's version could be deleted"
# Cleared: the note object goes.
[ "$(admin PUT "/takes/$noted/note" "")" = 204 ] || fail "the note was not cleared"
wait_for 300 note_is "$(key "$noted" note)" "error NoSuchKey" || fail "the note object is still there"
stop

# --- 2. The 24-hour rule keeps the held take; a lifted hold is lifted there.
touch -d '3 days ago' "$top/app/record/$held" "$top/app/record/$noted"
start
wait_line "^removed $noted "
[ -f "$top/app/record/$held" ] || fail "the held take was removed"
[ -f "$top/app/record/${held%.wav}.hold" ] || fail "the hold went"
[ "$(admin DELETE "/takes/$held/hold")" = 204 ] || fail "the hold was not lifted"
wait_for 300 hold_is "$(key "$held" flac)" OFF || fail "the legal hold is still on"
stop

# --- 3. A bucket without Object Lock: the hold stays here, said once.
bucket=$SOMORA_S3_BUCKET
configure "$bucket"
plain=PLEN20200104120000.wav
tone "$plain" 550
start
wait_line "^archived $plain -> "
[ "$(admin PUT "/takes/$plain/hold")" = 204 ] || fail "the hold was not set"
wait_line "^archive: the bucket $bucket has no Object Lock; holds are kept here only$"
[ "$(admin DELETE "/takes/$plain")" = 409 ] || fail "a take held here only was deleted"
stop

echo "test_archive_marks_pulse: ok"
