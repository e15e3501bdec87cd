#!/usr/bin/env bash
# Runs a command beside a private PulseAudio with two null sinks, as a
# machine has them: "speakers", the default sink, where the recorder plays,
# and "venue", the line input, whose monitor is the default source (tests
# play their sound into it). ALSA's default device reaches the server through
# the pulse plugin. The server is stopped by its own process id at the end.
set -uo pipefail
runtime=$(mktemp -d /tmp/somora-pulse.XXXXXX)
# Clients find the server through XDG_RUNTIME_DIR; a program that is given a
# runtime folder of its own finds no sound server unless PULSE_SERVER is set.
export XDG_RUNTIME_DIR=$runtime
export SOMORA_SOUND_SERVER=pulseaudio
unset PULSE_SERVER
pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm=yes \
  --load=module-native-protocol-unix \
  --load="module-null-sink sink_name=speakers" \
  --load="module-null-sink sink_name=venue" >"$runtime/pulse.log" 2>&1 &
pa_pid=$!
cleanup() {
  kill "$pa_pid" 2>/dev/null
  wait "$pa_pid" 2>/dev/null
  rm -rf "$runtime"
}
trap cleanup EXIT
for _ in $(seq 50); do
  pactl info >/dev/null 2>&1 && break
  sleep 0.1
done
if ! pactl info >/dev/null 2>&1; then
  echo "with-pulse: the sound server did not start" >&2
  cat "$runtime/pulse.log" >&2
  exit 1
fi
pactl set-default-sink speakers
pactl set-default-source venue.monitor
"$@"
