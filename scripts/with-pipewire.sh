#!/usr/bin/env bash
# Runs a command beside a private PipeWire (pipewire, wireplumber and
# pipewire-pulse on a D-Bus session bus of its own) with the same two null
# sinks as scripts/with-pulse.sh: "speakers", the default sink, and "venue",
# the line input, whose monitor is the default source. ALSA's default device
# reaches it through the pulse plugin, as it reaches PulseAudio. Every
# process is stopped by its own id at the end.
set -uo pipefail
runtime=$(mktemp -d /tmp/somora-pipewire.XXXXXX)
export XDG_RUNTIME_DIR=$runtime
# wireplumber remembers default devices under XDG_STATE_HOME: keep that private too.
export XDG_STATE_HOME=$runtime/state
export SOMORA_SOUND_SERVER=pipewire
unset PULSE_SERVER PIPEWIRE_REMOTE
pids=()
cleanup() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null
    wait "${pids[i]}" 2>/dev/null
  done
  [ -n "${bus_pid:-}" ] && kill "$bus_pid" 2>/dev/null
  rm -rf "$runtime"
}
trap cleanup EXIT

bus_pid=$(dbus-daemon --session --fork --address="unix:path=$runtime/bus" --print-pid=1) || {
  echo "with-pipewire: no D-Bus session bus" >&2
  exit 1
}
export DBUS_SESSION_BUS_ADDRESS=unix:path=$runtime/bus

pipewire >"$runtime/pipewire.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do
  [ -S "$runtime/pipewire-0" ] && break
  sleep 0.1
done
wireplumber >"$runtime/wireplumber.log" 2>&1 &
pids+=($!)
pipewire-pulse >"$runtime/pipewire-pulse.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  pactl info >/dev/null 2>&1 && break
  sleep 0.1
done
if ! pactl info >/dev/null 2>&1; then
  echo "with-pipewire: the sound server did not start" >&2
  cat "$runtime"/*.log >&2
  exit 1
fi
pactl load-module module-null-sink sink_name=speakers >/dev/null
pactl load-module module-null-sink sink_name=venue >/dev/null
# The sinks appear a moment after their modules load.
for _ in $(seq 50); do
  pactl list short sources | grep -q 'venue.monitor' && pactl list short sinks | grep -q 'speakers' && break
  sleep 0.1
done
pactl set-default-sink speakers
pactl set-default-source venue.monitor
for _ in $(seq 50); do
  pactl info | grep -q '^Default Source: venue.monitor$' && pactl info | grep -q '^Default Sink: speakers$' && break
  sleep 0.1
done
"$@"
