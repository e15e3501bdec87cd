#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a command beside a private PipeWire (pipewire, wireplumber and
# pipewire-pulse on a D-Bus session bus of its own) with the same two null
# sinks as scripts/with-pulse.sh: "speakers", the default sink, and "venue",
# the line input, whose monitor is the default source. ALSA's default device
# reaches it through the pulse plugin, as it reaches PulseAudio. Every
# process is stopped by its own id at the end (a test may kill the server and
# start it again meanwhile through scripts/lib/sound-server.sh; the bus stays).
set -uo pipefail
runtime=$(mktemp -d /tmp/somora-pipewire.XXXXXX)
export XDG_RUNTIME_DIR=$runtime
# wireplumber remembers default devices under XDG_STATE_HOME: keep that private too.
export XDG_STATE_HOME=$runtime/state
export SOMORA_SOUND_SERVER=pipewire
unset PULSE_SERVER PIPEWIRE_REMOTE
. "$(dirname "$0")/lib/sound-server.sh"
cleanup() {
  server_stop TERM
  [ -n "${bus_pid:-}" ] && kill "$bus_pid" 2>/dev/null
  rm -rf "$runtime"
}
trap cleanup EXIT

bus_pid=$(dbus-daemon --session --fork --address="unix:path=$runtime/bus" --print-pid=1) || {
  echo "with-pipewire: no D-Bus session bus" >&2
  exit 1
}
export DBUS_SESSION_BUS_ADDRESS=unix:path=$runtime/bus
server_start || exit 1
"$@"
