#!/usr/bin/env bash
# The Windows build's prebuilt Qt for MinGW, a small stand-in for it: unpacked into an empty
# cache only when its MANIFEST says what the script would build now and its tarball has its sum.
#   windows-prebuilt-qt.sh match|other_configure|other_patch|bad_sum
set -euo pipefail
# shellcheck source-path=SCRIPTDIR
. "$(dirname "$0")/lib.sh"
case=$1
need xz xz-utils

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export MOTREL_CACHE=$work/cache MOTREL_PREBUILT_QT=$work/prebuilt
# shellcheck source-path=SCRIPTDIR/../../scripts/lib
. "$top/scripts/lib/package-win64.sh"

made=$work/made
mkdir -p "$made/${win64_qt##*/}/bin" "$made/${win64_qt_work##*/}/stamps" "$MOTREL_PREBUILT_QT"
echo qmake >"$made/${win64_qt##*/}/bin/qmake"
for module in "${win64_qt_modules[@]}"; do touch "$made/${win64_qt_work##*/}/stamps/$module.installed"; done
tar -cJf "$MOTREL_PREBUILT_QT/$prebuilt_qt_tarball" -C "$made" .
win64_qt_manifest >"$MOTREL_PREBUILT_QT/MANIFEST"
(cd "$MOTREL_PREBUILT_QT" && sha256sum "$prebuilt_qt_tarball" >SHA256SUMS)

case $case in
    match) ;;
    other_configure) sed -i 's/^qtbase-configure: .*/& -no-feature-printer/' "$MOTREL_PREBUILT_QT/MANIFEST" ;;
    other_patch) sed -i 's/^\(patch .* sha256: \).*/\1'"$(printf 0%.0s {1..64})"'/' "$MOTREL_PREBUILT_QT/MANIFEST" ;;
    bad_sum) echo >>"$MOTREL_PREBUILT_QT/$prebuilt_qt_tarball" ;;
    *) fail "no case $case" ;;
esac

if [ "$case" = match ]; then
    unpack_prebuilt_qt 2>"$work/said" || fail "the matching prebuilt Qt was not unpacked: $(cat "$work/said")"
    win64_qt_complete || fail "the unpacked cache is not complete"
    [ "$(cat "$win64_qt/bin/qmake")" = qmake ] || fail "the cache does not hold the prebuilt Qt"
    same_lines "the cache root" "${win64_qt##*/}
${win64_qt_work##*/}" "$(ls -A "$MOTREL_CACHE")"
    echo "the matching prebuilt Qt was unpacked into the cache"
    exit 0
fi
if [ "$case" = bad_sum ]; then
    (unpack_prebuilt_qt) 2>"$work/said" && fail "a prebuilt Qt that fails its sum was unpacked"
    grep -q 'does not match its sum' "$work/said" || fail "no word of the sum: $(cat "$work/said")"
else
    printed=$(main --if-cached 2>"$work/said") || fail "--if-cached failed on a prebuilt Qt built otherwise"
    [ -z "$printed" ] || fail "--if-cached built something: $printed"
    grep -q 'MANIFEST differs' "$work/said" || fail "no word of the MANIFEST: $(cat "$work/said")"
fi
win64_qt_complete && fail "the cache is stamped done"
[ ! -e "$win64_qt" ] || fail "the prebuilt Qt was unpacked: $(ls "$win64_qt")"
echo "the prebuilt Qt was refused ($case): $(head -1 "$work/said")"
