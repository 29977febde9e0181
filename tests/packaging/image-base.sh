#!/usr/bin/env bash
# scripts/image's base system: a build that fails half way is not cached, or every later
# image would be made from it.
set -euo pipefail
# shellcheck source-path=SCRIPTDIR
. "$(dirname "$0")/lib.sh"

[ "$(id -u)" -eq 0 ] || skip "as root only: elsewhere sudo would run the real mmdebstrap"
cache=$(mktemp -d)
trap 'rm -rf "$cache"' EXIT
# An mmdebstrap that dies after writing part of its target, the last argument but one.
# shellcheck disable=SC2016 # expanded by the inner shell
if MOTREL_CACHE=$cache bash -c 'set -euo pipefail; . "$1/scripts/lib/common.sh"; . "$1/scripts/lib/image.sh"
        mmdebstrap() { mkdir -p "${*: -2:1}/usr"; return 1; }; base=$(base_system); echo "$base"' _ "$top" >/dev/null 2>&1; then
    fail "a failed base build was taken for done"
fi
[ -z "$(find "$cache" -maxdepth 1 -name 'image-base-*' ! -name '*.part')" ] || fail "a failed base build was cached"
