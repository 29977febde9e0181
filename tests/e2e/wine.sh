#!/usr/bin/env bash
# The Windows build end to end under wine, in a wine prefix of its own that is made before the
# timed parts: the zip as a user unpacks it (the arch case), the same bundle without one of the
# scene's modules, and the installer: silent install, Motrel started from where it installed,
# the Start-menu entry, the uninstall key, the sign-in entry only when asked for, the firewall
# rule (wine's netsh only logs it), and a silent uninstall that leaves nothing behind.
# Skipped until scripts/package --arch win64 has written its zip.
#   wine.sh WIN64_BUILD_DIR WORKDIR --bridgesim PATH
set -euo pipefail
# shellcheck source-path=SCRIPTDIR
. "$(dirname "$0")/../packaging/lib.sh"
build=$1 workdir=$2
shift 2

[ -f "$build/Motrel-win64.zip" ] ||
    skip "no Windows build in $build. scripts/package --arch win64 makes it; its first run builds" \
         "Qt 5.15.8 for MinGW into ~/.cache/motrel/qt-5.15.8-mingw64 (niced, over an hour), later runs reuse it"
need wine "wine and wine64"
[ -f "$build/Motrel-setup.exe" ] || fail "the zip has no installer beside it in $build"

# shellcheck source-path=SCRIPTDIR/../../scripts/lib
. "$(dirname "$0")/../../scripts/lib/package-win64.sh"
mkdir -p "$workdir"
# The first start of wine makes the prefix, which takes a while.
use_wine_prefix "$workdir/wineprefix"

# The bundle step refuses a Qt that lacks a module the scene imports.
(
    lacking=$workdir/qt-lacking-effects
    rm -rf "$lacking"
    mkdir -p "$lacking/qml"
    ln -s "$win64_qt/bin" "$lacking/bin"
    find "$win64_qt/qml" -mindepth 1 -maxdepth 1 ! -name QtGraphicalEffects -exec ln -s {} "$lacking/qml/" \;
    win64_qt=$lacking
    if missing=$(qml_module_dirs 2>&1); then
        fail "the bundle step took a Qt without QtGraphicalEffects: $missing"
    fi
    [[ $missing == *QtGraphicalEffects* ]] || fail "the bundle step did not name QtGraphicalEffects: $missing"
)

# wine, then a wait for its wineserver to end: a wineserver outlives its programs by a few
# seconds and keeps the screen it started with, so a start on another X server would get the old one.
launcher=$workdir/wine-alone
cat >"$launcher" <<'LAUNCHER'
#!/bin/sh
wine "$@" &
program=$!
trap 'kill $program' TERM INT
wait $program
status=$?
wineserver -w
exit $status
LAUNCHER
chmod +x "$launcher"
# Each case on a wineserver of its own, not one left by the steps before it without a screen.
e2e() {
    wineserver -k 2>/dev/null || true
    /usr/bin/python3 "$(dirname "$0")/e2e.py" --workdir "$workdir" --launcher "$launcher" --platform windows "$@"
}

unpacked=$workdir/unpacked
rm -rf "$unpacked" "$workdir/incomplete"
unzip -q "$build/Motrel-win64.zip" -d "$unpacked"
e2e --motrel "$unpacked/Motrel/Motrel.exe" "$@" arch

# The gauges' style imports the graphical effects: without them the scene cannot load.
cp -r "$unpacked/Motrel" "$workdir/incomplete"
rm -r "$workdir/incomplete/qml/QtGraphicalEffects"
e2e --motrel "$workdir/incomplete/Motrel.exe" "$@" no_scene

installed="$WINEPREFIX/drive_c/Program Files/Motrel"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Motrel.lnk"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Motrel'
run_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'

# Runs a Windows program to its end and that of every process it started; its netsh calls
# are kept in $workdir/netsh.log.
run_through() {
    WINEDEBUG=fixme+netsh wine "$@" 2>"$workdir/netsh.log"
    wineserver -w
}

reg_value() {
    wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
        awk -v name="$2" '$1 == name { sub(/^ *[^ ]+ +[^ ]+ +/, ""); print }'
}

firewall_rule_logged() {
    grep -q "\"advfirewall\".*\"firewall\".*\"$1\".*\"rule\".*Motrel" "$workdir/netsh.log" ||
        fail "the ${2} did not $1 the firewall rule: $(cat "$workdir/netsh.log")"
}

install_silently() {
    run_through "$build/Motrel-setup.exe" /S "$@"
    [ -f "$installed/Motrel.exe" ] || fail "no Motrel.exe in Program Files\\Motrel after a silent install"
    firewall_rule_logged add installer
    grep -q 'protocol=UDP' "$workdir/netsh.log" || fail "the firewall rule is not for UDP"
    [ -f "$shortcut" ] || fail "no Start-menu entry"
    [ "$(reg_value "$uninstall_key" DisplayName)" = Motrel ] || fail "no uninstall key named Motrel"
    [ -n "$(reg_value "$uninstall_key" DisplayVersion)" ] || fail "the uninstall key has no version"
    [[ $(reg_value "$uninstall_key" DisplayIcon) == *'\Motrel.exe,0' ]] || fail "the uninstall key has no icon"
    [[ $(reg_value "$uninstall_key" EstimatedSize) =~ ^0x[0-9a-f]*[1-9a-f] ]] || fail "the uninstall key has no size"
}

uninstall_silently() {
    run_through 'C:\Program Files\Motrel\Uninstall.exe' /S
    firewall_rule_logged delete uninstaller
    [ ! -e "$installed" ] || fail "the uninstaller left $(find "$installed" | head -3)"
    [ ! -e "$shortcut" ] || fail "the uninstaller left the Start-menu entry"
    [ -z "$(reg_value "$uninstall_key" DisplayName)" ] || fail "the uninstaller left its key"
    [ -z "$(reg_value "$run_key" Motrel)" ] || fail "the uninstaller left the sign-in entry"
}

install_silently
[ -z "$(reg_value "$run_key" Motrel)" ] || fail "a sign-in entry without /AUTOSTART"
e2e --motrel "$installed/Motrel.exe" "$@" frame
uninstall_silently

install_silently /AUTOSTART
[ "$(reg_value "$run_key" Motrel)" = '"C:\Program Files\Motrel\Motrel.exe"' ] ||
    fail "no sign-in entry with /AUTOSTART: $(reg_value "$run_key" Motrel)"
uninstall_silently
echo "the zip, a bundle without its graphical effects and the installer behave under wine"
