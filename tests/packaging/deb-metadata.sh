#!/usr/bin/env bash
# The package's control fields, a changelog whose newest entry is its version, and
# a Depends list that brings everything the dashboard loads: its shared libraries,
# every QML module its documents import, the graphical effects the gauge styles
# import, and the font, all of the package's architecture (this machine's unless
# given).
#   deb-metadata.sh DEB_DIR SOURCE_DIR [ARCH]
set -euo pipefail
# shellcheck source-path=SCRIPTDIR
. "$(dirname "$0")/lib.sh"

deb=$(the_deb "$1")
source_dir=$2
arch=$(arch_or_native "${3:-}")
need dpkg-architecture dpkg-dev
need readelf binutils

field() { dpkg-deb -f "$deb" "$1"; }

[ "$(field Package)" = motrel ] || fail "Package is '$(field Package)', not motrel"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture is '$(field Architecture)'"
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
# The owner, in the owners listed in $1, of the first of the paths after it that has one.
first_owner() {
    local known=$1 path package=""
    shift
    for path in "$@"; do
        [ -n "$package" ] || package=$(owner_in "$known" "$path")
    done
    printf '%s\n' "$package"
}

# Whatever a document imports must come with the package, including imports added later.
multiarch=$(dpkg-architecture -a "$arch" -qDEB_HOST_MULTIARCH 2>/dev/null)
qml_dir=/usr/lib/$multiarch/qt5/qml
# The modules the program registers itself come with it.
own=$(sed -n 's/.*qmlRegisterType<[A-Za-z]*>("\([^"]*\)".*/\1 /p' "$source_dir"/src/*.cpp | sort -u)
[ -n "$own" ] || fail "found no QML modules registered in $source_dir/src"
imports=$(sed -n 's/^import \([A-Za-z][A-Za-z.]*\) \([0-9]*\)\..*/\1 \2/p' "$source_dir"/qml/*.qml |
    grep -vF "$own" | sort -u)
[ -n "$imports" ] || fail "found no imports of Qt modules in $source_dir/qml"
qmldir_of() { local module=$qml_dir/${1//.//}; echo "$module.$2/qmldir"; echo "$module/qmldir"; }
mapfile -t qmldirs < <(while read -r uri major; do qmldir_of "$uri" "$major"; done <<<"$imports")
known=$(owners "${qmldirs[@]}")
while read -r uri major; do
    mapfile -t candidates < <(qmldir_of "$uri" "$major")
    package=$(first_owner "$known" "${candidates[@]}")
    [ -n "$package" ] || fail "no installed package provides the QML module $uri $major"
    require "$package" "the documents import $uri"
done <<<"$imports"

# Every shared library the executable links to directly must be depended on: the
# one in the architecture's multiarch folders, which dpkg knows by the path it
# shipped (/lib or /usr/lib, the same folder on a merged /usr).
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$deb" "$work"
needed=$(readelf -d "$work/usr/bin/Motrel" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
[ -n "$needed" ] || fail "the packaged executable names no shared library"
# The kiosk unit waits for Motrel's READY: one that cannot send it would be restarted for ever.
grep -qx 'libsystemd\.so\.0' <<<"$needed" || fail "the packaged executable does not link libsystemd"
library_paths() { echo "/lib/$multiarch/$1"; echo "/usr/lib/$multiarch/$1"; }
mapfile -t paths < <(for library in $needed; do library_paths "$library"; done)
known=$(owners "${paths[@]}")
for library in $needed; do
    mapfile -t candidates < <(library_paths "$library")
    package=$(first_owner "$known" "${candidates[@]}")
    [ -n "$package" ] || fail "no installed package provides $library for $arch"
    require "$package" "the executable links $library"
done

changelog=$work/usr/share/doc/motrel/changelog.gz
[ -f "$changelog" ] || fail "the package has no changelog"
newest=$(zcat "$changelog" | sed -n '1s/^motrel (\([^)]*\)).*/\1/p')
[ "$newest" = "$(field Version)" ] || fail "the changelog's newest entry is '$newest', the package $(field Version)"
echo "control fields, Depends and changelog as expected"
