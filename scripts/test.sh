#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the recorder and runs the tests in three passes:
# 1. build/: every test, side by side (ctest -j; they mostly wait). Each test
#    that goes through a sound server has a private PulseAudio of its own
#    (scripts/with-sound.sh), each window test an X display of its own.
# 2. The sound tests labelled both-servers once more, each beside a private
#    PipeWire of its own.
# 3. build-sanitize/, under AddressSanitizer and UndefinedBehaviorSanitizer:
#    the tests labelled sanitize, that is every test program and the
#    end-to-end scripts of the program's threads and exits (set
#    SOMORA_SKIP_SANITIZERS=1 to skip this pass). Its build runs beside
#    passes 1 and 2 at the lowest priority.
# What only the tests need is installed in the background while the build runs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --build
deps_log=$(mktemp /tmp/somora-deps.XXXXXX)
scripts/deps.sh --tests >"$deps_log" 2>&1 &
deps=$!
sanitize_build=
sanitize_log=
# Stops what still runs and keeps the script's own exit status: under set -e
# a failing command here (a kill of a build that already ended) would turn a
# green run red.
cleanup() {
  local rc=$?
  wait "$deps" 2>/dev/null || true
  if [ -n "$sanitize_build" ]; then
    kill -- -"$sanitize_build" 2>/dev/null || kill "$sanitize_build" 2>/dev/null || true
  fi
  rm -f "$deps_log" ${sanitize_log:+"$sanitize_log"}
  exit "$rc"
}
trap cleanup EXIT
# Tests mostly wait for the program, a server or a browser: more run at once
# than there are cores (those that build use two: PROCESSORS).
jobs=${SOMORA_TEST_JOBS:-$(($(nproc) * 3))}

# The tests are asked for by name: scripts/run.sh builds into the same
# folder without them, and a folder that has none must not pass as green.
scripts/build.sh build -DSOMORA_TESTS=ON -DSOMORA_BENCH=ON
wait "$deps" || { cat "$deps_log" >&2; echo "test.sh: the tests' packages did not install" >&2; exit 1; }
# The sanitizer build runs beside the first two passes, at the lowest
# priority: those tests mostly wait, and get the processor when they need it.
sanitize=0
[ "${SOMORA_SKIP_SANITIZERS:-0}" != "1" ] && sanitize=1
if [ "$sanitize" = 1 ]; then
  sanitize_log=$(mktemp /tmp/somora-sanitize-build.XXXXXX)
  # In a process group of its own, so that an early exit stops the whole build.
  # Optimised less and with line tables only: it compiles faster, and the
  # sanitizers' reports still name files and lines.
  setsid -w nice -n 19 scripts/build.sh build-sanitize -DSOMORA_SANITIZE=ON -DSOMORA_TESTS=ON -DSOMORA_BENCH=OFF \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" >"$sanitize_log" 2>&1 &
  sanitize_build=$!
fi
ctest --test-dir build --no-tests=error --output-on-failure -j "$jobs"
SOMORA_SOUND_SERVER=pipewire ctest --test-dir build --no-tests=error --output-on-failure -j "$jobs" -L both-servers

if [ "$sanitize" = 1 ]; then
  wait "$sanitize_build" || { cat "$sanitize_log" >&2; echo "test.sh: the sanitizer build failed" >&2; exit 1; }
  sanitize_build=
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-sanitize --no-tests=error --output-on-failure -j "$jobs" -L sanitize
fi
