#!/usr/bin/env bash
# The package installs exactly the executable, its manual page, the desktop entry,
# the icon in every size the desktop asks for, the kiosk unit, the licenses and the
# changelog, with the right modes;
# every program in it built for the package's architecture (this machine's
# unless given).
#   deb-files.sh DEB_DIR [ARCH]
set -euo pipefail
# shellcheck source-path=SCRIPTDIR
. "$(dirname "$0")/lib.sh"

deb=$(the_deb "$1")
arch=$(arch_or_native "${2:-}")
need file file
listing=$(dpkg-deb -c "$deb")

icons=""
for size in 16 24 32 48 64 128 256; do
    icons+="-rw-r--r-- ./usr/share/icons/hicolor/${size}x${size}/apps/motrel.png"$'\n'
done
same_lines "the package's files (mode path)" \
"-rwxr-xr-x ./usr/bin/Motrel
-rw-r--r-- ./usr/share/applications/motrel.desktop
${icons}-rw-r--r-- ./usr/share/icons/hicolor/scalable/apps/motrel.svg
-rw-r--r-- ./usr/lib/systemd/system/motrel-kiosk.service
-rw-r--r-- ./usr/share/man/man1/Motrel.1.gz
-rw-r--r-- ./usr/share/doc/motrel/copyright
-rw-r--r-- ./usr/share/doc/motrel/changelog.gz" \
    "$(awk '$1 !~ /^d/ { print $1, $6 }' <<<"$listing")"

owners=$(awk '{ print $2 }' <<<"$listing" | sort -u)
[ "$owners" = root/root ] || fail "files are not owned by root: $owners"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work"
case $arch in
    amd64) machine='ELF 64-bit LSB .*, x86-64,' ;;
    arm64) machine='ELF 64-bit LSB .*, ARM aarch64,' ;;
    armhf) machine='ELF 32-bit LSB .*, ARM, EABI5 .*interpreter /lib/ld-linux-armhf\.so\.3' ;;
    *) fail "no check of programs built for $arch" ;;
esac
programs=$(find "$work" -type f -exec file {} + | grep ': *ELF' || true)
grep -q "^$work/usr/bin/Motrel: " <<<"$programs" || fail "the executable is not an ELF file"
wrong=$(grep -v "$machine" <<<"$programs" || true)
[ -z "$wrong" ] || fail "built for another architecture than $arch: $wrong"
if [ "$arch" = armhf ]; then
    readelf -h "$work/usr/bin/Motrel" | grep -q 'hard-float ABI' || fail "the executable is not hard-float"
fi
# Stripped: the package ships no debug information.
! readelf -S "$work/usr/bin/Motrel" | grep -q '\.debug_info' || fail "the executable is not stripped"
# linuxfb is handed dirty rectangles one by one only while the executable exports its own flush.
readelf -W --dyn-syms "$work/usr/bin/Motrel" | grep -Eq ' FUNC +GLOBAL +DEFAULT +[0-9]+ _ZN13QBackingStore5flush' ||
    fail "the executable does not export its QBackingStore::flush"
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
