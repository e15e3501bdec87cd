#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need.
# Quiet and quick when everything is there already.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config ccache
  qt6-base-dev qt6-base-dev-tools libgl-dev qt6-tools-dev qt6-l10n-tools
  libasound2-dev libjpeg62-turbo-dev libsndfile1-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  fonts-wqy-zenhei fonts-liberation fonts-dejavu-core
  pulseaudio pulseaudio-utils libasound2-plugins alsa-utils
  pipewire pipewire-pulse wireplumber dbus
  espeak-ng sox xvfb xauth x11-utils xdotool imagemagick time
  libcpp-httplib-dev chromium chromium-driver curl jq e2fsprogs
  libssl-dev openssl libcurl4-openssl-dev flac strace
  libopusenc-dev libopus-dev opus-tools prometheus-cpp-dev prometheus
  lintian appstream
  ceph-mon ceph-osd radosgw ceph-common s3cmd iproute2 python3-boto3
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
