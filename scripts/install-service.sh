#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs deploy/somorabox.service as a systemd user unit that runs the
# recorder without a window from this checkout's run/ folder.
# The unit goes to ${XDG_CONFIG_HOME:-~/.config}/systemd/user/.
set -euo pipefail
cd "$(dirname "$0")/.."
run_dir=$PWD/run
if [ ! -x "$run_dir/Somorabox" ]; then
  echo "install-service: $run_dir/Somorabox is missing; build it first with: scripts/run.sh --help" >&2
  exit 1
fi
case $run_dir in
  *[[:space:]%]*)
    echo "install-service: the path $run_dir holds blanks or '%', which the unit file cannot take as it is" >&2
    exit 1
    ;;
esac
units=${XDG_CONFIG_HOME:-$HOME/.config}/systemd/user
mkdir -p "$units"
sed "s|@RUN_DIR@|$run_dir|g" deploy/somorabox.service >"$units/somorabox.service.new"
mv -f "$units/somorabox.service.new" "$units/somorabox.service"
echo "installed $units/somorabox.service (runs $run_dir/Somorabox --headless)"
if command -v systemctl >/dev/null && systemctl --user daemon-reload 2>/dev/null; then
  echo "enable and start it with: systemctl --user enable --now somorabox"
else
  echo "no systemd user manager here; in a user session run: systemctl --user daemon-reload && systemctl --user enable --now somorabox"
fi
