#!/usr/bin/env bash
# The package installs exactly the executable, the desktop entry, the icon in
# every size the desktop asks for, and the kiosk unit, with the right modes.
#   deb-files.sh DEB_DIR
set -euo pipefail
# shellcheck source-path=SCRIPTDIR
. "$(dirname "$0")/lib.sh"

deb=$(the_deb "$1")
listing=$(dpkg-deb -c "$deb")

icons=""
for size in 16 24 32 48 64 128 256; do
    icons+="-rw-r--r-- ./usr/share/icons/hicolor/${size}x${size}/apps/motrel.png"$'\n'
done
same_lines "the package's files (mode path)" \
"-rwxr-xr-x ./usr/bin/Motrel
-rw-r--r-- ./usr/share/applications/motrel.desktop
${icons}-rw-r--r-- ./usr/share/icons/hicolor/scalable/apps/motrel.svg
-rw-r--r-- ./usr/lib/systemd/system/motrel-kiosk.service" \
    "$(awk '$1 !~ /^d/ { print $1, $6 }' <<<"$listing")"

owners=$(awk '{ print $2 }' <<<"$listing" | sort -u)
[ "$owners" = root/root ] || fail "files are not owned by root: $owners"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work"
# Stripped: the package ships no debug information.
! readelf -S "$work/usr/bin/Motrel" | grep -q '\.debug_info' || fail "the executable is not stripped"
for size in 16 24 32 48 64 128 256; do
    actual=$(/usr/bin/identify -format '%wx%h' "$work/usr/share/icons/hicolor/${size}x${size}/apps/motrel.png")
    [ "$actual" = "${size}x${size}" ] || fail "the ${size}x${size} icon is $actual"
done

entry=$work/usr/share/applications/motrel.desktop
need desktop-file-validate desktop-file-utils
desktop-file-validate "$entry" || fail "the desktop entry is not valid"
grep -qx 'Exec=Motrel' "$entry" || fail "the desktop entry does not start Motrel from PATH"
grep -qx 'Icon=motrel' "$entry" || fail "the desktop entry does not name the motrel icon"
echo "package files as expected"
