# Shared by the project's scripts: packages, privilege, build, isolation.
# shellcheck shell=bash

# A failure anywhere inside $(...) fails the substitution, not only its last command's.
shopt -s inherit_errexit

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build_dir=${MOTREL_BUILD_DIR:-$top/build}

build_packages=(cmake g++ make qtbase5-dev qtdeclarative5-dev qtdeclarative5-dev-tools fonts-dejavu-core)
# Readiness and watchdog under systemd.
build_packages+=(pkg-config libsystemd-dev)
run_packages=(qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-controls
              qml-module-qtquick-extras qml-module-qtgraphicaleffects iproute2)
# The dashboard on a private virtual screen, seen and clicked: pictures, end-to-end runs.
virtual_screen_packages=(xvfb xauth xdotool imagemagick util-linux python3-xlib)
test_packages=(qml-module-qttest "${virtual_screen_packages[@]}" iproute2 libbenchmark-dev
               dpkg-dev desktop-file-utils icoutils librsvg2-bin binutils-mingw-w64-x86-64)
# Reliability runs: valgrind over the back end, python3 senders for fault runs, clang's libFuzzer.
test_packages+=(valgrind python3)
# End-to-end runs full screen under the window managers of small kiosks too.
test_packages+=(openbox matchbox-window-manager)
# The font that the tiles' "Helvetica" resolves to, for the golden pictures.
test_packages+=(fonts-urw-base35)
# Debian's own checker, over each Debian package.
test_packages+=(lintian)
# The arm64 disk image booted on an emulated board, driven through QMP.
test_packages+=(qemu-system-arm qemu-utils)
# The owner's files on its boot partition, and the owner's SSH login.
test_packages+=(mtools fdisk openssh-client openssl)
# The fuzz runs are isolated by the harness, which wants python3 and ip.
fuzz_packages=(clang libclang-rt-14-dev python3 iproute2)
# ARM builds for small boards, cross-compiled here and run under qemu-user.
cross_arches=(arm64 armhf)

say() { printf 'motrel: %s\n' "$*" >&2; }
die() { say "$*"; exit 1; }

# Runs a command as root, through sudo when we are not root already.
as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null 2>&1; then
        sudo "$@"
    else
        die "this step needs root: run as root or install sudo ($*)"
    fi
}

# apt's lists, fetched again while a mirror is mid-sync (its index and its sizes disagree for
# a while). Should one list still fail, apt keeps the others: the install that follows tells
# whether what it needs is there.
apt_update() {
    local try
    for try in 1 2; do
        as_root apt-get update && return 0
        [ "$try" -eq 1 ] && { say "apt-get update failed, again in 30 s"; sleep 30; }
    done
    say "apt-get update failed twice: installing from the lists apt has"
}

# Installs the Debian packages that are missing, and only those.
ensure_packages() {
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    say "installing ${missing[*]}"
    apt_update
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
}

# Lets apt install packages of ARCH beside this machine's own (Debian multiarch).
ensure_architecture() {
    local arch=$1
    [ "$arch" = "$(dpkg --print-architecture)" ] && return 0
    dpkg --print-foreign-architectures | grep -qx "$arch" && return 0
    say "adding the $arch architecture to dpkg"
    as_root dpkg --add-architecture "$arch"
    apt_update
}

# What a cross build for ARCH needs: the cross compiler, the target's Qt and QML
# modules from multiarch, and qemu-user to run the result here.
cross_packages() {
    local arch=$1 package
    printf '%s\n' "g++-$(dpkg-architecture -a "$arch" -qDEB_HOST_GNU_TYPE 2>/dev/null)" qemu-user-static
    for package in qtbase5-dev qtdeclarative5-dev libsystemd-dev "${run_packages[@]}"; do
        [ "$package" = iproute2 ] || printf '%s:%s\n' "$package" "$arch"
    done
}

cross_build_dir() { echo "$top/build-$1"; }

# scripts/lib/livedrive.py as root: the simulated drive in a pair of network namespaces, the
# programs as the calling user. Usage: livedrive [NAME=VALUE...] -- LIVEDRIVE OPTIONS...
livedrive() {
    local environment=()
    while [ "$1" != -- ]; do environment+=("$1"); shift; done
    shift
    say "the simulated bridge needs two network namespaces, which takes root"
    [ "$(id -u)" -eq 0 ] || say "sudo may ask for your password"
    as_root env "${environment[@]}" /usr/bin/python3 "$top/scripts/lib/livedrive.py" \
        --motrel "$build_dir/Motrel" --bridgesim "$build_dir/tools/bridgesim" --user "${SUDO_USER:-$(id -un)}" "$@"
}

# Configures the source tree into DIR with the cmake OPTIONS and builds it with JOBS jobs:
# every target, or the TARGETS after --.
#   configure_and_build DIR JOBS [OPTIONS...] [-- TARGETS...]
configure_and_build() {
    local dir=$1 jobs=$2 options=()
    shift 2
    while [ $# -gt 0 ] && [ "$1" != -- ]; do options+=("$1"); shift; done
    cmake -S "$top" -B "$dir" "${options[@]}"
    cmake --build "$dir" -j "$jobs" ${2:+--target "${@:2}"}
}

build() { configure_and_build "$build_dir" "$(nproc)" "$@"; }

# The one Debian package in folder $1; ends the script when there is none or more than one.
the_deb() {
    local debs=("$1"/*.deb)
    [[ ${#debs[@]} -eq 1 && -f ${debs[0]} ]] || die "expected one .deb in $1, found: $(ls -A "$1" 2>&1)"
    printf '%s\n' "${debs[0]}"
}

# Runs a command in a private network namespace that holds only loopback (scripts/lib/harness.py
# makes it), so nothing it sends can reach a real network.
isolated() { /usr/bin/python3 "$top/scripts/lib/harness.py" isolated -- "$@"; }

# Runs one ctest suite in isolation and adds its counts to the run's totals.
suites_passed=0
suites_failed=0
isolated_ctest() {
    local log status counts
    log=$(mktemp)
    set +e
    isolated ctest "$@" 2>&1 | tee "$log"
    status=${PIPESTATUS[0]}
    set -e
    counts=$(sed -nE 's/.* ([0-9]+) tests failed out of ([0-9]+)$/\1 \2/p' "$log" | tail -1)
    rm -f "$log"
    if [ -n "$counts" ]; then
        set -- $counts
        suites_failed=$((suites_failed + $1))
        suites_passed=$((suites_passed + $2 - $1))
    fi
    return "$status"
}

# The closing line over every suite of the run.
report_totals() {
    printf '%d passed, %d failed\n' "$suites_passed" "$suites_failed"
}
