#!/usr/bin/env bash
# Motrel for Windows x86-64 (scripts/package --arch win64): cross-built with MinGW-w64 against
# a Qt built here once and cached, then zipped with the DLLs, the platform plugin and the QML
# modules it loads, for a bare Windows 10 or 11, and an installer of the same. It prints the
# installer's path, then the zip's.
set -euo pipefail
# shellcheck source-path=SCRIPTDIR
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"
# shellcheck source-path=SCRIPTDIR
. "$(dirname "${BASH_SOURCE[0]}")/win64-qt.sh"

win64_build_dir=$top/build-win64

build_motrel_exe() {
    configure_and_build "$win64_build_dir" "$win64_jobs" --toolchain "$top/cmake/toolchains/win64.cmake" \
        -DMOTREL_WIN64_QT="$win64_qt" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -- Motrel >&2
}

# Where a DLL that the bundle needs comes from: Qt or the MinGW runtime. Any other
# DLL is part of Windows.
find_dll() {
    local dir
    for dir in "$win64_qt/bin" /usr/lib/gcc/x86_64-w64-mingw32/*-posix /usr/x86_64-w64-mingw32/lib; do
        [ -e "$dir/$1" ] && echo "$dir/$1" && return 0
    done
    return 1
}

# Copies into BUNDLE every DLL that FILES import from Qt or MinGW, and theirs in turn.
copy_imported_dlls() {
    local bundle=$1 dll source
    shift
    local pending=("$@")
    while [ ${#pending[@]} -gt 0 ]; do
        for dll in $(x86_64-w64-mingw32-objdump -p "${pending[0]}" | sed -n 's/^\s*DLL Name: //p'); do
            [ -e "$bundle/$dll" ] && continue
            source=$(find_dll "$dll") || continue
            cp "$source" "$bundle/"
            pending+=("$bundle/$dll")
        done
        pending=("${pending[@]:1}")
    done
}

# The folders of the QML modules the scene imports, directly or through other modules; fails
# naming any of Qt's that this Qt lacks, which would leave the scene unable to load. Modules that
# a plugin registers in C++ have no folder: Motrel's own, and a Qt module's Private ones.
qml_module_dirs() {
    "$win64_qt/bin/qmlimportscanner" -rootPath "$top/qml" -importPath "$win64_qt/qml" |
        python3 -c '
import json, sys
modules = [module for module in json.load(sys.stdin) if module.get("type") == "module"]
found = {module["name"] for module in modules if "path" in module}
missing = sorted({module["name"] for module in modules if "path" not in module and module["name"].startswith("Qt")
                  and module["name"].split(".Private.")[0] not in found})
if missing:
    sys.exit("not in this Qt: " + ", ".join(missing))
print("\n".join(sorted({module["path"] for module in modules if "path" in module})))'
}

# The files of the bundle's LICENSES folder, each as "name source": the texts every part of it
# asks to travel with it. Debian's copyright files of qtbase and qtdeclarative, whose tarballs
# the Qt is built from, hold the licenses of FreeType, HarfBuzz, libjpeg, libpng, zlib and PCRE2,
# built into Qt's DLLs; a MinGW runtime DLL's license is the copyright file of its package.
license_files() {
    local bundle=$1 module dll package
    echo "Motrel.txt $top/LICENSE"
    echo "DejaVu.txt $top/fonts/LICENSE.DejaVu"
    echo "LGPL-3.txt /usr/share/common-licenses/LGPL-3"
    echo "GPL-3.txt /usr/share/common-licenses/GPL-3"
    echo "qtbase.txt /usr/share/doc/libqt5core5a/copyright"
    echo "qtdeclarative.txt /usr/share/doc/libqt5qml5/copyright"
    for module in "${win64_qt_modules[@]}"; do
        [ ! -f "$qt_patches/$module.patch" ] || echo "$module.patch $qt_patches/$module.patch"
    done
    mingw_dlls "$bundle" | while read -r dll package; do
        echo "$package.txt /usr/share/doc/$package/copyright"
    done | sort -u
}

# The DLLs of BUNDLE that come from the MinGW runtime, each as "dll package".
mingw_dlls() {
    local dll source
    for dll in "$1"/*.dll; do
        source=$(find_dll "${dll##*/}")
        [[ $source == "$win64_qt"/* ]] || echo "${dll##*/} $(dpkg -S "$source" | cut -d: -f1)"
    done
}

# What the bundle holds and where its sources are, for NOTICE.txt beside the licenses.
notice() {
    local bundle=$1 dll package
    cat <<NOTICE
Motrel for Windows x86-64

Motrel is under the MIT license: Motrel.txt. Motrel.exe carries the DejaVu Sans font: DejaVu.txt.

The Qt*.dll files and the plugins and qml folders are Qt $qt_version, under the GNU Lesser General
Public License version 3 (LGPL-3.txt, which adds to GPL-3.txt). They were built for this bundle from
these source tarballs, a module with the change in the .patch file of its name here, if any:
$(sed -n 's/^source /  /p' "$win64_qt_work/MANIFEST")
Debian's tarballs are in Debian's archive (apt-get source qtbase-opensource-src
qtdeclarative-opensource-src, or https://snapshot.debian.org); Qt's at
https://download.qt.io/archive/qt/5.15/$qt_version/submodules/. qtbase.txt and qtdeclarative.txt
are Debian's copyright files for those two: they hold the licenses of Qt and of the FreeType,
HarfBuzz, libjpeg, libpng, zlib and PCRE2 built into Qt's DLLs.

The MinGW-w64 runtime, from Debian's packages, each with its package's copyright file:
NOTICE
    mingw_dlls "$bundle" | while read -r dll package; do echo "  $dll: $package.txt"; done
}

# Fails naming what the bundle's LICENSES folder lacks.
check_licenses() {
    local bundle=$1 name source absent=()
    while read -r name source; do
        [ -s "$bundle/LICENSES/$name" ] || absent+=("$name")
    done < <(license_files "$bundle"; echo "NOTICE.txt -")
    [ ${#absent[@]} -eq 0 ] || { say "LICENSES lacks ${absent[*]}"; return 1; }
}

add_licenses() {
    local bundle=$1 name source
    mkdir -p "$bundle/LICENSES"
    license_files "$bundle" | while read -r name source; do cp "$source" "$bundle/LICENSES/$name"; done
    grep -q '^source ' "$win64_qt_work/MANIFEST" 2>/dev/null ||
        die "$win64_qt_work/MANIFEST does not name the sources of the Qt in $win64_qt: build it again"
    notice "$bundle" >"$bundle/LICENSES/NOTICE.txt"
    check_licenses "$bundle" || die "the bundle lacks some of its licenses"
}

# The executable, qt.conf, the windows platform plugin, the QML modules and their DLLs, and
# their licenses.
assemble_bundle() {
    local bundle=$1 dirs dir
    dirs=$(qml_module_dirs) || die "the scene's QML modules cannot all be bundled from $win64_qt"
    rm -rf "$bundle"
    mkdir -p "$bundle/plugins/platforms" "$bundle/qml"
    cp "$win64_build_dir/Motrel.exe" "$bundle/"
    # Qt would look for plugins and QML modules under the prefix it was built for.
    printf '[Paths]\nPrefix = .\nPlugins = plugins\nQml2Imports = qml\n' >"$bundle/qt.conf"
    cp "$win64_qt/plugins/platforms/qwindows.dll" "$bundle/plugins/platforms/"
    for dir in $dirs; do
        mkdir -p "$bundle/qml/${dir#"$win64_qt/qml/"}"
        cp -r "$dir/." "$bundle/qml/${dir#"$win64_qt/qml/"}/"
    done
    mapfile -t binaries < <(find "$bundle" -name '*.exe' -o -name '*.dll')
    copy_imported_dlls "$bundle" "${binaries[@]}"
    # Debian's MinGW runtime keeps its symbols: libstdc++ alone would be 23 MB.
    find "$bundle" \( -name '*.exe' -o -name '*.dll' \) -exec x86_64-w64-mingw32-strip --strip-unneeded {} +
    add_licenses "$bundle"
}

# The uninstaller's lines for the files of BUNDLE, then for its folders, deepest first: RMDir
# leaves a folder that holds anything else.
uninstall_list() {
    # shellcheck disable=SC2016 # the installer's variable, for makensis
    (cd "$1" && find . -mindepth 1 -depth \( -type f -printf 'Delete "$INSTDIR\\%P"\n' \) -o \
        \( -type d -printf 'RMDir "$INSTDIR\\%P"\n' \)) | sed 's|/|\\|g'
}

# Motrel-setup.exe: the bundle installed into Program Files, with its Start-menu entry,
# uninstaller and firewall rule (packaging/windows/motrel.nsi.in).
make_installer() {
    local bundle=$1 installer=$2 list=$win64_build_dir/uninstall-list.nsh
    uninstall_list "$bundle" >"$list"
    makensis -V2 -DBUNDLE="$bundle" -DUNINSTALL_LIST="$list" -DOUTFILE="$installer" "$win64_build_dir/motrel.nsi" >&2 ||
        die "makensis could not make $installer"
}

# Makes the wine prefix DIR for trying the build, once, and points wine at it.
use_wine_prefix() {
    export WINEPREFIX=$1 WINEDEBUG=-all
    [ -d "$WINEPREFIX" ] && return 0
    DISPLAY='' wineboot --init
    wineserver -w
}

# With --if-cached (for the test runs) only when that Qt is complete here or the prebuilt one
# matches; never builds it. Prints the installer's path, then the zip's.
main() {
    local bundle=$win64_build_dir/Motrel zip_path=$win64_build_dir/Motrel-win64.zip
    local installer=$win64_build_dir/Motrel-setup.exe
    if ! win64_qt_complete && ! unpack_prebuilt_qt && [ "${1:-}" = --if-cached ]; then
        say "no Windows build: Qt for MinGW is not complete in $win64_qt (scripts/package --arch win64 builds it)"
        return 0
    fi
    ensure_packages "${win64_packages[@]}"
    win64_qt_complete || ensure_win64_qt
    build_motrel_exe
    assemble_bundle "$bundle"
    rm -f "$zip_path"
    (cd "$win64_build_dir" && zip -qr "$zip_path" Motrel)
    make_installer "$bundle" "$installer"
    echo "$installer"
    echo "$zip_path"
}

# Sourced, it only defines the steps.
[[ ${BASH_SOURCE[0]} != "$0" ]] || main "$@"
