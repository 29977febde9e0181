#!/usr/bin/env bash
# The Windows build's prebuilt Qt for MinGW, a small stand-in for it: unpacked into an empty
# cache only when its MANIFEST says what the script would build now and its tarball has its sum.
#   windows-prebuilt-qt.sh match|other_configure|other_patch|bad_sum
set -euo pipefail
# shellcheck source-path=SCRIPTDIR
. "$(dirname "$0")/lib.sh"
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
case $1 in
    other_configure) sed -i 's/^qtbase-configure: .*/& -no-feature-printer/' "$MOTREL_PREBUILT_QT/MANIFEST" ;;
    other_patch) sed -i 's/^\(patch .* sha256: \).*/\10/' "$MOTREL_PREBUILT_QT/MANIFEST" ;;
    bad_sum) echo >>"$MOTREL_PREBUILT_QT/$prebuilt_qt_tarball" ;;
esac

if [ "$1" = match ]; then
    unpack_prebuilt_qt 2>"$work/said" && win64_qt_complete && [ "$(cat "$win64_qt/bin/qmake")" = qmake ] ||
        fail "the matching prebuilt Qt is not in the cache: $(cat "$work/said")"
    same_lines "the cache root" "${win64_qt##*/}"$'\n'"${win64_qt_work##*/}" "$(ls -A "$MOTREL_CACHE")"
else
    # --if-cached, as the test run calls it, skips; a bad sum fails.
    printed=$( (main --if-cached) 2>"$work/said") || true
    grep -q "${expected_word:=$([ "$1" = bad_sum ] && echo 'does not match its sum' || echo 'MANIFEST differs')}" \
        "$work/said" || fail "no word that $expected_word: $(cat "$work/said")"
    [ -z "$printed" ] && [ ! -e "$win64_qt" ] && ! win64_qt_complete ||
        fail "a prebuilt Qt refused ($1) was unpacked or built on: $printed"
fi
echo "$1: $(head -1 "$work/said")"
