#!/usr/bin/env bash
# The Windows build end to end under wine, in a wine prefix of its own that is made before the
# timed parts: the zip as a user unpacks it (the arch case) with its licenses, the same bundle
# without one of the scene's modules or a license, and the installer: silent install, Motrel
# started from where it installed, the Start-menu entry, the uninstall key, the sign-in entry only
# when asked for and kept by a reinstall, the firewall rule (wine's netsh only logs it), a silent
# uninstall that leaves nothing behind, and one from a folder shared with another program, whose
# files stay, after an upgrade that went there and ended the running Motrel.
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
check_licenses "$unpacked/Motrel" || fail "the zip lacks some of its licenses"
e2e --motrel "$unpacked/Motrel/Motrel.exe" "$@" arch

# The gauges' style imports the graphical effects: without them the scene cannot load.
cp -r "$unpacked/Motrel" "$workdir/incomplete"
rm -r "$workdir/incomplete/qml/QtGraphicalEffects"
# The bundle check refuses a bundle without a license that a part of it asks for.
rm "$workdir/incomplete/LICENSES/LGPL-3.txt"
if check_licenses "$workdir/incomplete" 2>"$workdir/licenses.log"; then
    fail "the bundle check took a bundle without the LGPL"
fi
grep -q 'LGPL-3.txt' "$workdir/licenses.log" || fail "the bundle check did not name LGPL-3.txt: $(cat "$workdir/licenses.log")"
e2e --motrel "$workdir/incomplete/Motrel.exe" "$@" no_scene

program_files='C:\Program Files\Motrel'
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Motrel.lnk"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Motrel'
run_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Run'

# Runs a Windows program to its end and that of every process it started; its netsh calls
# are kept in $workdir/netsh.log.
run_through() {
    WINEDEBUG=fixme+netsh wine "$@" 2>"$workdir/netsh.log"
    timeout 300 wineserver -w || fail "a program that $1 started still ran five minutes on"
}

reg_value() {
    wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
        awk -v name="$2" '$1 == name { sub(/^ *[^ ]+ +[^ ]+ +/, ""); print }'
}

unix_path() { winepath -u "$1" 2>/dev/null; }

firewall_rule_logged() {
    grep -q "\"advfirewall\".*\"firewall\".*\"$1\".*\"rule\".*Motrel" "$workdir/netsh.log" ||
        fail "the ${2} did not $1 the firewall rule: $(cat "$workdir/netsh.log")"
}

# A silent install with ARGS, expected in the Windows folder FOLDER.
install_silently() {
    local folder=$1
    shift
    run_through "$build/Motrel-setup.exe" /S "$@"
    [ -f "$(unix_path "$folder")/Motrel.exe" ] || fail "no Motrel.exe in $folder after a silent install"
    [ -f "$(unix_path "$folder")/LICENSES/NOTICE.txt" ] || fail "no LICENSES\NOTICE.txt in $folder"
    firewall_rule_logged add installer
    grep -q '"protocol=UDP".*"localport=35000".*"remoteip=localsubnet".*"profile=any"' "$workdir/netsh.log" ||
        fail "the firewall rule is not for UDP port 35000 from the local subnet in every profile: $(cat "$workdir/netsh.log")"
    [ -f "$shortcut" ] || fail "no Start-menu entry"
    [ "$(reg_value "$uninstall_key" DisplayName)" = Motrel ] || fail "no uninstall key named Motrel"
    [ "$(reg_value "$uninstall_key" InstallLocation)" = "$folder" ] ||
        fail "the uninstall key is for $(reg_value "$uninstall_key" InstallLocation), not $folder"
    [ -n "$(reg_value "$uninstall_key" DisplayVersion)" ] || fail "the uninstall key has no version"
    [[ $(reg_value "$uninstall_key" DisplayIcon) == *'\Motrel.exe,0' ]] || fail "the uninstall key has no icon"
    [[ $(reg_value "$uninstall_key" EstimatedSize) =~ ^0x[0-9a-f]*[1-9a-f] ]] || fail "the uninstall key has no size"
}

# A silent uninstall from FOLDER, which must then hold exactly the FILES given (relative paths).
uninstall_silently() {
    local folder=$1 left
    shift
    run_through "$folder\\Uninstall.exe" /S
    firewall_rule_logged delete uninstaller
    left=$( (cd "$(unix_path "$folder")" 2>/dev/null && find . -type f -printf '%P\n') || true)
    same_lines "the files left in $folder" "$(printf '%s\n' "$@")" "$left"
    [ $# -gt 0 ] || [ ! -e "$(unix_path "$folder")" ] || fail "the uninstaller left the folder $folder"
    [ ! -e "$shortcut" ] || fail "the uninstaller left the Start-menu entry"
    [ -z "$(reg_value "$uninstall_key" DisplayName)" ] || fail "the uninstaller left its key"
    [ -z "$(reg_value "$run_key" Motrel)" ] || fail "the uninstaller left the sign-in entry"
}

signs_in() {
    [ "$(reg_value "$run_key" Motrel)" = "\"$1\\Motrel.exe\"" ] ||
        fail "$2: the sign-in entry is $(reg_value "$run_key" Motrel)"
}

install_silently "$program_files"
[ -z "$(reg_value "$run_key" Motrel)" ] || fail "a sign-in entry without /AUTOSTART"
e2e --motrel "$(unix_path "$program_files")/Motrel.exe" "$@" frame
uninstall_silently "$program_files"

# The sign-in choice survives a reinstall, until /AUTOSTART=0.
install_silently "$program_files" /AUTOSTART
signs_in "$program_files" "with /AUTOSTART"
install_silently "$program_files"
signs_in "$program_files" "after a reinstall"
install_silently "$program_files" /AUTOSTART=0
[ -z "$(reg_value "$run_key" Motrel)" ] || fail "a sign-in entry after /AUTOSTART=0"
uninstall_silently "$program_files"

# A folder that another program shares: its files stay. An upgrade goes there too, not into
# Program Files, and ends the Motrel that runs (a stand-in that waits for a key).
shared='C:\Tools'
other_files=(other.dll plugins/other/other.dll qml/Other/qmldir)
for file in "${other_files[@]}"; do
    mkdir -p "$(dirname "$(unix_path "$shared")/$file")"
    echo other >"$(unix_path "$shared")/$file"
done
install_silently "$shared" "/D=$shared"
mkdir -p "$workdir/running"
cp "$WINEPREFIX/drive_c/windows/system32/cmd.exe" "$workdir/running/Motrel.exe"
exec {no_key}< <(sleep 600)
key_wait=$!
# Nothing of it outlives the case, passed or failed.
trap 'kill "$key_wait" 2>/dev/null || true; wineserver -k 2>/dev/null || true' EXIT
wine "$workdir/running/Motrel.exe" /c pause <&"$no_key" >/dev/null 2>&1 &
running=$!
exec {no_key}<&-
install_silently "$shared"
kill -0 "$running" 2>/dev/null && fail "the upgrade did not end the running Motrel"
[ ! -e "$(unix_path "$program_files")" ] || fail "the upgrade made a second copy in $program_files"
uninstall_silently "$shared" "${other_files[@]}"
echo "the zip, a bundle without its graphical effects and the installer behave under wine"
