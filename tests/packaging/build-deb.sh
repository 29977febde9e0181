#!/usr/bin/env bash
# Builds the Debian package from the build tree into a fresh folder.
#   build-deb.sh BUILD_DIR OUT_DIR
set -euo pipefail
# shellcheck source-path=SCRIPTDIR
. "$(dirname "$0")/lib.sh"

build_dir=$1 out_dir=$2
need cpack cmake
need dpkg-shlibdeps dpkg-dev

rm -rf "$out_dir"
cpack --config "$build_dir/CPackConfig.cmake" -B "$out_dir" || fail "cpack could not build the Debian package"
deb=$(the_deb "$out_dir")
echo "built $deb"
