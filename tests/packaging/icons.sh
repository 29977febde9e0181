#!/usr/bin/env bash
# The Windows icon file holds the nine images Windows chooses from, and the
# committed rasters still show what the SVG draws.
#   icons.sh SOURCE_DIR
set -euo pipefail
# shellcheck source-path=SCRIPTDIR
. "$(dirname "$0")/lib.sh"

packaging=$1/packaging
need icotool icoutils
need rsvg-convert librsvg2-bin

same_lines "the images of motrel.ico (width height bits)" \
    "$windows_icon_images" \
    "$(icotool -l "$packaging/windows/motrel.ico" |
        sed -n 's/.*--width=\([0-9]*\) --height=\([0-9]*\) --bit-depth=\([0-9]*\).*/\1 \2 \3/p')"

"$packaging/icons/render.sh" --check || fail "the rasters are stale: rerun packaging/icons/render.sh"
echo "icon file and rasters as expected"
