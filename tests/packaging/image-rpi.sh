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
# The SD card's drivers (Pi 3 and Pi 4) and ext4 (stored uncompressed ahead of the rest, their
# files being compressed already), and none of the disks, networks or USB a board
# does not boot from.
modules=$(boot_file "$rpi" "$initrd" | grep -ao '[[:alnum:]_-]*\.ko' | sort -u)
for module in bcm2835.ko sdhci-iproc.ko fixed.ko gpio-regulator.ko ext4.ko; do
    grep -qx "$module" <<<"$modules" || fail "the initrd lacks $module: $modules"
done
! grep -qE '^(nvme|usb-storage|uas|ahci|virtio_net|e1000e|dm-mod|raid[0-9]+)\.ko$' <<<"$modules" ||
    fail "the initrd holds modules the board does not boot from: $modules"
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
# The disk's own settings writer, on the file as a Windows editor leaves it (an open network).
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root_file "$rpi" /usr/local/sbin/motrel-wifi >"$work/motrel-wifi"
printf 'ssid=Bridge 4\r\npsk=\r\ncountry=DE\r\n' >"$work/settings"
sh "$work/motrel-wifi" "$work/settings" "$work/conf"
same_lines "wpa_supplicant's settings" $'country=DE\nnetwork={\n\tssid="Bridge 4"\n\tkey_mgmt=NONE\n}' "$(cat "$work/conf")"
root_has "$rpi" /etc/systemd/system/sys-subsystem-net-devices-wlan0.device.wants/motrel-wifi.service ||
    fail "the Wi-Fi client does not start with wlan0"
[[ $(root_file "$rpi" /etc/systemd/network/50-motrel.network.d/match.conf) == *Type=wlan* ]] ||
    fail "the static address is not on the Wi-Fi interface"
# systemd arms the Pi's hardware watchdog, whose driver the kernel has as a module.
[[ $(root_file "$rpi" /etc/systemd/system.conf.d/motrel-watchdog.conf) == *RuntimeWatchdogSec=15s* ]] ||
    fail "systemd arms no hardware watchdog"
kernel_release=${kernel#vmlinuz-}
root_has "$rpi" "/usr/lib/modules/$kernel_release/kernel/drivers/watchdog/bcm2835_wdt.ko.xz" ||
    fail "the kernel has no bcm2835_wdt for the Pi's watchdog"
[ "$(root_file "$rpi" /var/lib/dpkg/status | sha256sum)" = "$(root_file "$virt" /var/lib/dpkg/status | sha256sum)" ] ||
    fail "the Pi's installed packages differ from the virt disk's"
