#!/usr/bin/env bash
# Installs the package on this machine, starts the dashboard from PATH under a
# private Xvfb, clicks EXIT, expects exit status 0, and purges the package.
# A package of another architecture installs beside this machine's libraries
# (multiarch) and runs through LAUNCHER, its qemu-user emulator.
#   deb-install.sh DEB_DIR [LAUNCHER]
set -euo pipefail
# shellcheck source-path=SCRIPTDIR
. "$(dirname "$0")/lib.sh"

# Root of a user namespace (unshare -rn) is not enough to install.
if [ "$(id -u)" -ne 0 ] || ! grep -Eq '^ *0 +0 +4294967295$' /proc/self/uid_map; then
    skip "installing a package needs root"
fi
# A namespace of its own: no real network, and the bridge port free of other tests.
if [ -z "${MOTREL_PACKAGE_TEST_NET:-}" ]; then
    export MOTREL_PACKAGE_TEST_NET=private
    exec unshare -n -- sh -c 'ip link set lo up && exec "$@"' sh "$0" "$@"
fi
# And a private X server of the dashboard's nominal size.
if [ -z "${MOTREL_PACKAGE_TEST_X:-}" ]; then
    export MOTREL_PACKAGE_TEST_X=private
    exec /usr/bin/python3 "$(dirname "$0")/../../scripts/lib/harness.py" with-xvfb --size 1024x600 -- "$0" "$@"
fi

deb=$(realpath "$(the_deb "$1")")
launcher=${2:-}
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

work=$(mktemp -d)
dashboard=""
stop() { [ -z "$1" ] || { kill "$1" 2>/dev/null; wait "$1" 2>/dev/null || true; }; }
cleanup() {
    stop "$dashboard"
    apt-get purge -y -o DPkg::Lock::Timeout=300 "$package" >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

# No network in here: the dependencies must already be installed.
apt-get install -y --no-install-recommends -o DPkg::Lock::Timeout=300 "$deb" >"$work/apt.log" 2>&1 ||
    fail "the package does not install: $(tail -5 "$work/apt.log")"
[ "$(command -v Motrel)" = /usr/bin/Motrel ] || fail "Motrel is not on PATH after installing"
[ -z "$(find /etc/systemd/system -name motrel-kiosk.service 2>/dev/null)" ] ||
    fail "installing enabled the kiosk unit"
if command -v systemd-analyze >/dev/null; then
    systemd-analyze verify /usr/lib/systemd/system/motrel-kiosk.service ||
        fail "systemd finds fault with the installed kiosk unit"
fi

export QT_QPA_PLATFORM=xcb

${launcher:+"$launcher"} "$(command -v Motrel)" >"$work/motrel.log" 2>&1 &
dashboard=$!
# Polled: a search dies on windows that vanish while it runs, as start-up's do.
window=""
for _ in $(seq 300); do
    window=$(xdotool search --onlyvisible --name '^Motrel$' 2>/dev/null | head -1) && [ -n "$window" ] && break
    kill -0 "$dashboard" 2>/dev/null || fail "the dashboard ended before showing a window: $(cat "$work/motrel.log")"
    sleep 0.1
done
[ -n "$window" ] || fail "no Motrel window appeared: $(cat "$work/motrel.log")"
for _ in $(seq 50); do
    xdotool getwindowgeometry "$window" | grep -q 'Geometry: 1024x600' && break
    sleep 0.1
done

# The EXIT tile is the lower right one; its middle at 1024 x 600.
exit_x=931 exit_y=533
status=""
for _ in $(seq 10); do
    sleep 1
    xdotool mousemove "$exit_x" "$exit_y" click 1 || true
    for _ in $(seq 30); do
        kill -0 "$dashboard" 2>/dev/null || break
        sleep 0.1
    done
    if ! kill -0 "$dashboard" 2>/dev/null; then
        wait "$dashboard" && status=0 || status=$?
        dashboard=""
        break
    fi
done
if [ -z "$status" ]; then
    fail "the dashboard did not end on a click at EXIT: $(cat "$work/motrel.log")"
fi
[ "$status" -eq 0 ] || fail "the dashboard ended with status $status: $(cat "$work/motrel.log")"

apt-get purge -y -o DPkg::Lock::Timeout=300 "$package" >"$work/purge.log" 2>&1 ||
    fail "the package does not purge: $(tail -5 "$work/purge.log")"
[ ! -e /usr/bin/Motrel ] || fail "/usr/bin/Motrel is still there after purging"
echo "installed, started from PATH, ended with status 0 on EXIT, purged"
