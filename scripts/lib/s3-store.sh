# SPDX-License-Identifier: GPL-3.0-or-later
# The private object store of scripts/with-s3.sh (sourced, not run): a Ceph
# monitor, one OSD in memory and the S3 gateway, all on 127.0.0.1, in the
# folder $SOMORA_S3_DIR. The daemons' process ids are kept in that folder so
# that a test can stop the gateway and start it again.

s3_free_port() {
  local port
  for _ in $(seq 50); do
    port=$((20000 + RANDOM % 20000))
    ss -Hltn "sport = :$port" 2>/dev/null | grep -q . || { echo "$port"; return 0; }
  done
  return 1
}

s3_ceph() { ceph -c "$SOMORA_S3_DIR/ceph.conf" "$@"; }

# Starts a daemon as a plain background command so that $! is its own id.
s3_daemon() {
  local name=$1
  shift
  "$@" >>"$SOMORA_S3_DIR/$name.out" 2>&1 &
  echo $! >"$SOMORA_S3_DIR/$name.pid"
}

s3_gateway_start() {
  s3_daemon rgw radosgw -c "$SOMORA_S3_DIR/ceph.conf" -f -n client.rgw
  local i
  for i in $(seq 300); do
    curl -s -o /dev/null "$SOMORA_S3_ENDPOINT/" && return 0
    kill -0 "$(cat "$SOMORA_S3_DIR/rgw.pid")" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# Stops the gateway by its process id (SIGTERM, or the signal given).
s3_gateway_stop() {
  local pid
  pid=$(cat "$SOMORA_S3_DIR/rgw.pid" 2>/dev/null) || return 0
  kill "-${1:-TERM}" "$pid" 2>/dev/null
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$pid" 2>/dev/null
  rm -f "$SOMORA_S3_DIR/rgw.pid"
}

# Starts the store; a start that fails (a port taken meanwhile, a monitor
# that does not answer) is stopped and tried again with other ports.
s3_store_start() {
  local try
  for try in 1 2 3; do
    s3_store_start_once && return 0
    echo "s3-store: start $try failed; trying again" >>"$SOMORA_S3_DIR/setup.log"
    s3_store_stop
    find "$SOMORA_S3_DIR" -mindepth 1 -maxdepth 1 ! -name setup.log -exec rm -rf {} +
  done
  return 1
}

s3_store_start_once() {
  local dir=$SOMORA_S3_DIR fsid uuid monport rgwport
  fsid=$(cat /proc/sys/kernel/random/uuid)
  monport=$(s3_free_port) || return 1
  rgwport=$(s3_free_port) || return 1
  [ "$rgwport" != "$monport" ] || rgwport=$((monport + 1))
  mkdir -p "$dir/mon" "$dir/osd" "$dir/run" "$dir/rgw"
  cat >"$dir/ceph.conf" <<CONF
[global]
fsid = $fsid
mon host = v2:127.0.0.1:$monport
auth cluster required = none
auth service required = none
auth client required = none
ms mon client mode = crc
run dir = $dir/run
admin socket = $dir/run/\$name.asok
log file = $dir/\$name.log
pid file = $dir/run/\$name.pidfile
osd pool default size = 1
osd pool default min size = 1
osd pool default pg num = 8
osd pool default pgp num = 8
mon allow pool size one = true
mon max pg per osd = 1000
mon warn on pool no redundancy = false
paxos propose interval = 0.01
paxos min wait = 0.001
osd objectstore = memstore
memstore device bytes = 4294967296
osd data = $dir/osd
rgw frontends = beast endpoint=127.0.0.1:$rgwport
rgw thread pool size = 32
rgw data = $dir/rgw
[mon.a]
mon data = $dir/mon
CONF
  export SOMORA_S3_ENDPOINT="http://127.0.0.1:$rgwport"
  export SOMORA_S3_BUCKET=somora-takes
  export SOMORA_S3_ACCESS_KEY=SOMORATESTACCESS
  export SOMORA_S3_SECRET_KEY=somora-test-secret-key-0123456789
  monmaptool --create --fsid "$fsid" --addv a "[v2:127.0.0.1:$monport]" "$dir/monmap" >>"$dir/setup.log" 2>&1 || return 1
  ceph-mon -c "$dir/ceph.conf" --mkfs -i a --monmap "$dir/monmap" >>"$dir/setup.log" 2>&1 || return 1
  s3_daemon mon ceph-mon -c "$dir/ceph.conf" -f -i a
  uuid=$(cat /proc/sys/kernel/random/uuid)
  local id
  id=$(timeout 20 ceph -c "$dir/ceph.conf" osd new "$uuid" 2>>"$dir/setup.log") || return 1
  ceph-osd -c "$dir/ceph.conf" --mkfs -i "$id" --osd-uuid "$uuid" >>"$dir/setup.log" 2>&1 || return 1
  s3_daemon osd ceph-osd -c "$dir/ceph.conf" -f -i "$id"
  local up=""
  for _ in $(seq 300); do
    if timeout 10 ceph -c "$dir/ceph.conf" osd stat 2>/dev/null | grep -q ' 1 up'; then up=1; break; fi
    sleep 0.1
  done
  [ -n "$up" ] || return 1
  s3_gateway_start || return 1
  radosgw-admin -c "$dir/ceph.conf" user create --uid somora --display-name somora \
    --access-key "$SOMORA_S3_ACCESS_KEY" --secret-key "$SOMORA_S3_SECRET_KEY" >>"$dir/setup.log" 2>&1 || return 1
  s3_client mb "s3://$SOMORA_S3_BUCKET" >>"$dir/setup.log" 2>&1 || return 1
}

# The second S3 client of the tests, on the private store.
s3_client() {
  s3cmd --no-ssl --host="${SOMORA_S3_ENDPOINT#http://}" --host-bucket="${SOMORA_S3_ENDPOINT#http://}" \
    --access_key="$SOMORA_S3_ACCESS_KEY" --secret_key="$SOMORA_S3_SECRET_KEY" --region=us-east-1 \
    -c /dev/null "$@"
}

s3_store_stop() {
  local name pid
  for name in rgw osd mon; do
    pid=$(cat "$SOMORA_S3_DIR/$name.pid" 2>/dev/null) || continue
    kill -TERM "$pid" 2>/dev/null
  done
  for name in rgw osd mon; do
    pid=$(cat "$SOMORA_S3_DIR/$name.pid" 2>/dev/null) || continue
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    rm -f "$SOMORA_S3_DIR/$name.pid"
  done
}
