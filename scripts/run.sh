#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the recorder and starts it from run/, which keeps config.ini and
# record/ across rebuilds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh build -DSOMORA_TESTS=OFF -DSOMORA_BENCH=OFF
mkdir -p run
# The executable, its core library, the window module it loads and the
# manual, each replaced in one step.
for f in Somorabox libsomorabox_core.so libsomorabox_window.so manual.html; do
  cp "build/$f" "run/$f.new"
  mv -f "run/$f.new" "run/$f"
done
exec run/Somorabox "$@"
