#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a command beside a sound server of its own: the private PulseAudio of
# scripts/with-pulse.sh, or the private PipeWire of scripts/with-pipewire.sh
# when SOMORA_SOUND_SERVER is pipewire. ctest starts every test that goes
# through the sound server (scripts named *_pulse, programs named *_alsa)
# this way: each has its server in a runtime folder of its own, so tests
# that run side by side never hear each other, and a test that kills its
# server kills no other test's. Listing a test program's cases
# (--gtest_list_tests, at build time) needs no server and gets none.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
case " $* " in
  *" --gtest_list_tests "*) exec "$@" ;;
esac
case ${SOMORA_SOUND_SERVER:-pulseaudio} in
  pulseaudio) exec "$here/with-pulse.sh" "$@" ;;
  pipewire) exec "$here/with-pipewire.sh" "$@" ;;
  *)
    echo "with-sound: SOMORA_SOUND_SERVER is '$SOMORA_SOUND_SERVER', not pulseaudio or pipewire" >&2
    exit 1
    ;;
esac
