#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a command beside a private PulseAudio with two null sinks, as a
# machine has them: "speakers", the default sink, where the recorder plays,
# and "venue", the line input, whose monitor is the default source (tests
# play their sound into it). ALSA's default device reaches the server through
# the pulse plugin. The server is stopped by its own process id at the end
# (a test may kill it and start it again meanwhile through
# scripts/lib/sound-server.sh).
set -uo pipefail
runtime=$(mktemp -d /tmp/somora-pulse.XXXXXX)
# Clients find the server through XDG_RUNTIME_DIR; a program that is given a
# runtime folder of its own finds no sound server unless PULSE_SERVER is set.
export XDG_RUNTIME_DIR=$runtime
export SOMORA_SOUND_SERVER=pulseaudio
unset PULSE_SERVER
. "$(dirname "$0")/lib/sound-server.sh"
cleanup() {
  server_stop TERM
  rm -rf "$runtime"
}
trap cleanup EXIT
server_start || exit 1
"$@"
