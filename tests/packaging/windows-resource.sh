#!/usr/bin/env bash
# Compiles the Windows resource script with MinGW's resource compiler and reads
# the version record and icon group back from the compiled resource, or reads
# them back from a built executable.
#   windows-resource.sh MOTREL_RC | MOTREL_EXE
set -euo pipefail
# shellcheck source-path=SCRIPTDIR
. "$(dirname "$0")/lib.sh"

input=$1
need x86_64-w64-mingw32-windres binutils-mingw-w64-x86-64
need cpp cpp

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [[ $input == *.exe ]]; then
    [ -f "$input" ] || skip "no $input: scripts/package --arch win64 builds it"
    x86_64-w64-mingw32-windres -i "$input" -O rc -o "$work/decompiled.rc" ||
        fail "windres cannot read the resources of $input"
else
    # Debian's windres looks for a MinGW compiler to preprocess; the script needs no
    # Windows headers, so the native preprocessor does.
    x86_64-w64-mingw32-windres --preprocessor=cpp -O coff -i "$input" -o "$work/motrel.o" ||
        fail "windres cannot compile $input to an object file"
    x86_64-w64-mingw32-windres --preprocessor=cpp -O res -i "$input" -o "$work/motrel.res" ||
        fail "windres cannot compile $input to a resource file"
    x86_64-w64-mingw32-windres -i "$work/motrel.res" -O rc -o "$work/decompiled.rc" ||
        fail "windres cannot read back its own resource file"
fi

# The decompiled script without the icons' pixel data. Resources read from an
# executable carry no memory flags (MOVEABLE DISCARDABLE) after the type.
readback=$(awk '/RT_ICON \*\// { pixels = 1 } pixels && /^END/ { pixels = 0; next } !pixels' "$work/decompiled.rc")

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
[ "$(grep -c 'RT_GROUP_ICON \*/' <<<"$readback")" -eq 1 ] || fail "more than one icon group"
same_lines "the icon group's images" \
    "$windows_icon_images" \
    "$(sed -n 's/^ *"\\\([0-7]*\)\\\([0-7]*\)\\[0-7]*\\[0-7]*", 1, \([0-9]*\),.*Element no.*/\1 \2 \3/p' <<<"$readback" |
        while read -r w h bits; do echo "$((8#$w)) $((8#$h)) $bits"; done)"
echo "$input: version record and icon group as expected"
