#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The archive and the alerts, end to end: the headless recorder beside the
# private sound server and a private S3 store (scripts/with-s3.sh), at the
# default settings plus [Archive] and [Alerts]:
# 1. a take older than 24 hours that the store refuses (a wrong secret:
#    "archive refused: SignatureDoesNotMatch") survives the clean-up; with
#    the right secret it is archived, and only then removed;
# 2. speech becomes takes, each in the bucket as FLAC whose decoded samples
#    are the take's, read back by a second S3 client;
# 3. the gateway stopped while takes are made: the queue grows, the state
#    lines say so, and afterwards every take is there once;
# 4. kill -9 during an upload: after the restart the take is archived once
#    and complete;
# 5. a webhook on 127.0.0.1 gets "input_lost" once after the sound server is
#    killed, and "input_back" when it returns.
#
# $1 = the built Somorabox. Runs inside scripts/with-pulse.sh; starts the
# store itself when none is given.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
exe=${1:?usage: test_archive_pulse.sh path/to/Somorabox}
if [ -z "${SOMORA_S3_ENDPOINT:-}" ]; then
  exec "$here/../../scripts/with-s3.sh" bash "$0" "$@"
fi
. "$here/lib/program.sh"
. "$here/lib/wait.sh"
. "$here/../../scripts/lib/sound-server.sh"
. "$here/../../scripts/lib/s3-store.sh"

work=$(mktemp -d /tmp/somora-archive.XXXXXX)
pid=""
player=""
hook=""

stop_program() {
  [ -n "$pid" ] || return 0
  kill -"${1:-TERM}" "$pid" 2>/dev/null
  wait_for 100 gone "$pid" || kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  pid=""
}
cleanup() {
  [ -n "$player" ] && kill "$player" 2>/dev/null && wait "$player" 2>/dev/null
  [ -n "$hook" ] && kill "$hook" 2>/dev/null && wait "$hook" 2>/dev/null
  stop_program
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "test_archive: FAIL: $*" >&2
  show_recorder_logs "$work"
  echo "--- webhook:" >&2
  cat "$work/hook.log" >&2 2>/dev/null
  exit 1
}

. "$here/lib/sound.sh"
require_sound
command -v s3cmd >/dev/null || fail "s3cmd is missing (scripts/deps.sh installs it)"
server=$(sound_server)

make_speech "$work" 12
make_silence "$work" 1
make_silence "$work" 5
sox "$work/sil1.wav" "$work/speech12.wav" "$work/take.wav" || fail "sox concat"
sox "$work/sil1.wav" "$work/speech12.wav" "$work/sil5.wav" "$work/speech12.wav" "$work/twice.wav" || fail "sox concat"

mkdir -p "$work/app/record" "$work/config" "$work/runtime"
chmod 700 "$work/runtime"
copy_program "$exe" "$work/app" || fail "cannot copy $exe"
prefix=room-a
# Takes made by this script, not by speech.
old=PLEN20200101120000.wav
sox -n "${SOUND_FORMAT[@]}" "$work/app/record/$old" synth 2 whitenoise gain -12 || fail "sox noise"
touch -d '3 days ago' "$work/app/record/$old"

config() {  # SECRET [extra lines]
  {
    printf '[Settings]\nSamplingRate=22050\n'
    printf '[Archive]\nEndpoint=%s\nBucket=%s\nPrefix=%s\nAccessKey=%s\nSecretKey=%s\n' \
      "$SOMORA_S3_ENDPOINT" "$SOMORA_S3_BUCKET" "$prefix" "$SOMORA_S3_ACCESS_KEY" "$1"
    printf '%s\n' "${@:2}"
  } >"$work/app/config.ini"
}
start_program() {
  run_program "$work" "$server" --headless "$@" >>"$work/out.log" 2>>"$work/err.log" &
  pid=$!
}
key_of() {  # NAME → the object key
  local n=${1%.wav}
  echo "$prefix/${n:4:4}/${n:8:2}/${n:10:2}/$n.flac"
}
# Fails unless the object of take NAME decodes to the take's samples.
check_object() {
  local name=$1
  rm -f "$work/got.flac"
  s3_client get "s3://$SOMORA_S3_BUCKET/$(key_of "$name")" "$work/got.flac" >/dev/null 2>&1 ||
    fail "the second client cannot read $(key_of "$name")"
  cmp -s <(sox "$work/got.flac" -t raw -) <(sox "$work/app/record/$name" -t raw -) ||
    fail "the archived $name does not decode to the take's samples"
}
journal_count() { grep -c "^$1	" "$work/app/archive.journal" 2>/dev/null; }

# --- 1. A wrong secret: refused, the old take stays; the web page says so.
config wrong-secret
start_program --web 127.0.0.1:0
wait_line '^archive refused: SignatureDoesNotMatch$'
wait_line '^web page on '
url=$(grep '^web page on ' "$work/out.log" | tail -n1 | awk '{print $4}')
# The line and the page's state come from the same signal, one after the other.
refused_on_page() {
  status=$(curl -sf "${url}api/status") && [ "$(jq -r .archive.state <<<"$status")" = "refused: SignatureDoesNotMatch" ]
}
wait_for 30 refused_on_page || fail "status: $status"
[ "$(jq -r .archive.queued <<<"$status")" = 1 ] || fail "status: $status"
[ -f "$work/app/record/$old" ] || fail "an unarchived take was removed by the clean-up"
grep -q "^removed $old" "$work/out.log" && fail "the unarchived take was reported removed"
stop_program
config "$SOMORA_S3_SECRET_KEY"
start_program --web 127.0.0.1:0
wait_line "^archived $old -> $SOMORA_S3_BUCKET/$(key_of "$old") ([0-9]* bytes)$"
wait_line "^removed $old "
[ ! -f "$work/app/record/$old" ] || fail "the archived old take was not removed"

# --- 2. Speech becomes a take in the bucket.
play_venue "$work/take.wav"
wait_line '^kept ' 1 40
stop_player
first=$(grep '^kept ' "$work/out.log" | head -n1 | awk '{print $2}')
wait_line "^archived $first -> "
check_object "$first"
url=$(grep '^web page on ' "$work/out.log" | tail -n1 | awk '{print $4}')
[ "$(curl -sf "${url}api/takes" | jq -r ".[] | select(.name == \"$first\") | .archived")" = true ] ||
  fail "the page does not mark $first archived"

# --- 3. The gateway away while two takes are made.
s3_gateway_stop
play_venue "$work/twice.wav"
wait_line '^kept ' 2 40
wait_line '^archive unreachable: '
wait_line '^archive behind: 1 takes, '
wait_line '^kept ' 3 40
wait_line '^archive behind: 2 takes, [0-9.]* MB, oldest PLEN'
stop_player
s3_gateway_start || fail "the gateway did not start again"
wait_line '^archive reachable again$' 1 90
mapfile -t kept < <(grep '^kept ' "$work/out.log" | awk '{print $2}')
for name in "${kept[@]}"; do
  wait_line "^archived $name -> " 1 30
  [ "$(journal_count "$name")" = 1 ] || fail "$name is in the journal $(journal_count "$name") times"
done
check_object "${kept[2]}"
listed=$(s3_client ls -r "s3://$SOMORA_S3_BUCKET/$prefix/" | grep -c '\.flac$')
[ "$listed" = $((${#kept[@]} + 1)) ] || fail "the bucket lists $listed takes, expected $((${#kept[@]} + 1))"
stop_program

# --- 4. kill -9 in the middle of an upload.
big=PLEN20200102120000.wav
sox -n "${SOUND_FORMAT[@]}" "$work/app/record/$big" synth 60 whitenoise gain -6 || fail "sox noise"
config "$SOMORA_S3_SECRET_KEY" 'MaxKBps=1000'
start_program
port=${SOMORA_S3_ENDPOINT##*:}
uploading=""
for _ in $(seq 300); do
  ss -Htnp state established "dport = :$port" 2>/dev/null | grep -q "pid=$pid," && { uploading=1; break; }
  sleep 0.1
done
[ -n "$uploading" ] || fail "no upload of $big was seen"
grep -q "^archived $big" "$work/out.log" && fail "the upload ended before it could be cut off"
stop_program KILL
[ "$(journal_count "$big")" = 0 ] || fail "a cut-off upload is in the journal"
config "$SOMORA_S3_SECRET_KEY"
start_program
wait_line "^archived $big -> " 1 60
[ "$(journal_count "$big")" = 1 ] || fail "$big is in the journal $(journal_count "$big") times"
check_object "$big"
[ -z "$(ls -A "$work/app/archive-upload" 2>/dev/null)" ] || fail "copies for the upload were left behind"
stop_program

# --- 5. The webhook hears of a lost input once, and of its return.
hookport=$(s3_free_port) || fail "no free port"
python3 -u -c '
import http.server, sys
class H(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers["Content-Length"]))
        print(body.decode(), flush=True)
        self.send_response(204); self.end_headers()
    def log_message(self, *a): pass
http.server.HTTPServer(("127.0.0.1", int(sys.argv[1])), H).serve_forever()
' "$hookport" >"$work/hook.log" 2>"$work/hook.err" &
hook=$!
config "$SOMORA_S3_SECRET_KEY" '[Alerts]' "Webhook=http://127.0.0.1:$hookport/hook" 'InputLostSeconds=3'
start_program
wait_hook() {  # EVENT [N]
  for _ in $(seq 300); do
    [ "$(grep -c "\"event\":\"$1\"" "$work/hook.log")" -ge "${2:-1}" ] && return 0
    sleep 0.1
  done
  fail "the webhook got no '$1' (#${2:-1})"
}
wait_hook started
lost=$(($(grep -c '^input lost: ' "$work/out.log") + 1))
server_stop KILL
wait_line '^input lost: ' "$lost"
wait_hook input_lost
server_start || fail "the sound server did not start again"
wait_hook input_back
[ "$(grep -c '"event":"input_lost"' "$work/hook.log")" = 1 ] || fail "input_lost was sent more than once"
grep '"event":"input_lost"' "$work/hook.log" | grep -q "\"host\":\"$(hostname)\"" || fail "no host in the message"
stop_program
wait_hook stopped
# The killed sound server is reported by the capture device; nothing else.
! grep -v '^capture device: ' "$work/err.log" || fail "the program wrote to standard error"

echo "test_archive_pulse: ok (${#kept[@]} spoken takes and 2 made ones archived)"
