#!/usr/bin/env bash
# The Windows build end to end under wine: the arch case, launched through wine with Qt's
# windows platform plugin, in a wine prefix of its own that is made before the timed part.
# Skipped until scripts/package --arch win64 has written its zip.
#   wine.sh WIN64_BUILD_DIR WORKDIR --bridgesim PATH
set -euo pipefail
# shellcheck source-path=SCRIPTDIR
. "$(dirname "$0")/../packaging/lib.sh"
build=$1 workdir=$2
shift 2

[ -f "$build/Motrel-win64.zip" ] ||
    skip "no Windows build in $build. scripts/package --arch win64 makes it; its first run builds" \
         "Qt 5.15.8 for MinGW into ~/.cache/motrel/qt-5.15.8-mingw64 (niced, over an hour), later runs reuse it"
need wine "wine and wine64"

export WINEPREFIX=$workdir/wineprefix WINEDEBUG=-all
mkdir -p "$workdir"
# The first start of wine makes the prefix, which takes a while.
[ -d "$WINEPREFIX" ] || DISPLAY='' wineboot --init
exec /usr/bin/python3 "$(dirname "$0")/e2e.py" --motrel "$build/Motrel/Motrel.exe" --workdir "$workdir" \
    --launcher wine --platform windows "$@" arch
