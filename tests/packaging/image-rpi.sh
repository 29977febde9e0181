#!/usr/bin/env bash
# The Raspberry Pi disk, as far as it can be checked without the board: its partitions,
# the firmware, kernel, initrd and device trees on the boot partition, config.txt and
# cmdline.txt, the initrd's few modules, the watchdogs, the Wi-Fi firmware and settings,
# and the same installed system as the virt disk that the boot case runs.
#   image-rpi.sh RPI_IMAGE VIRT_IMAGE
set -euo pipefail
# shellcheck source-path=SCRIPTDIR
. "$(dirname "$0")/lib.sh"

rpi=$1 virt=$2
[ -f "$rpi" ] && [ -f "$virt" ] || skip "no disk images: scripts/image --board rpi, then --board virt"
need mtype mtools
need debugfs e2fsprogs
need sfdisk fdisk

table=$(sfdisk -d "$rpi")
root_start=$(sed -nE 's/^.*2 : start= *([0-9]+),.*/\1/p' <<<"$table")
same_lines "the partition table" \
"label: dos
label-id: 0x4d6f7472
boot start=2048 type=c bootable
root start=526336 type=83" \
    "$(sed -nE 's/^label(-id)?: .*/&/p; s/^.*1 : start= *([0-9]+),.*type=([0-9a-f]+), (bootable)$/boot start=\1 type=\2 \3/p
              s/^.*2 : start= *([0-9]+),.*type=([0-9a-f]+)$/root start=\1 type=\2/p' <<<"$table")"

boot_file() { mtype -i "$1@@1048576" "::$2"; }
boot_files=$(mdir -b -i "$rpi@@1048576" :: | sed 's|^::/||')
config=$(boot_file "$rpi" config.txt)
cmdline=$(boot_file "$rpi" cmdline.txt)
kernel=$(sed -n 's/^kernel=//p' <<<"$config")
initrd=$(sed -nE 's/^initramfs ([^ ]+).*/\1/p' <<<"$config")
[[ $config == *arm_64bit=1* ]] || fail "config.txt does not start the 64-bit kernel: $config"
# Pi 3: bootcode.bin, start.elf; Pi 4: start4.elf. Their device trees, the kernel and initrd.
for file in bootcode.bin start.elf fixup.dat start4.elf fixup4.dat bcm2837-rpi-3-b.dtb bcm2837-rpi-3-b-plus.dtb \
            bcm2711-rpi-4-b.dtb "$kernel" "$initrd" motrel-wifi.txt; do
    grep -qx "$file" <<<"$boot_files" || fail "the boot partition has no $file (has: $boot_files)"
done
[[ " $cmdline " == *" root=PARTUUID=4d6f7472-02 ro "* ]] || fail "cmdline.txt mounts no read-only root: $cmdline"
[[ " $cmdline " == *" fsck.mode=skip "* ]] || fail "cmdline.txt lets the initrd write to the root: $cmdline"
for option in quiet panic=5 oops=panic; do
    [[ " $cmdline " == *" $option "* ]] || fail "cmdline.txt lacks $option: $cmdline"
done
# The SD card's drivers (Pi 3 and Pi 4), ext4 and the screen's driver (stored uncompressed ahead
# of the rest, their files being compressed already), and none of the disks, networks or USB a board
# does not boot from.
modules=$(boot_file "$rpi" "$initrd" | grep -ao '[[:alnum:]_-]*\.ko' | sort -u)
for module in bcm2835.ko sdhci-iproc.ko fixed.ko gpio-regulator.ko ext4.ko vc4.ko i2c-bcm2835.ko; do
    grep -qx "$module" <<<"$modules" || fail "the initrd lacks $module: $modules"
done
! grep -qE '^(nvme|usb-storage|uas|ahci|virtio_net|e1000e|dm-mod|raid[0-9]+)\.ko$' <<<"$modules" ||
    fail "the initrd holds modules the board does not boot from: $modules"
# It loads them by name and starts no udev of its own (its compressed part, after the modules).
main_archive() { python3 -c 'import gzip, sys; d = sys.stdin.buffer.read()
sys.stdout.buffer.write(gzip.decompress(d[d.find(b"\x1f\x8b", d.find(b"TRAILER!!!")):]))'; }
! boot_file "$rpi" "$initrd" | main_archive | grep -aq usr/lib/systemd/systemd-udevd ||
    fail "the initrd starts udev before the root's does"
wifi=$(boot_file "$rpi" motrel-wifi.txt | tr -d '\r' | grep -v '^#')
same_lines "motrel-wifi.txt" $'ssid=\npsk=\ncountry=' "$wifi"

root_file() { debugfs -R "cat $2" "$1?offset=$((root_start * 512))" 2>/dev/null; }
root_has() { debugfs -R "stat \"$2\"" "$1?offset=$((root_start * 512))" 2>/dev/null | grep -q '^Inode:'; }
# The Wi-Fi chips' firmware and the boards' settings for it: Pi 3 (43430), Pi 3 B+ and 4 (43455);
# the radio rules of each country, which country= in motrel-wifi.txt picks among.
for file in brcm/brcmfmac43430-sdio.bin brcm/brcmfmac43430-sdio.raspberrypi,3-model-b.txt brcm/brcmfmac43455-sdio.bin \
            brcm/brcmfmac43455-sdio.raspberrypi,4-model-b.txt regulatory.db; do
    root_has "$rpi" "/usr/lib/firmware/$file" || fail "no Wi-Fi firmware file $file"
done
# The disk's own settings writer on files as people write them: a settings file (printf's
# format), then wpa_supplicant's settings, or the status and the one line refusing the file.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root_file "$rpi" /usr/local/sbin/motrel-wifi >"$work/motrel-wifi"
hex=$(printf '%064d' 0 | tr 0 a)
refused="78 motrel-wifi: settings"
while IFS='|' read -r settings expected; do
    # shellcheck disable=SC2059 # the rows are formats
    printf "$settings" >"$work/settings"
    if sh "$work/motrel-wifi" "$work/settings" "$work/conf" 2>"$work/refused"; then actual=$(cat "$work/conf")
    else actual="$? $(cat "$work/refused")"; fi
    # shellcheck disable=SC2059
    same_lines "wpa_supplicant's settings from $settings" "$(printf "$expected")" "$actual"
done <<ROWS
\xef\xbb\xbfssid = Bridge 4 \r\n# the bridge\r\npsk = \r\ncountry = de \r\n|country=DE\nnetwork={\n\tssid="Bridge 4"\n\tkey_mgmt=NONE\n}
ssid=Bridge\npsk= 8 chars! \n|network={\n\tssid="Bridge"\n\tpsk="8 chars!"\n}
ssid=Bridge\npsk=$hex\n|network={\n\tssid="Bridge"\n\tpsk=$hex\n}
ssid=\n|$refused line 1: ssid= takes the network name, 1 to 32 bytes
ssid=123456789012345678901234567890123\n|$refused line 1: ssid= takes the network name, 1 to 32 bytes
# a note\nssid=Bridge\npsk=7 chars\n|$refused line 3: psk= takes a passphrase of 8 to 63 characters, 64 hexadecimal digits, or nothing for an open network
ssid=Bridge\npsk=${hex}a\n|$refused line 2: psk= takes a passphrase of 8 to 63 characters, 64 hexadecimal digits, or nothing for an open network
ssid=Bridge\ncountry=DEU\n|$refused line 2: country= takes a two-letter code such as DE
psk=\n|$refused has no ssid= line
ROWS
[[ $(root_file "$rpi" /etc/systemd/system/motrel-wifi.service) == *RestartPreventExitStatus=78* ]] ||
    fail "the Wi-Fi client retries a settings file it refused"
[[ $(root_file "$rpi" /etc/fstab) == *"/boot/firmware "*umask=077* ]] || fail "every user reads the boot partition's passphrase"
root_has "$rpi" /etc/systemd/system/sys-subsystem-net-devices-wlan0.device.wants/motrel-wifi.service ||
    fail "the Wi-Fi client does not start with wlan0"
[[ $(root_file "$rpi" /etc/systemd/network/50-motrel.network.d/match.conf) == *Type=wlan* ]] ||
    fail "the static address is not on the Wi-Fi interface"
[[ $(root_file "$rpi" /etc/systemd/system/systemd-udev-trigger.service.d/motrel.conf) == *After=motrel-kiosk.service* ]] ||
    fail "udev replays the board's devices beside the dashboard's start"
[[ $(root_file "$rpi" /etc/systemd/system/motrel-kiosk.service.d/first.conf) == *"test -c /dev/fb0 || udevadm trigger"* ]] ||
    fail "a screen whose driver waits for udev's replay stays dark until the unit's time-out"
# systemd arms the Pi's hardware watchdog, whose driver the kernel has as a module.
[[ $(root_file "$rpi" /etc/systemd/system.conf.d/motrel-watchdog.conf) == *RuntimeWatchdogSec=15s* ]] ||
    fail "systemd arms no hardware watchdog"
# The Pi keeps the package's 4-s watchdog on its dashboard; only the emulated board waits longer.
root_has "$virt" /etc/systemd/system/motrel-kiosk.service.d/emulated.conf &&
    ! root_has "$rpi" /etc/systemd/system/motrel-kiosk.service.d/emulated.conf ||
    fail "the emulated board's longer watchdog is not the virt disk's alone"
kernel_release=${kernel#vmlinuz-}
root_has "$rpi" "/usr/lib/modules/$kernel_release/kernel/drivers/watchdog/bcm2835_wdt.ko.xz" ||
    fail "the kernel has no bcm2835_wdt for the Pi's watchdog"
[ "$(root_file "$rpi" /var/lib/dpkg/status | sha256sum)" = "$(root_file "$virt" /var/lib/dpkg/status | sha256sum)" ] ||
    fail "the Pi's installed packages differ from the virt disk's"
# Every package's copyright file, which must travel with it.
debugfs -R "rdump /usr/share/doc $work" "$rpi?offset=$((root_start * 512))" 2>/dev/null
without=$(root_file "$rpi" /var/lib/dpkg/status | sed -n 's/^Package: //p' |
          while read -r package; do [ -f "$work/doc/$package/copyright" ] || echo "$package"; done)
[ -z "$without" ] || fail "packages without /usr/share/doc/PACKAGE/copyright: $without"

# The owner's way in: each disk has host keys of its own, and the disk's own account maker
# takes userconf.txt as people write it or refuses it in one line.
[ "$(root_file "$rpi" /etc/ssh/ssh_host_ed25519_key.pub)" != "$(root_file "$virt" /etc/ssh/ssh_host_ed25519_key.pub)" ] ||
    fail "the two disks share their SSH host keys"
root_file "$rpi" /usr/local/sbin/motrel-owner >"$work/motrel-owner"
mkdir "$work/boot"
# shellcheck disable=SC2016 # a hash, not an expansion
hash='$6$motrel$0123456789abcdefABCDEF./'
refused="1 motrel-owner: userconf.txt:"
while IFS='|' read -r userconf expected; do
    # shellcheck disable=SC2059 # the rows are formats
    printf "$userconf" >"$work/boot/userconf.txt"
    if actual=$(sh "$work/motrel-owner" "$work/boot" "$work/userdb" "$work/home" 2>&1); then actual="0 $actual"
    else actual="$? $actual"; fi
    same_lines "the account from $userconf" "$expected" "$actual"
done <<ROWS
\xef\xbb\xbfowner:$hash\r\n|0 motrel-owner: account owner from userconf.txt
owner\n|$refused no colon between the name and the password; no account made
owner:secret\n|$refused the password of owner is not a crypt hash: write the output of openssl passwd -6; no account made
root:$hash\n|$refused the name "root" is taken by the system; no account made
\r\n|$refused no name:password line; no account made
ROWS
