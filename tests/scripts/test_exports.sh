#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The shipped program holds no test doubles, and the executable exports
# nothing of its own: the window module takes the core from the core library.
# $1: the built Somorabox.
set -euo pipefail
exe=${1:?usage: test_exports.sh path/to/Somorabox}
dir=$(dirname "$exe")
fail() { echo "FAIL: $*" >&2; exit 1; }
for f in "$exe" "$dir/libsomorabox_core.so" "$dir/libsomorabox_window.so"; do
  if nm -C "$f" | grep -E 'platform::Fake|testing_support' >/dev/null; then
    fail "$f holds test doubles"
  fi
done
exported=$(nm -D --defined-only "$exe" | wc -l)
[ "$exported" -le 40 ] || fail "the executable exports $exported symbols"
readelf -d "$exe" | grep -q 'RUNPATH.*\$ORIGIN' || fail "the executable does not look beside itself for its libraries"
echo "exports: $exported symbols, no test doubles"
