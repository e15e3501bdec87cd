#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Starts the recorder under Xvfb in a temporary folder and writes a PNG of
# the screen: scripts/screenshot.sh [out.png] [seconds to wait]
# SOMORA_RECORD_DIR=folder puts a copy of that folder in as record/.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-screenshot.png}")
wait_s=${2:-3}
[ -x build/Somorabox ] || scripts/build.sh build >/dev/null
dir=$(mktemp -d /tmp/somora-shot.XXXXXX)
cp build/Somorabox build/libsomorabox_core.so build/libsomorabox_window.so "$dir/"
[ -n "${SOMORA_RECORD_DIR:-}" ] && cp -a "$SOMORA_RECORD_DIR" "$dir/record"
export XDG_RUNTIME_DIR=$dir/runtime XDG_CONFIG_HOME=$dir/config
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
xvfb-run -a -s "-screen 0 1024x768x24" bash -c "
  QT_QPA_PLATFORM=xcb '$dir/Somorabox' & pid=\$!
  sleep $wait_s
  import -window root '$out'
  kill \$pid; wait \$pid 2>/dev/null || true"
rm -rf "$dir"
echo "$out"
