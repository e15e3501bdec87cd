#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The archive on a real S3 gateway (scripts/with-s3.sh) when the store is not
# the recorder's alone:
# 1. two recorders (two machine identities, one prefix) hold a take of the
#    same name: neither replaces the other's object, one goes beside it as
#    NAME-2.flac and says so, and the shared prefix is said on the state
#    line and in /api/status;
# 2. a bucket policy denies one take's key: that take is set aside
#    ("archive refused NAME: AccessDenied") and kept past the clean-up, the
#    next take is archived;
# 3. the gateway stopped (SIGSTOP) during an upload: SIGTERM ends the
#    recorder within 5 s, and the next start archives the take once.
#
# $1 = the built Somorabox. Runs inside scripts/with-pulse.sh, as root (the
# second machine's identity is a machine-id bound in a mount namespace).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exe=${1:?usage: test_archive_shared_pulse.sh path/to/Somorabox}
if [ -z "${SOMORA_S3_ENDPOINT:-}" ]; then
  exec "$here/../../scripts/with-s3.sh" bash "$0" "$@"
fi
. "$here/lib/program.sh"
. "$here/lib/wait.sh"
. "$here/../../scripts/lib/s3-store.sh"

top=$(mktemp -d /tmp/somora-shared.XXXXXX)
pid=""
pidb=""
rgw=""
cleanup() {
  [ -n "$rgw" ] && kill -CONT "$rgw" 2>/dev/null
  for p in $pid $pidb; do kill -KILL "$p" 2>/dev/null && wait "$p" 2>/dev/null; done
  rm -rf "$top"
}
trap cleanup EXIT
work=$top/a
fail() {
  echo "test_archive_shared: FAIL: $*" >&2
  for w in "$top/a" "$top/b"; do echo "=== $w" >&2; show_recorder_logs "$w"; done
  exit 1
}

. "$here/lib/sound.sh"
require_sound
server=$(sound_server)
prefix=shared
key_of() {  # NAME [COPY] → the object key
  local n=${1%.wav}
  echo "$prefix/${n:4:4}/${n:8:2}/${n:10:2}/$n${2:+-$2}.flac"
}
setup() {  # DIR [extra config lines]
  mkdir -p "$1/app/record" "$1/config" "$1/runtime"
  chmod 700 "$1/runtime"
  copy_program "$exe" "$1/app" || fail "cannot copy $exe"
  {
    printf '[Settings]\nSamplingRate=22050\n'
    printf '[Archive]\nEndpoint=%s\nBucket=%s\nPrefix=%s\nAccessKey=%s\nSecretKey=%s\n' \
      "$SOMORA_S3_ENDPOINT" "$SOMORA_S3_BUCKET" "$prefix" "$SOMORA_S3_ACCESS_KEY" "$SOMORA_S3_SECRET_KEY"
    printf '%s\n' "${@:2}"
  } >"$1/app/config.ini"
}
tone() {  # DIR NAME FREQUENCY SECONDS
  sox -n "${SOUND_FORMAT[@]}" "$1/app/record/$2" synth "$4" sine "$3" gain -6 || fail "sox"
}

# --- 1. One name, two machines.
same=PLEN20200103120000.wav
setup "$top/a"
setup "$top/b"
tone "$top/a" "$same" 440 2
tone "$top/b" "$same" 880 2
printf '0123456789abcdef0123456789abcdef\n' >"$top/machine-id-b"
run_program "$top/a" "$server" --headless --web 127.0.0.1:0 >"$top/a/out.log" 2>"$top/a/err.log" &
pid=$!
wait_line "^archived $same -> "
unshare --mount --propagation private bash -c \
  'mount --bind "$1" /etc/machine-id && shift && . "$0" && run_program "$@"' \
  "$here/lib/program.sh" "$top/machine-id-b" "$top/b" "$server" --headless >"$top/b/out.log" 2>"$top/b/err.log" &
pidb=$!
work=$top/b
pid_a=$pid
pid=$pidb
wait_line "^archive key taken: $(key_of "$same") holds another recording; $same goes to $(key_of "$same" 2)$"
wait_line "^archived $same -> $SOMORA_S3_BUCKET/$(key_of "$same" 2) "
wait_line "^archive prefix shared with another machine: $prefix$"
for copy in "" 2; do
  s3_client get "s3://$SOMORA_S3_BUCKET/$(key_of "$same" $copy)" "$top/got$copy.flac" >/dev/null 2>&1 ||
    fail "cannot read $(key_of "$same" $copy)"
done
cmp -s <(sox "$top/got.flac" -t raw -) <(sox "$top/a/app/record/$same" -t raw -) || fail "the first object is not a's take"
cmp -s <(sox "$top/got2.flac" -t raw -) <(sox "$top/b/app/record/$same" -t raw -) || fail "NAME-2 is not b's take"
# a hears of b at its next heartbeat, or when it starts again after b's
# last one.
kill -TERM "$pid_a"
wait_exit "$pid_a" 50 || fail "a did not end"
stop_pid "$pidb" 50
pidb=""
work=$top/a
run_program "$top/a" "$server" --headless --web 127.0.0.1:0 >>"$top/a/out.log" 2>>"$top/a/err.log" &
pid=$!
wait_line "^archive prefix shared with another machine: $prefix$"
wait_line '^web page on ' 2
url=$(grep '^web page on ' "$work/out.log" | tail -n1 | awk '{print $4}')
# The line and the page's state come from the same signal, one after the other.
status_says_shared() {
  curl -sf "${url}api/status" | jq -r .archive.state | grep -qF "archive prefix shared with another machine: $prefix"
}
wait_for 30 status_says_shared || fail "/api/status does not say the prefix is shared"
kill -TERM "$pid"
wait_exit "$pid" 50 || fail "a did not end"
pid=""

# --- 2. A policy denies one key; the queue goes on.
denied=PLEN20200104120000.wav
next=PLEN20200104120500.wav
tone "$top/a" "$denied" 500 2
tone "$top/a" "$next" 600 2
touch -d '3 days ago' "$top/a/app/record/$denied" "$top/a/app/record/$next"
cat >"$top/policy.json" <<POLICY
{"Version":"2012-10-17","Statement":[{"Effect":"Deny","Principal":{"AWS":["*"]},"Action":"s3:PutObject",
 "Resource":"arn:aws:s3:::$SOMORA_S3_BUCKET/$(key_of "$denied")"}]}
POLICY
s3_client setpolicy "$top/policy.json" "s3://$SOMORA_S3_BUCKET" >/dev/null 2>&1 || fail "cannot set the bucket policy"
run_program "$top/a" "$server" --headless >>"$top/a/out.log" 2>>"$top/a/err.log" &
pid=$!
wait_line "^archive refused $denied: AccessDenied$"
wait_line "^archived $next -> "
wait_line "^removed $next "
[ -f "$top/a/app/record/$denied" ] || fail "the refused take was removed"
grep -q '^archive refused: ' "$top/a/out.log" && fail "one refused object held the whole archive"
s3_client delpolicy "s3://$SOMORA_S3_BUCKET" >/dev/null 2>&1

# --- 3. The gateway stopped during an upload.
big=PLEN20200105120000.wav
sox -n "${SOUND_FORMAT[@]}" "$top/a/app/record/$big" synth 60 whitenoise gain -6 || fail "sox noise"
kill -TERM "$pid"
wait_exit "$pid" 50 || fail "a did not end"
sed -i 's/^\[Archive\]$/[Archive]\nMaxKBps=1000/' "$top/a/app/config.ini"
run_program "$top/a" "$server" --headless >>"$top/a/out.log" 2>>"$top/a/err.log" &
pid=$!
port=${SOMORA_S3_ENDPOINT##*:}
sending() {  # the copy is made and a connection to the store is open
  compgen -G "$top/a/app/archive-upload/*.flac" >/dev/null &&
    ss -Htnp state established "dport = :$port" 2>/dev/null | grep -q "pid=$pid,"
}
uploading=""
wait_for 300 sending && uploading=1
[ -n "$uploading" ] || fail "no upload of $big was seen"
rgw=$(cat "$SOMORA_S3_DIR/rgw.pid")
kill -STOP "$rgw"
kill -TERM "$pid"
wait_exit "$pid" 50 || fail "the recorder did not end within 5 s of SIGTERM with the gateway stopped"
pid=""
kill -CONT "$rgw"
rgw=""
sed -i '/^MaxKBps=/d' "$top/a/app/config.ini"
run_program "$top/a" "$server" --headless >>"$top/a/out.log" 2>>"$top/a/err.log" &
pid=$!
wait_line "^archived $big -> $SOMORA_S3_BUCKET/$(key_of "$big") " 1 60
[ "$(grep -c "^$big	" "$top/a/app/archive.journal")" = 1 ] || fail "$big is not in the journal once"
[ "$(s3_client ls -r "s3://$SOMORA_S3_BUCKET/$prefix/" | grep -c "${big%.wav}")" = 1 ] || fail "$big is in the bucket twice"
kill -TERM "$pid"
wait_exit "$pid" 50 || fail "a did not end"
pid=""

echo "test_archive_shared_pulse: ok"
