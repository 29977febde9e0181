#!/usr/bin/env bash
# Compiles the Windows resource script with MinGW's resource compiler and reads
# the version record and icon group back from the compiled resource.
#   windows-resource.sh MOTREL_RC
set -euo pipefail
# shellcheck source-path=SCRIPTDIR
. "$(dirname "$0")/lib.sh"

rc=$1
need x86_64-w64-mingw32-windres binutils-mingw-w64-x86-64
need cpp cpp

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Debian's windres looks for a MinGW compiler to preprocess; the script needs no
# Windows headers, so the native preprocessor does.
x86_64-w64-mingw32-windres --preprocessor=cpp -O coff -i "$rc" -o "$work/motrel.o" ||
    fail "windres cannot compile $rc to an object file"
x86_64-w64-mingw32-windres --preprocessor=cpp -O res -i "$rc" -o "$work/motrel.res" ||
    fail "windres cannot compile $rc to a resource file"
x86_64-w64-mingw32-windres -i "$work/motrel.res" -O rc -o "$work/decompiled.rc" ||
    fail "windres cannot read back its own resource file"

# The decompiled script without the icons' pixel data.
readback=$(awk '/RT_ICON \*\/ MOVEABLE/ { pixels = 1 } pixels && /^END/ { pixels = 0; next } !pixels' "$work/decompiled.rc")

strings_block=$(sed -n '/BLOCK "StringFileInfo"/,/BLOCK "VarFileInfo"/p' <<<"$readback")
same_lines "the version strings" \
'BLOCK "040904b0"
VALUE "CompanyName", ""
VALUE "FileDescription", ""
VALUE "FileVersion", "0.0.0.0"
VALUE "LegalCopyright", ""
VALUE "OriginalFilename", "Motrel.exe"
VALUE "ProductName", "Motrel"
VALUE "ProductVersion", "0.0.0.0"' \
    "$(grep -E '^ *(BLOCK "[0-9a-f]{8}"|VALUE)' <<<"$strings_block" | sed 's/^ *//')"

grep -q 'VALUE "Translation", 0x409, 1200' <<<"$readback" ||
    fail "the translation is not US English with the Unicode code page"
grep -q '^1 VERSIONINFO$' <<<"$readback" || fail "no version record"
# windres leaves out binary versions that are all zero when it writes the script back.
binary_versions=$(grep -E '^ *(FILE|PRODUCT)VERSION ' <<<"$readback" || true)
if [ -n "$binary_versions" ] && grep -Evq 'VERSION 0, *0, *0, *0$' <<<"$binary_versions"; then
    fail "the binary versions are not 0.0.0.0: $binary_versions"
fi
grep -q '^ *FILETYPE 0x1$' <<<"$readback" || fail "the file type is not an application"

# One group IDI_ICON1 of nine icons: width, height, planes, bits for each.
grep -q '^"IDI_ICON1" 14 /\* RT_GROUP_ICON \*/' <<<"$readback" || fail "no icon group IDI_ICON1"
[ "$(grep -c 'RT_GROUP_ICON \*/ MOVEABLE' <<<"$readback")" -eq 1 ] || fail "more than one icon group"
same_lines "the icon group's images" \
    "$windows_icon_images" \
    "$(sed -n 's/^ *"\\\([0-7]*\)\\\([0-7]*\)\\[0-7]*\\[0-7]*", 1, \([0-9]*\),.*Element no.*/\1 \2 \3/p' <<<"$readback" |
        while read -r w h bits; do echo "$((8#$w)) $((8#$h)) $bits"; done)"
echo "resource script compiles; version record and icon group as expected"
