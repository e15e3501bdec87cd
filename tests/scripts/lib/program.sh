# SPDX-License-Identifier: GPL-3.0-or-later
# Copies the program (the executable, its core library and the window module)
# from the build folder of EXE into FOLDER, as an installation beside the
# executable has them.
copy_program() {
  local exe=$1 folder=$2 from
  from=$(dirname "$exe")
  mkdir -p "$folder" &&
    cp "$exe" "$folder/Somorabox" &&
    cp "$from/libsomorabox_core.so" "$from/libsomorabox_window.so" "$folder/"
}

# On standard error, what a failed test of the program in WORK/app left:
# its record/ folder, its standard output (WORK/out.log) and the end of its
# standard error (WORK/err.log).
show_recorder_logs() {
  local work=$1
  echo "--- record/:" >&2
  ls -l "$work/app/record" >&2 2>/dev/null
  echo "--- standard output:" >&2
  cat "$work/out.log" >&2 2>/dev/null
  echo "--- standard error:" >&2
  tail -n 30 "$work/err.log" >&2 2>/dev/null
}

# run_program DIR SERVER ARGS...: the program copied to DIR/app, run with
# ARGS without a display, its settings in DIR/config, its runtime folder in
# DIR/runtime and the sound server SERVER. It replaces the shell it runs in:
# start it in the background (&) or in a subshell, with the caller's
# redirections, so that $! is the program itself.
run_program() {
  local dir=$1 server=$2
  shift 2
  cd "$dir/app" &&
    exec env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
      XDG_CONFIG_HOME="$dir/config" XDG_RUNTIME_DIR="$dir/runtime" PULSE_SERVER="$server" \
      ./Somorabox "$@"
}

# wait_line PATTERN [N] [SECONDS]: waits until WORK/out.log ($work) holds at
# least N (1) lines matching PATTERN, within SECONDS (30); fails (the
# caller's fail()) when the program $pid ends first or time runs out.
# shellcheck disable=SC2154  # pid and work are the caller's
wait_line() {
  local pattern=$1 n=${2:-1} seconds=${3:-30}
  for _ in $(seq $((seconds * 10))); do
    [ "$(grep -c -- "$pattern" "$work/out.log")" -ge "$n" ] && return 0
    kill -0 "$pid" 2>/dev/null || fail "the program ended while waiting for '$pattern'"
    sleep 0.1
  done
  fail "no line '$pattern' (#$n) within $seconds s"
}

# need_program NAME EXE: ends the benchmark NAME unless EXE is executable.
need_program() {
  if [ ! -x "$2" ]; then
    echo "$1: build the program first (ninja -C build Somorabox)" >&2
    exit 1
  fi
}

# build_program: configures ./build when it is not yet, and builds the
# program there (run from the checkout).
build_program() {
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
  [ -f build/build.ninja ] || cmake -S . -B build -G Ninja >/dev/null
  ninja -C build Somorabox >/dev/null
}

# window_folders DIR: DIR/config and a private DIR/runtime as the program's
# settings and runtime folders, and the X display for its window, for this
# shell and what it starts.
window_folders() {
  mkdir -p "$1/config" "$1/runtime" && chmod 700 "$1/runtime" || return 1
  export XDG_CONFIG_HOME=$1/config XDG_RUNTIME_DIR=$1/runtime QT_QPA_PLATFORM=xcb
}
