#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a command beside a private one-node object store on 127.0.0.1: a
# monitor, one OSD in memory and an S3 gateway, all plain processes of this
# script, no systemd, no block devices. The command gets
#   SOMORA_S3_ENDPOINT  http://127.0.0.1:PORT
#   SOMORA_S3_BUCKET, SOMORA_S3_ACCESS_KEY, SOMORA_S3_SECRET_KEY
#   SOMORA_S3_DIR       the store's folder (configuration, logs, pid files)
# and may stop and start the gateway through scripts/lib/s3-store.sh
# (s3_gateway_stop, s3_gateway_start). Everything is stopped by its process
# id at the end; the exit code is the command's.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export SOMORA_S3_DIR
SOMORA_S3_DIR=$(mktemp -d /tmp/somora-s3.XXXXXX)
. "$here/lib/s3-store.sh"
cleanup() {
  s3_store_stop
  rm -rf "$SOMORA_S3_DIR"
}
trap cleanup EXIT
s3_store_start || { echo "with-s3: the store did not start (logs in $SOMORA_S3_DIR)" >&2; tail -n 20 "$SOMORA_S3_DIR"/*.log >&2; exit 1; }
"$@"
