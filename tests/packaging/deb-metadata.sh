#!/usr/bin/env bash
# The package's control fields, and a Depends list that brings everything the
# dashboard loads: its shared libraries, every QML module its documents import,
# the graphical effects the gauge styles import, and the font.
#   deb-metadata.sh DEB_DIR SOURCE_DIR
set -euo pipefail
. "$(dirname "$0")/lib.sh"

deb=$(the_deb "$1")
source_dir=$2
need dpkg-architecture dpkg-dev
need readelf binutils

field() { dpkg-deb -f "$deb" "$1"; }

[ "$(field Package)" = motrel ] || fail "Package is '$(field Package)', not motrel"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture is '$(field Architecture)'"
[[ $(field Version) =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "Version '$(field Version)' is not the project's version"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Description)" ] || fail "no Description"

# Every name in Depends, alternatives and version constraints dropped.
depends=$(field Depends | tr ',|' '\n\n' | sed 's/(.*)//; s/^ *//; s/ *$//' | grep -v '^$' | sort -u)
require() {
    grep -qx "$1" <<<"$depends" || fail "Depends lacks $1 ($2); Depends is: $(field Depends)"
}

for package in qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-controls \
               qml-module-qtquick-extras qml-module-qtgraphicaleffects fonts-dejavu-core; do
    require "$package" "the scene needs it"
done

# Whatever a document imports must come with the package, including imports added later.
qml_dir=/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/qt5/qml
owner() { dpkg -S "$1" 2>/dev/null | head -1 | cut -d: -f1; }
imports=$(sed -n 's/^import \([A-Za-z][A-Za-z.]*\) \([0-9]*\)\..*/\1 \2/p' "$source_dir"/qml/*.qml | sort -u)
[ -n "$imports" ] || fail "found no imports in $source_dir/qml"
while read -r uri major; do
    [ "$uri" = vorel.wireless ] && continue
    module=$qml_dir/${uri//.//}
    package=$(owner "$module.$major/qmldir" || true)
    [ -n "$package" ] || package=$(owner "$module/qmldir" || true)
    [ -n "$package" ] || fail "no installed package provides the QML module $uri $major"
    require "$package" "the documents import $uri"
done <<<"$imports"

# Every shared library the executable links to directly must be depended on.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work"
needed=$(readelf -d "$work/usr/bin/Motrel" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
[ -n "$needed" ] || fail "the packaged executable names no shared library"
for library in $needed; do
    path=$(ldd "$work/usr/bin/Motrel" | awk -v lib="$library" '$1 == lib { print $3 }')
    [ -n "$path" ] || fail "$library is not found on this machine"
    package=$(owner "$(realpath "$path")" || true)
    [ -n "$package" ] || package=$(owner "$path" || true)
    [ -n "$package" ] || fail "no installed package provides $path"
    require "$package" "the executable links $library"
done
echo "control fields and Depends as expected"
