#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Every text of the window has its English translation: lupdate reads app/
# into a copy of each .ts file, and a text without a translation (new,
# changed, or left unfinished) fails.
#   check_translations.sh path/to/lupdate
set -uo pipefail
lupdate=${1:?usage: $0 path/to/lupdate}
source=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d /tmp/somora-ts.XXXXXX)
trap 'rm -rf "$work"' EXIT
status=0
for ts in "$source"/app/translations/*.ts; do
  copy=$work/$(basename "$ts")
  cp "$ts" "$copy"
  (cd "$source" && "$lupdate" -I . -locations none -no-obsolete app -ts "$copy") >"$work/lupdate.log" 2>&1 ||
    { cat "$work/lupdate.log" >&2; exit 1; }
  untranslated=$(grep -B1 'type="unfinished"' "$copy" | sed -n 's|.*<source>\(.*\)</source>.*|\1|p')
  if [ -n "$untranslated" ]; then
    echo "$(basename "$ts"): no translation for:" >&2
    echo "$untranslated" >&2
    status=1
  fi
done
[ $status -eq 0 ] && echo "check_translations: OK"
exit $status
