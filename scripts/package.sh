#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package somorabox_<version>_<arch>.deb: a release build
# for /usr in build-package/, then CPack's DEB generator (Depends from
# dpkg-shlibdeps). The package is put into the folder given (default: the
# checkout), and its path is printed.
#   scripts/package.sh [output folder]
#   sudo apt install ./somorabox_0.1_amd64.deb
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-.}")
scripts/deps.sh
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
dir=build-package
# Debian's build flags, hardening included (fortified functions, stack
# protector, read-only relocations, immediate binding).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
  -DCMAKE_SHARED_LINKER_FLAGS="$ldflags" -DCMAKE_MODULE_LINKER_FLAGS="$ldflags" \
  -DSOMORA_TESTS=OFF -DSOMORA_BENCH=OFF -DSOMORA_SANITIZE=OFF >/dev/null
ninja -C "$dir" -j"${SOMORA_JOBS:-2}" >/dev/null
rm -f "$dir"/somorabox_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
deb=$(ls "$dir"/somorabox_*.deb)
mkdir -p "$out"
cp "$deb" "$out/"
echo "$out/$(basename "$deb")"
