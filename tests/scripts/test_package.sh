#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package: scripts/package.sh builds it; its file list and control
# fields are checked (Depends from dpkg-shlibdeps); lintian finds no error in
# it and appstreamcli finds its metainfo valid; it is unpacked with
# dpkg -x into a throwaway root, and the unpacked program replays a generated
# FLAC file. It runs where it cannot write beside itself (as nobody, or in a
# read-only folder), so config.ini and record/ go to $XDG_DATA_HOME/somorabox/.
#
# $1 (the built Somorabox) is not used: the package has a build of its own.
set -uo pipefail
source=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d /tmp/somora-package.XXXXXX)
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT

fail() {
  echo "test_package: FAIL: $*" >&2
  exit 1
}

deb=$("$source/scripts/package.sh" "$work/out" 2>"$work/package.log" | tail -n 1)
[ -f "$deb" ] || { cat "$work/package.log" >&2; fail "scripts/package.sh made no package"; }

version=$(sed -n 's/^project(Somorabox VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")
arch=$(dpkg --print-architecture)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
[ "$(basename "$deb")" = "somorabox_${version}_${arch}.deb" ] || fail "package named $(basename "$deb")"

# Control fields.
[ "$(dpkg-deb -f "$deb" Package)" = somorabox ] || fail "Package: $(dpkg-deb -f "$deb" Package)"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "Version: $(dpkg-deb -f "$deb" Version)"
[ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "Architecture: $(dpkg-deb -f "$deb" Architecture)"
depends=$(dpkg-deb -f "$deb" Depends)
# The libraries the program links, each with the version shlibdeps found.
for lib in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libasound2 libsndfile1 libjpeg62-turbo; do
  grep -Eq "(^|, )$lib \(>= [^)]+\)" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
grep -q somorabox <<<"$depends" && fail "Depends names the package's own library: $depends"
recommends=$(dpkg-deb -f "$deb" Recommends)
grep -q 'libasound2-plugins | pipewire-alsa' <<<"$recommends" || fail "Recommends: $recommends"

# Debian's own checks: errors fail (README lists the warnings kept).
lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 || fail "lintian: $(grep -v '^running with root' "$work/lintian.log")"

# The file list.
dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|' >"$work/files"
for f in /usr/bin/somorabox \
  "/usr/lib/$multiarch/somorabox/libsomorabox_window.so" "/usr/lib/$multiarch/somorabox/libsomorabox_core.so" \
  /usr/share/applications/somorabox.desktop /usr/share/icons/hicolor/256x256/apps/somorabox.png \
  /usr/share/icons/hicolor/48x48/apps/somorabox.png /usr/lib/systemd/user/somorabox.service \
  /usr/share/man/man1/somorabox.1.gz /usr/share/metainfo/example.somorabox.Somorabox.metainfo.xml \
  /usr/share/doc/somorabox/copyright /usr/share/doc/somorabox/changelog.gz; do
  grep -qx "$f" "$work/files" || fail "the package lacks $f"
done
grep -E '^/usr/(local|src)|/build' "$work/files" && fail "files outside the system's folders"

root=$work/root
dpkg -x "$deb" "$root" || fail "dpkg -x failed"
grep -qx 'ExecStart=/usr/bin/somorabox --headless' "$root/usr/lib/systemd/user/somorabox.service" ||
  fail "the user unit does not start /usr/bin/somorabox --headless"
grep -qx 'Exec=somorabox' "$root/usr/share/applications/somorabox.desktop" || fail "desktop entry: no Exec=somorabox"
grep -qx 'Icon=somorabox' "$root/usr/share/applications/somorabox.desktop" || fail "desktop entry: no Icon=somorabox"
appstreamcli validate-tree --no-net "$root" >"$work/appstream.log" 2>&1 || fail "metainfo: $(cat "$work/appstream.log")"
zcat "$root/usr/share/man/man1/somorabox.1.gz" | grep -q '^\.SH OPTIONS' || fail "the man page has no options"
[ "$(identify -format '%wx%h' "$root/usr/share/icons/hicolor/256x256/apps/somorabox.png")" = 256x256 ] || fail "the icon is not 256 x 256"

# A FLAC file: a second of quiet, twelve of tone, four of quiet: one take.
sox -n -r 22050 -c 1 -b 24 "$work/in.flac" synth 1 whitenoise vol 0.001 : synth 12 sine 440 vol 0.3 : \
  synth 4 whitenoise vol 0.001 || fail "sox could not make the input"
data=$work/data
mkdir -p "$data" "$work/home"
chmod 755 "$work" "$work/in.flac"
run=(env -i PATH=/usr/bin:/bin HOME="$work/home" XDG_DATA_HOME="$data" XDG_RUNTIME_DIR="$work/home"
  "$root/usr/bin/somorabox" --replay "$work/in.flac" --start "2026-12-07 10:00:00")
if [ "$(id -u)" -eq 0 ]; then
  # root may write anywhere: the program runs as nobody.
  chown -R nobody "$data" "$work/home"
  run=(runuser -u nobody -- "${run[@]}")
else
  chmod a-w "$root/usr/bin"
fi
"${run[@]}" >"$work/replay.out" 2>"$work/replay.err"
code=$?
[ "$code" -eq 0 ] || fail "replay ended with $code: $(cat "$work/replay.err")"
grep -q '^kept PLEN20261207100001\.wav 1[0-9]\.[0-9] s$' "$work/replay.out" || fail "take lines: $(cat "$work/replay.out")"
[ -f "$data/somorabox/record/PLEN20261207100001.wav" ] || fail "no take in \$XDG_DATA_HOME/somorabox/record/"
[ -z "$(ls "$root/usr/bin" | grep -v '^somorabox$')" ] || fail "the program wrote beside itself: $(ls "$root/usr/bin")"
echo "test_package: OK ($(basename "$deb"))"
