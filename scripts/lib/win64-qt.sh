# Builds Qt 5.15.8 for Windows x86-64 with the MinGW-w64 cross compilers, once: each module
# step leaves a stamp, so an interrupted build resumes where it stopped and a finished one is
# reused as it is. A module's source is Qt's own tarball from the folder MOTREL_QT_SOURCES
# (or ../shared/qt-sources beside the checkout) when that folder holds it, with its sum
# checked against the folder's SHA256SUMS, and Debian's otherwise. Rather than building, it
# unpacks the prebuilt cache in MOTREL_PREBUILT_QT (or ../shared/qt-win64 beside the checkout)
# when that cache's MANIFEST says it was built the way this script would build it now.
# shellcheck shell=bash

qt_version=5.15.8
cache_root=${MOTREL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/motrel}
win64_qt=$cache_root/qt-$qt_version-mingw64
win64_qt_work=$win64_qt-build
qt_sources=${MOTREL_QT_SOURCES:-}
[ -n "$qt_sources" ] || [ ! -d "$top/../shared/qt-sources" ] || qt_sources=$(cd "$top/../shared/qt-sources" && pwd)
prebuilt_qt=${MOTREL_PREBUILT_QT:-$top/../shared/qt-win64}
prebuilt_qt_tarball=qt-$qt_version-mingw64.tar.xz
# Changes to Qt's modules, one patch each at most, applied as the module is unpacked.
qt_patches=$top/packaging/windows
# shellcheck disable=SC2034 # installed by package-win64.sh
win64_packages=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 cmake make python3 perl
                xz-utils patch zip unzip nsis wine wine64 base-files libqt5core5a libqt5qml5)
# The modules the dashboard's scene needs, in build order.
win64_qt_modules=(qtbase qtdeclarative qtquickcontrols qtgraphicaleffects)
# The Debian tarball has no wintab.h, hence no tablet events and no direct2d plugin.
qtbase_configure_options=(-xplatform win32-g++ -device-option CROSS_COMPILE=x86_64-w64-mingw32-
                          -release -shared -opensource -confirm-license
                          -nomake examples -nomake tests -nomake tools
                          -no-opengl -no-dbus -no-icu -no-feature-tabletevent -no-direct2d
                          -qt-zlib -qt-libpng -qt-libjpeg -qt-freetype -qt-harfbuzz -qt-pcre
                          -no-feature-sql -no-feature-testlib)
# qmake's arguments for the modules after qtbase. The software renderer is the one Qt Quick has
# without OpenGL; QML debugging and profiling are of no use to a dashboard.
declare -A qt_module_qmake_arguments=([qtdeclarative]="-- -no-feature-d3d12 -no-feature-qml-debug")
# Make runs niced with two jobs at most: the machine is shared.
win64_jobs=${MOTREL_JOBS:-2}

# Qt's threads need the posix flavour of the MinGW compilers.
use_posix_mingw() {
    local tool
    for tool in gcc g++; do
        as_root update-alternatives --set "x86_64-w64-mingw32-$tool" \
            "/usr/bin/x86_64-w64-mingw32-$tool-posix" >/dev/null
    done
}

# apt-get source needs a deb-src entry for the Debian archive the machine already uses.
ensure_debian_sources() {
    local list=/etc/apt/sources.list.d/motrel-debian-src.sources
    # shellcheck disable=SC2016 # apt's own placeholder
    apt-get indextargets --format '$(CREATED_BY)' 2>/dev/null | grep -qx Sources && return 0
    say "adding a deb-src entry for Debian's bookworm main (for Qt's sources)"
    as_root tee "$list" >/dev/null <<'SOURCES'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
    apt_update
}

niced() { renice -n 19 -p "$BASHPID" >/dev/null; }
stamp() { touch "$win64_qt_work/stamps/$1"; }
stamped() { [ -e "$win64_qt_work/stamps/$1" ]; }

# Qt's own tarball of MODULE in the folder of sources, its sum checked; nothing when the folder
# does not hold it.
qt_module_tarball_from_folder() {
    local module=$1 name expected actual
    name=$module-everywhere-opensource-src-$qt_version.tar.xz
    [ -n "$qt_sources" ] && [ -f "$qt_sources/$name" ] || return 0
    expected=$(awk -v name="$name" '$2 == name || $2 == "*" name { print $1 }' "$qt_sources/SHA256SUMS" 2>/dev/null)
    [ -n "$expected" ] || die "$qt_sources/SHA256SUMS has no sum for $name"
    actual=$(sha256sum "$qt_sources/$name" | cut -d' ' -f1)
    [ "$actual" = "$expected" ] ||
        die "$qt_sources/$name does not match its sum in SHA256SUMS (expected $expected, got $actual)"
    echo "$qt_sources/$name"
}

# Debian's copy of Qt's tarball of MODULE (Debian's patches are for Linux and stay out).
qt_module_tarball_from_debian() {
    local module=$1
    (cd "$win64_qt_work/downloads" && apt-get source --download-only "$module-opensource-src" >&2) ||
        die "cannot download Debian's $module sources (apt-get source $module-opensource-src);" \
            "put Qt's own $module-everywhere-opensource-src-$qt_version.tar.xz and its SHA256SUMS" \
            "line in a folder named by MOTREL_QT_SOURCES"
    ls "$win64_qt_work/downloads/$module-opensource-src_$qt_version"*.orig.tar.xz
}

qt_module_sources() {
    local module=$1 tarball origin=Qt
    stamped "$module.unpacked" && return 0
    tarball=$(qt_module_tarball_from_folder "$module") || exit 1
    [ -n "$tarball" ] || { tarball=$(qt_module_tarball_from_debian "$module") &&
        origin="Debian $(cut -d. -f1 /etc/debian_version)"; } || exit 1
    echo "source $module: ${tarball##*/} ($origin) sha256: $(sha256sum <"$tarball" | cut -d' ' -f1)" \
        >"$win64_qt_work/$module.source"
    say "unpacking $tarball"
    rm -rf "$win64_qt_work/src/$module"
    mkdir -p "$win64_qt_work/src/$module"
    tar -xJf "$tarball" -C "$win64_qt_work/src/$module" --strip-components=1
    if [ -f "$qt_patches/$module.patch" ]; then
        patch -d "$win64_qt_work/src/$module" -p1 --forward <"$qt_patches/$module.patch" >&2 ||
            die "$qt_patches/$module.patch does not apply to $tarball"
    fi
    stamp "$module.unpacked"
}

qt_module_configure() {
    local arguments
    if [ "$1" = qtbase ]; then
        "$win64_qt_work/src/qtbase/configure" -prefix "$win64_qt" "${qtbase_configure_options[@]}"
    else
        read -ra arguments <<<"${qt_module_qmake_arguments[$1]:-}"
        "$win64_qt/bin/qmake" "$win64_qt_work/src/$1" "${arguments[@]}"
    fi
}

qt_module_build() {
    local module=$1 build=$win64_qt_work/build/$1
    stamped "$module.installed" && return 0
    qt_module_sources "$module"
    mkdir -p "$build"
    if ! stamped "$module.configured"; then
        say "configuring $module"
        (cd "$build" && niced && qt_module_configure "$module") || die "configuring $module failed"
        stamp "$module.configured"
    fi
    say "building $module (make -j$win64_jobs, niced; the log is $win64_qt_work/$module.log)"
    touch "$win64_qt_work/stamps/$module.installing"
    (cd "$build" && niced && make -j"$win64_jobs" >>"$win64_qt_work/$module.log" 2>&1 &&
        make install >>"$win64_qt_work/$module.log" 2>&1) ||
        die "building $module failed: see $win64_qt_work/$module.log; run again to resume"
    # qmake skips a module whose requirements this Qt lacks, and make then succeeds doing nothing.
    [ -n "$(find "$win64_qt" -newer "$win64_qt_work/stamps/$module.installing" -type f -print -quit)" ] ||
        die "$module installed nothing into $win64_qt (did qmake skip it? see $win64_qt_work/$module.log)"
    stamp "$module.installed"
}

win64_qt_complete() {
    local module
    for module in "${win64_qt_modules[@]}"; do
        stamped "$module.installed" || return 1
    done
}

# How this script builds Qt, as "key: value" lines: what a prebuilt cache's MANIFEST must say.
# -prefix is left out: it differs by user and cache root, and qmake finds its Qt where it lies.
win64_qt_recipe() {
    local module
    echo "qt-version: $qt_version"
    echo "modules: ${win64_qt_modules[*]}"
    echo "qtbase-configure: ${qtbase_configure_options[*]}"
    for module in "${win64_qt_modules[@]:1}"; do
        echo "$module-qmake:${qt_module_qmake_arguments[$module]:+ ${qt_module_qmake_arguments[$module]}}"
    done
    for module in "${win64_qt_modules[@]}"; do
        [ ! -f "$qt_patches/$module.patch" ] ||
            echo "patch $module.patch sha256: $(sha256sum <"$qt_patches/$module.patch" | cut -d' ' -f1)"
    done
}

# The recipe, then the source tarball of each module with its sum.
win64_qt_manifest() {
    local module
    echo "# Qt for Windows x86-64, built by scripts/package --arch win64 at $(git -C "$top" rev-parse --short HEAD 2>/dev/null)"
    win64_qt_recipe
    for module in "${win64_qt_modules[@]}"; do
        cat "$win64_qt_work/$module.source" 2>/dev/null || true
    done
}

# Unpacks the prebuilt cache into the cache root, only when its MANIFEST matches this script's
# recipe and its tarball its sum. Fails, silently where there is none and saying why otherwise.
unpack_prebuilt_qt() {
    local unpacking
    [ -f "$prebuilt_qt/MANIFEST" ] || return 1
    if ! diff <(grep -v -e '^#' -e '^source ' "$prebuilt_qt/MANIFEST") <(win64_qt_recipe) >/dev/null; then
        say "the prebuilt Qt in $prebuilt_qt is not what this script builds now (its MANIFEST differs): not used"
        return 1
    fi
    (cd "$prebuilt_qt" && grep -E " [* ]?$prebuilt_qt_tarball\$" SHA256SUMS | sha256sum --check --status) ||
        die "$prebuilt_qt/$prebuilt_qt_tarball does not match its sum in SHA256SUMS"
    ensure_packages xz-utils
    say "unpacking the prebuilt Qt from $prebuilt_qt into $cache_root"
    mkdir -p "$win64_qt_work" && unpacking=$(mktemp -d "$cache_root/.unpacking.XXXXXX") ||
        die "cannot write into $cache_root"
    tar -xJf "$prebuilt_qt/$prebuilt_qt_tarball" -C "$unpacking" ||
        { rm -rf "$unpacking"; die "cannot unpack $prebuilt_qt/$prebuilt_qt_tarball"; }
    # The stamps last: the cache counts as complete only once its Qt is all in place. mv -T
    # refuses to move into a folder that another run unpacked meanwhile.
    rm -rf "$win64_qt" "$win64_qt_work/stamps"
    cp "$prebuilt_qt/MANIFEST" "$win64_qt_work/MANIFEST" &&
        mv -T "$unpacking/${win64_qt##*/}" "$win64_qt" &&
        mv -T "$unpacking/${win64_qt_work##*/}/stamps" "$win64_qt_work/stamps" ||
        { rm -rf "$unpacking"; die "cannot move the prebuilt Qt into $cache_root"; }
    rm -rf "$unpacking"
    win64_qt_complete || die "the prebuilt Qt in $prebuilt_qt lacks some of ${win64_qt_modules[*]}"
}

# Builds the whole cache, resuming where an earlier run stopped, and writes its MANIFEST.
ensure_win64_qt() {
    local module started=$SECONDS
    mkdir -p "$win64_qt_work/downloads" "$win64_qt_work/src" "$win64_qt_work/stamps"
    ensure_debian_sources
    use_posix_mingw
    for module in "${win64_qt_modules[@]}"; do
        qt_module_build "$module"
    done
    win64_qt_manifest >"$win64_qt_work/MANIFEST"
    say "Qt $qt_version for Windows x86-64 is in $win64_qt (this run: $(( (SECONDS - started) / 60 )) min)"
}
