# SPDX-License-Identifier: GPL-3.0-or-later
# Shared by the scripted sound tests (sourced, not run). The caller defines
# fail() and runs inside scripts/with-pulse.sh.
. "$(dirname "${BASH_SOURCE[0]}")/xvfb.sh"

# The recording format of the takes, for sox.
SOUND_FORMAT=(-r 22050 -c 2 -b 16)

# Fails unless the sound tools and the private sound server are there.
require_sound() {
  local tool
  for tool in espeak-ng sox paplay pactl od; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/deps.sh installs it)"
  done
  pactl info >/dev/null 2>&1 || fail "no sound server: run this test through scripts/with-pulse.sh"
}

# The server's address, for a program that is given a runtime folder of its own.
sound_server() {
  echo "unix:${PULSE_RUNTIME_PATH:-$XDG_RUNTIME_DIR/pulse}/native"
}

# Writes DIR/dense.wav (speech with its pauses cut to 0.2 s, loud but not
# clipped) and DIR/speechN.wav (that speech repeated and cut to N seconds).
make_speech() {
  local dir=$1 seconds=$2
  local text="The quick brown fox jumps over the lazy dog while the band plays on the stage tonight. \
Seven singers sing songs of summer and every voice rises over the music of the evening. \
Recording starts as soon as the sound rises above the quiet of the room before it."
  espeak-ng -s 190 -w "$dir/raw.wav" "$text" || fail "espeak-ng could not speak"
  sox "$dir/raw.wav" "${SOUND_FORMAT[@]}" "$dir/dense.wav" silence -l 1 0.05 1% -1 0.2 1% gain -n -3 \
    || fail "sox could not prepare the speech"
  sox "$dir/dense.wav" "$dir/speech$seconds.wav" repeat 6 trim 0 "$seconds" || fail "sox repeat"
}

# Writes DIR/silN.wav, N seconds of silence.
make_silence() {
  sox -n "${SOUND_FORMAT[@]}" "$1/sil$2.wav" trim 0 "$2" || fail "sox silence"
}

# play_venue FILE: plays FILE into the line input in the background; its
# PID is in player until stop_player ends it.
play_venue() {
  paplay -d venue "$1" 2>/dev/null &
  player=$!
}
stop_player() {
  [ -n "${player:-}" ] && kill "$player" 2>/dev/null
  wait "$player" 2>/dev/null
  player=""
}

# rerun_in_xvfb SCRIPT EXE: SCRIPT run again with EXE on a virtual X display
# (SOMORA_IN_XVFB set), given this sound server's address, in place of this
# shell.
rerun_in_xvfb() {
  PULSE_SERVER=$(sound_server)
  export PULSE_SERVER
  local rc=0
  SOMORA_IN_XVFB=1 run_in_xvfb bash "$1" "$2" || rc=$?
  exit "$rc"
}
