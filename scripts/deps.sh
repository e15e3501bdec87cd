#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages that building, running and testing need.
# Quiet and quick when everything is there already.
#   scripts/deps.sh           everything
#   scripts/deps.sh --build   what building and running the program needs
#   scripts/deps.sh --tests   what only the tests need (sound servers, the
#                             browser, the object store, the package checks)
# scripts/test.sh installs the first, then the second in the background
# while it builds.
set -euo pipefail

# Building and running.
PACKAGES=(
  build-essential cmake ninja-build pkg-config ccache libimagequant-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev qt6-tools-dev qt6-l10n-tools
  libasound2-dev libjpeg62-turbo-dev libsndfile1-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-wqy-zenhei fonts-liberation fonts-dejavu-core libasound2-plugins
  libcpp-httplib-dev libssl-dev openssl libcurl4-openssl-dev
  libopusenc-dev libopus-dev prometheus-cpp-dev cmark-gfm libsqlite3-dev
)
# The tests only.
TEST_PACKAGES=(
  pulseaudio pulseaudio-utils alsa-utils
  pipewire pipewire-pulse wireplumber dbus
  espeak-ng sox xvfb xauth x11-utils xdotool imagemagick time
  chromium chromium-driver curl jq e2fsprogs flac strace opus-tools prometheus
  lintian appstream
  ceph-mon ceph-osd radosgw ceph-common s3cmd iproute2 python3-boto3
)

case ${1:-} in
  --build) wanted=("${PACKAGES[@]}") ;;
  --tests) wanted=("${TEST_PACKAGES[@]}") ;;
  "") wanted=("${PACKAGES[@]}" "${TEST_PACKAGES[@]}") ;;
  *) echo "usage: scripts/deps.sh [--build | --tests]" >&2; exit 2 ;;
esac

missing=()
for p in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
# dpkg does not sync each unpacked file to the disk (much of the time of a
# fresh machine's installs); after a power cut during them, install again.
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
  -o Dpkg::Options::=--force-unsafe-io "${missing[@]}" >/dev/null
