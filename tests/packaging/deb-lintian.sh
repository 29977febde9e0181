#!/usr/bin/env bash
# Debian's own checker reports no error and no warning on the package. A tag that
# is wrong for it is overridden inside the package, with the reason.
#   deb-lintian.sh DEB_DIR
set -euo pipefail
# shellcheck source-path=SCRIPTDIR
. "$(dirname "$0")/lib.sh"

deb=$(the_deb "$1")
need lintian lintian
lintian --fail-on error,warning "$deb" || fail "lintian objects to $deb (tags above)"
echo "lintian: no error, no warning"
