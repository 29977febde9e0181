# The disk image of scripts/image: the cached base system, the package, the partitions.
# shellcheck shell=bash

image_packages=(mmdebstrap arch-test qemu-user-static mtools dosfstools fdisk e2fsprogs openssh-client)
image_suite=trixie
image_mirror=http://deb.debian.org/debian
image_components=main,non-free-firmware
image_dir=$top/packaging/image
# One base system for every board: systemd and the kernel (e2fsprogs before it, so that
# the initrd can check the root when fsck.mode=force asks; each board's cmdline.txt skips
# the check, since nothing writes the root and the check would), the dashboard's run-time
# packages (run_packages but ip, which networkd makes unneeded), and what a Raspberry Pi
# adds (its firmware, Wi-Fi firmware, the radio rules of each country, the Wi-Fi client),
# and the way in that an owner turns on from the boot partition (an account, sudo, SSH).
image_base_packages=(systemd systemd-sysv udev dbus libnss-systemd kmod e2fsprogs initramfs-tools
                     linux-image-arm64 fonts-dejavu-core raspi-firmware firmware-brcm80211 wireless-regdb
                     wpasupplicant login passwd sudo openssh-server)
# No documentation, manual pages or translations on a small disk, but every package's
# copyright file, which must travel with it.
image_dpkg_options=(path-exclude=/usr/share/doc/* path-include=/usr/share/doc/*/copyright
                    path-exclude=/usr/share/man/* path-exclude=/usr/share/locale/*)
# The disk: label id (partitions are PARTUUID=4d6f7472-01 and -02), a FAT partition the
# boot firmware reads, then the root file system.
image_label_id=0x4d6f7472
image_fat_mib=256
image_root_label=motrel-root
# On every board's kernel command line: no kernel chatter on the screen or the slow serial
# console, and a reboot a few seconds after a panic or an oops, since nobody is there to do it.
image_kernel_options="quiet panic=5 oops=panic"

image_cache() { echo "${MOTREL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/motrel}"; }

# binfmt_misc runs the target's package scripts under qemu-user; a fresh machine or a
# container may have it neither mounted nor registered.
ensure_binfmt() {
    local arch=$1 misc=/proc/sys/fs/binfmt_misc
    [ -e "$misc/register" ] || as_root mount -t binfmt_misc binfmt_misc "$misc"
    [ -e "$misc/qemu-$arch" ] && return 0
    say "registering qemu-$arch-static with binfmt_misc"
    as_root sh -c "cat /usr/lib/binfmt.d/qemu-$arch.conf > $misc/register"
}

# The cached base system (a directory tree), built with mmdebstrap when missing. Its
# name holds a hash of what goes into it.
base_system() {
    local packages key base
    packages=$(printf '%s\n' "${image_base_packages[@]}" "${run_packages[@]}" | grep -vx iproute2 | sort -u | paste -sd,)
    key=$({ echo "$image_suite $image_mirror $image_components $packages ${image_dpkg_options[*]}"
            (cd "$image_dir/common/base" && find . -type f | sort | xargs sha256sum); } | sha256sum | cut -c1-12)
    base=$(image_cache)/image-base-arm64-$key
    if [ ! -d "$base" ]; then
        say "building the base system in $base (Debian $image_suite, arm64, under qemu-user)"
        mkdir -p "$(dirname "$base")"
        as_root rm -rf "$base.part"
        as_root mmdebstrap --arch=arm64 --variant=minbase --components="$image_components" \
            --include="$packages" "${image_dpkg_options[@]/#/--dpkgopt=}" \
            --essential-hook="cp -a '$image_dir/common/base/.' \"\$1\"/" \
            --format=directory "$image_suite" "$base.part" "$image_mirror" >&2
        mv "$base.part" "$base"
    fi
    echo "$base"
}

# Runs a command inside the target tree (its programs under qemu-user).
in_tree() {
    local tree=$1; shift
    as_root chroot "$tree" /usr/bin/env -i PATH=/usr/sbin:/usr/bin DEBIAN_FRONTEND=noninteractive "$@"
}

# Installs the package with apt, offline: its Depends resolve from the base system,
# Debian 13's Provides included.
install_package() {
    local tree=$1 deb=$2
    as_root cp "$deb" "$tree/tmp/motrel.deb"
    in_tree "$tree" apt-get install -y /tmp/motrel.deb >&2
    as_root rm "$tree/tmp/motrel.deb"
    in_tree "$tree" dpkg-query -W motrel >&2
}

# The board's files over the common ones, the units it starts, and what a read-only
# root needs ready.
configure_board() {
    local tree=$1 board=$2 units
    as_root cp -a "$image_dir/common/rootfs/." "$image_dir/$board/rootfs/." "$tree/"
    mapfile -t units < <(grep -v '^#' "$image_dir/$board/units")
    as_root systemctl --root="$tree" enable motrel-kiosk.service systemd-networkd.service "${units[@]}"
    # Nothing the board does not need at boot or later: no package timers on a read-only
    # root, no D-Bus Wi-Fi service ahead of network.target (motrel-wifi runs its own client).
    as_root systemctl --root="$tree" mask wpa_supplicant.service apt-daily.timer apt-daily-upgrade.timer dpkg-db-backup.timer \
        e2scrub_all.timer e2scrub_reap.service fstrim.timer systemd-networkd-wait-online.service
    # The cache directory a dynamic user gets, already linked to the memory file system.
    as_root ln -sfn private/motrel "$tree/var/cache/motrel"
    # The journal stays in memory; its folder on disk only made tmpfiles fail on the read-only root.
    as_root rm -rf "$tree/var/log/journal"
    # A fresh machine id at every boot, kept in memory; D-Bus reads it through a link.
    as_root truncate -s 0 "$tree/etc/machine-id"
    as_root ln -sfn /etc/machine-id "$tree/var/lib/dbus/machine-id"
    echo motrel | as_root tee "$tree/etc/hostname" >/dev/null
    # No name servers: the board needs none, and mmdebstrap left the build machine's.
    as_root rm -f "$tree/etc/resolv.conf"
    as_root rm -rf "$tree/var/lib/apt/lists/"* "$tree/var/cache/apt/"*.bin
    kiosk_units_off "$tree"
    board_initramfs "$tree"
}

# What a read-only kiosk never uses, each a process of its own at every boot: state kept for
# the next boot on a disk nothing writes (network, random seed, crash logs), network settings
# from the kernel's command line or credentials, and the kernel's debug, tracing, FUSE,
# configfs, huge page and message queue file systems; device nodes made ahead for modules
# that may never load (they hold up every mount of the memory file systems); a remount of
# the root the initrd already mounted read-only, which holds up the dashboard; and generators
# for what the board has not: GPT root discovery, hibernation, rc.local and SysV scripts,
# offline updates, a TPM.
kiosk_units_off() {
    local generator
    as_root systemctl --root="$1" mask systemd-networkd-persistent-storage.service systemd-random-seed.service \
        systemd-pstore.service modprobe@efi_pstore.service systemd-network-generator.service \
        systemd-udev-load-credentials.service sys-kernel-debug.mount sys-kernel-tracing.mount modprobe@fuse.service \
        sys-fs-fuse-connections.mount modprobe@configfs.service sys-kernel-config.mount dev-hugepages.mount \
        dev-mqueue.mount kmod-static-nodes.service systemd-tmpfiles-setup-dev-early.service \
        systemd-tmpfiles-setup-dev.service systemd-remount-fs.service
    as_root mkdir -p "$1/etc/systemd/system-generators"
    for generator in gpt-auto hibernate-resume rc-local sysv system-update tpm2; do
        as_root ln -sfn /dev/null "$1/etc/systemd/system-generators/systemd-$generator-generator"
    done
}

# The initrd again, now with only the board's modules (its rootfs overlay lists them): the
# base's holds most of the kernel's drivers, which cost time to load and to unpack.
board_initramfs() {
    local tree=$1 initrd
    for initrd in "$tree"/boot/initrd.img-*; do
        in_tree "$tree" mkinitramfs -o "/boot/${initrd##*/}" "${initrd##*/initrd.img-}" >&2
        # The copy the Pi's firmware reads (raspi-firmware's hook wants a mounted /boot/firmware).
        [ ! -e "$tree/boot/firmware/${initrd##*/}" ] || as_root cp "$initrd" "$tree/boot/firmware/"
    done
}

# The way in that the owner turns on from the boot partition: userconf.txt makes the account
# at each boot, a file named ssh starts the SSH server. Its host keys are this image's own
# (the base's would be every image's), made here, since no boot writes to the card.
owner_access() {
    local tree=$1 host type
    host=$(cat "$tree/etc/hostname")
    as_root systemctl --root="$tree" enable motrel-owner.service
    # No SSH server at all without the file, not even systemd's one on a local socket.
    as_root mkdir -p "$tree/etc/systemd/system-generators"
    as_root ln -sfn /dev/null "$tree/etc/systemd/system-generators/systemd-ssh-generator"
    as_root rm -f "$tree"/etc/ssh/ssh_host_*
    for type in rsa ecdsa ed25519; do
        as_root ssh-keygen -q -t "$type" -N '' -C "root@$host" -f "$tree/etc/ssh/ssh_host_${type}_key"
    done
    # sudo looks up the board's name; the base has no hosts file at all.
    printf '127.0.0.1\tlocalhost\n::1\t\tlocalhost\n127.0.1.1\t%s\n' "$host" | as_root tee "$tree/etc/hosts" >/dev/null
}

# The boot partition's files: on a Raspberry Pi the firmware, kernel, initrd, device
# trees and config.txt that raspi-firmware put in /boot/firmware, on virt the kernel and
# initrd; then the board's own (cmdline.txt).
boot_files() {
    local tree=$1 board=$2 dir=$3
    if [ "$board" = rpi ]; then
        as_root cp -rL "$tree/boot/firmware/." "$dir/"
    else
        as_root cp "$tree"/boot/vmlinuz-* "$dir/vmlinuz"
        as_root cp "$tree"/boot/initrd.img-* "$dir/initrd.img"
    fi
    as_root rm -rf "$tree/boot/firmware/"*
    as_root cp "$image_dir/$board/boot/"* "$dir/"
    as_root sed -i "1s/\$/ $image_kernel_options/" "$dir/cmdline.txt"
}

# The raw disk: MBR, the FAT boot partition (mtools), the ext4 root (mkfs.ext4 -d).
write_image() {
    local tree=$1 board=$2 image=$3 work boot mib root_mib
    work=$(mktemp -d "$image.XXXXXX")
    boot=$work/boot
    mkdir "$boot"
    boot_files "$tree" "$board" "$boot"
    mkfs.fat -C -n MOTREL-BOOT "$work/boot.img" $((image_fat_mib * 1024)) >/dev/null
    mcopy -s -i "$work/boot.img" "$boot/"* ::
    # The tree and a fifth more for the file system's own tables; it is never written to.
    mib=$(as_root du -sm "$tree" | cut -f1)
    root_mib=$((mib + mib / 5 + 32))
    as_root mkfs.ext4 -q -F -L "$image_root_label" -d "$tree" "$work/root.img" "${root_mib}M"
    truncate -s $(((1 + image_fat_mib + root_mib) * 1024 * 1024)) "$work/disk.img"
    sfdisk -q "$work/disk.img" <<PARTITIONS
label: dos
label-id: $image_label_id
start=1MiB, size=${image_fat_mib}MiB, type=c, bootable
start=$((1 + image_fat_mib))MiB, type=83
PARTITIONS
    dd if="$work/boot.img" of="$work/disk.img" bs=1M seek=1 conv=notrunc,sparse status=none
    dd if="$work/root.img" of="$work/disk.img" bs=1M seek=$((1 + image_fat_mib)) conv=notrunc,sparse status=none
    if [ "$board" = virt ]; then
        # QEMU boots the kernel and initrd it is given, with the command line the FAT holds.
        cp "$boot/vmlinuz" "${image%.img}.vmlinuz"
        cp "$boot/initrd.img" "${image%.img}.initrd"
        cp "$boot/cmdline.txt" "${image%.img}.cmdline"
    fi
    mv "$work/disk.img" "$image"
    rm -rf "$work"
}
