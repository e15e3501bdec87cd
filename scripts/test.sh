#!/usr/bin/env bash
# Builds the recorder and runs every test: once in a normal build, once
# under AddressSanitizer and UndefinedBehaviorSanitizer (without the package
# test, whose package has a release build of its own). A private PulseAudio
# runs for the tests that go through ALSA; the end-to-end sound tests
# labelled both-servers run once more beside a private PipeWire.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=$(nproc)

# The tests are asked for by name: scripts/run.sh builds into the same
# folder without them, and a folder that has none must not pass as green.
scripts/build.sh build -DSOMORA_TESTS=ON -DSOMORA_BENCH=ON
scripts/with-pulse.sh ctest --test-dir build --no-tests=error --output-on-failure -j "$jobs"
scripts/with-pipewire.sh ctest --test-dir build --no-tests=error --output-on-failure -L both-servers

if [ "${SOMORA_SKIP_SANITIZERS:-0}" != "1" ]; then
  scripts/build.sh build-sanitize -DSOMORA_SANITIZE=ON -DSOMORA_TESTS=ON -DSOMORA_BENCH=OFF
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    scripts/with-pulse.sh ctest --test-dir build-sanitize --no-tests=error --output-on-failure -j "$jobs" -E '^test_package$'
fi
