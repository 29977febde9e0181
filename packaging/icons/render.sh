#!/usr/bin/env bash
# Renders the icon's rasters and the Windows icon file from motrel.svg.
# The results are committed, so only someone who changes the artwork needs
# rsvg-convert (librsvg2-bin), ImageMagick and icotool (icoutils).
#   render.sh          rewrite the rasters and packaging/windows/motrel.ico
#   render.sh --check  fail when a committed raster no longer matches the artwork
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
svg=$here/motrel.svg
desktop_sizes=(16 24 32 48 64 128 256)
# Windows picks among these by size and by the colour depth of the display.
ico_sizes=(48 32 16)
ico_colours=(16 256)

render() { rsvg-convert -w "$1" -h "$1" "$svg" -o "$2"; }

# A palette image keeps 1-bit transparency only, so the alpha is cut at half.
reduce() { /usr/bin/convert "$1" -channel A -threshold 50% +channel -colors "$2" "PNG8:$3"; }

write_all() {
    local work size colours images=()
    work=$(mktemp -d)
    trap 'rm -rf "$work"' RETURN
    for size in "${desktop_sizes[@]}"; do
        render "$size" "$here/motrel-$size.png"
    done
    for size in "${ico_sizes[@]}"; do
        render "$size" "$work/$size.png"
        for colours in "${ico_colours[@]}"; do
            reduce "$work/$size.png" "$colours" "$work/$size-$colours.png"
            images+=("$work/$size-$colours.png")
        done
        images+=("$work/$size.png")
    done
    icotool -c -o "$here/../windows/motrel.ico" "${images[@]}"
}

check_all() {
    local work size differing stale=0
    work=$(mktemp -d)
    trap 'rm -rf "$work"' RETURN
    for size in "${desktop_sizes[@]}"; do
        render "$size" "$work/$size.png"
        # A few pixels of slack absorb rasteriser updates, not a changed drawing.
        differing=$(/usr/bin/compare -metric AE -fuzz 3% "$here/motrel-$size.png" "$work/$size.png" null: 2>&1) || true
        if ! [[ $differing =~ ^[0-9]+$ ]]; then
            echo "cannot compare motrel-$size.png: $differing" >&2
            stale=1
        elif ((differing > size * size / 100)); then
            echo "motrel-$size.png differs from motrel.svg in $differing pixels: run $0" >&2
            stale=1
        fi
    done
    return "$stale"
}

case "${1:-}" in
    --check) check_all ;;
    "") write_all ;;
    *) echo "usage: $0 [--check]" >&2; exit 2 ;;
esac
