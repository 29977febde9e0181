#!/usr/bin/env bash
# The package's control fields, and a Depends list that brings everything the
# dashboard loads: its shared libraries, every QML module its documents import,
# the graphical effects the gauge styles import, and the font.
#   deb-metadata.sh DEB_DIR SOURCE_DIR
set -euo pipefail
# shellcheck source-path=SCRIPTDIR
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
depends=$(field Depends | tr ',|' '\n' | sed 's/(.*)//; s/^ *//; s/ *$//' | grep -v '^$' | sort -u)
require() {
    grep -qx "$1" <<<"$depends" || fail "Depends lacks $1 ($2); Depends is: $(field Depends)"
}

for package in qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-controls \
               qml-module-qtquick-extras qml-module-qtgraphicaleffects fonts-dejavu-core; do
    require "$package" "the scene needs it"
done

# Which installed package holds each path ("path package" lines); one dpkg query, as each is slow.
owners() { dpkg -S "$@" 2>/dev/null | sed 's/^\([^:]*\):[^ ]* \(.*\)$/\2 \1/' || true; }
owner_in() { awk -v path="$2" '$1 == path { print $2; exit }' <<<"$1"; }

# Whatever a document imports must come with the package, including imports added later.
qml_dir=/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/qt5/qml
imports=$(sed -n 's/^import \([A-Za-z][A-Za-z.]*\) \([0-9]*\)\..*/\1 \2/p' "$source_dir"/qml/*.qml |
    grep -v '^vorel\.wireless ' | sort -u)
[ -n "$imports" ] || fail "found no imports of Qt modules in $source_dir/qml"
qmldir_of() { local module=$qml_dir/${1//.//}; echo "$module.$2/qmldir"; echo "$module/qmldir"; }
mapfile -t qmldirs < <(while read -r uri major; do qmldir_of "$uri" "$major"; done <<<"$imports")
known=$(owners "${qmldirs[@]}")
while read -r uri major; do
    package=""
    for qmldir in $(qmldir_of "$uri" "$major"); do
        [ -n "$package" ] || package=$(owner_in "$known" "$qmldir")
    done
    [ -n "$package" ] || fail "no installed package provides the QML module $uri $major"
    require "$package" "the documents import $uri"
done <<<"$imports"

# Every shared library the executable links to directly must be depended on.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work"
needed=$(readelf -d "$work/usr/bin/Motrel" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
[ -n "$needed" ] || fail "the packaged executable names no shared library"
resolved=$(ldd "$work/usr/bin/Motrel")
path_of() { awk -v lib="$1" '$1 == lib { print $3 }' <<<"$resolved"; }
# dpkg knows a library by the path it shipped, which a merged /usr may hide behind a link.
mapfile -t library_paths < <(for library in $needed; do
    path=$(path_of "$library")
    [ -z "$path" ] || realpath "$path"
    echo "$path"
done)
known=$(owners "${library_paths[@]}")
for library in $needed; do
    path=$(path_of "$library")
    [ -n "$path" ] || fail "$library is not found on this machine"
    package=$(owner_in "$known" "$path")
    [ -n "$package" ] || package=$(owner_in "$known" "$(realpath "$path")")
    [ -n "$package" ] || fail "no installed package provides $path"
    require "$package" "the executable links $library"
done
echo "control fields and Depends as expected"
