#!/usr/bin/env bash
# Builds the recorder and starts it from run/, which keeps config.ini and
# record/ across rebuilds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh build -DSOMORA_TESTS=OFF -DSOMORA_BENCH=OFF
mkdir -p run
cp build/Somorabox run/Somorabox.new
mv -f run/Somorabox.new run/Somorabox
exec run/Somorabox "$@"
