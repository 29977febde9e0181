#!/usr/bin/env bash
# Installs the package on this machine, runs the dashboard from PATH as the end-to-end
# frame case does (a private Xvfb, bridgesim in a namespace pair: a frame shown, EXIT
# ends it with status 0), and purges the package. A package of another architecture
# installs beside this machine's libraries (multiarch) and runs through LAUNCHER, its
# qemu-user emulator.
#   deb-install.sh DEB_DIR BRIDGESIM [LAUNCHER]
set -euo pipefail
# shellcheck source-path=SCRIPTDIR
. "$(dirname "$0")/lib.sh"

# Root of a user namespace (unshare -rn) is not enough to install.
if [ "$(id -u)" -ne 0 ] || ! grep -Eq '^ *0 +0 +4294967295$' /proc/self/uid_map; then
    skip "installing a package needs root"
fi
# No network for apt either: the dependencies must already be installed.
if [ -z "${MOTREL_PACKAGE_TEST_NET:-}" ]; then
    export MOTREL_PACKAGE_TEST_NET=private
    isolated "$0" "$@"
    exit
fi

deb=$(realpath "$(the_deb "$1")")
bridgesim=$(realpath "$2")
launcher=${3:-}
package=motrel:$(dpkg-deb -f "$deb" Architecture)
need xdotool xdotool
[ -z "$launcher" ] || need "$launcher" qemu-user-static
need flock util-linux

# Other build trees on this machine may run this test at the same time.
exec 9>/run/lock/motrel-package-test.lock
flock -w 600 9 || fail "another package test holds the lock for too long"

if dpkg-query -W -f='${Status}' motrel 2>/dev/null | grep -q 'ok installed'; then
    skip "a motrel package is already installed here; not replacing it"
fi
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
[ ! -e /usr/bin/Motrel ] || skip "/usr/bin/Motrel exists outside any package; not overwriting it"

work=$1/install
rm -rf "$work"
mkdir -p "$work"
trap 'apt-get purge -y -o DPkg::Lock::Timeout=300 "$package" >/dev/null 2>&1 || true' EXIT

apt-get install -y --no-install-recommends -o DPkg::Lock::Timeout=300 "$deb" >"$work/apt.log" 2>&1 ||
    fail "the package does not install: $(tail -5 "$work/apt.log")"
[ "$(command -v Motrel)" = /usr/bin/Motrel ] || fail "Motrel is not on PATH after installing"
[ -z "$(find /etc/systemd/system -name motrel-kiosk.service 2>/dev/null)" ] ||
    fail "installing enabled the kiosk unit"
if command -v systemd-analyze >/dev/null; then
    systemd-analyze verify /usr/lib/systemd/system/motrel-kiosk.service ||
        fail "systemd finds fault with the installed kiosk unit"
fi

/usr/bin/python3 "$(dirname "$0")/../e2e/e2e.py" --motrel "$(command -v Motrel)" --bridgesim "$bridgesim" \
    --workdir "$work" ${launcher:+--launcher "$launcher"} frame ||
    fail "the installed dashboard did not show a frame and end with status 0 on EXIT"

apt-get purge -y -o DPkg::Lock::Timeout=300 "$package" >"$work/purge.log" 2>&1 ||
    fail "the package does not purge: $(tail -5 "$work/purge.log")"
[ ! -e /usr/bin/Motrel ] || fail "/usr/bin/Motrel is still there after purging"
echo "installed, started from PATH, showed a frame, ended with status 0 on EXIT, purged"
