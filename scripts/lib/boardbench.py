"""scripts/bench --board: the virt disk of scripts/image booted under QEMU's instruction counter.

With -icount shift=0 the guest runs one instruction per virtual nanosecond, about a 1 GHz
in-order core, and every figure here is the guest's own time, which repeats from run to run
on a busy host. QEMU's default sleep=on is kept: with sleep=off the guest's clock races from
timer to timer while the host serves the disk. The figures are read inside the guest through
the boot's GuestShell; the programs the guest runs beside the dashboard (the baseline and a
sender of frames) come on a second, read-only disk.
"""
import os
import re
import subprocess
import tempfile
import time

import harness

BOOT_TIMEOUT = 600         # wall seconds: under icount, TCG runs one thread
FRAME_POLL_S = 0.2         # between screendumps while waiting for the first frame
STREAM_RATE = 20           # frames per second, sent inside the guest in its own time
SENDER_PORT = 35001        # the sender's port beside the dashboard's on the same board
SWEEP_S = 3                # the start-up sweep (2 s) and a margin
STREAM_SETTLE_S = 5        # the identification, then the needles under way
PROGRAMS = ("bench/motrel_baseline", "bench/bench_sender")
UNIT = "motrel-kiosk.service"
DISK_ID = "motrel-bench"
# Moments of the boot, in guest seconds after power on: label and how the guest tells it.
BOOT_ROWS = (
    ("the kernel hands over to the initramfs", "initramfs"),
    ("the initramfs has mounted the root", "root"),
    ("systemd starts", "systemd"),
    ("the kiosk unit starts", "unit"),
    ("Motrel starts (the unit's wait is over)", "motrel"),
    ("the unit is up (Motrel's READY at its first frame, where it says so)", "ready"),
    ("the first frame in a QMP screendump (at most)", "seen"),
)


def program_disk(work, arm_build):
    """A small ext4 disk holding the arm64 programs, made without mounting anything."""
    tree = os.path.join(work, "disk")
    os.makedirs(tree, exist_ok=True)
    for program in PROGRAMS:
        subprocess.run(["cp", os.path.join(arm_build, program), tree], check=True)
    disk = os.path.join(work, "programs.img")
    harness.sh("mkfs.ext4", "-q", "-F", "-d", tree, disk, "64M")
    return disk


def dmesg_seconds(dmesg, pattern):
    match = re.search(r"^\[\s*(\d+\.\d+)\] .*%s" % pattern, dmesg, re.M)
    harness.check(match, "no %r in the guest's kernel log" % pattern)
    return float(match.group(1))


def show_seconds(shell, unit, prop):
    """A monotonic timestamp of systemd's (microseconds) in seconds; the manager's for unit None."""
    value = shell.run("systemctl show -P %s %s" % (prop, unit or "")).strip()
    harness.check(value.isdigit() and int(value) > 0, "systemd has no %s for %s: %r" % (prop, unit, value))
    return int(value) / 1e6


class BoardBench:
    def __init__(self, session, image, arm_build, mode):
        self.session, self.image, self.mode = session, image, mode
        self.disk = program_disk(session.workdir, arm_build)
        self.fig = {}

    def run(self):
        dash_ns, _, tap = self.session.tap_namespace()
        machine = harness.Machine(self.session, self.image, dash_ns, tap, shell=True, extra_args=[
            "-icount", "shift=0",
            "-drive", "file=%s,format=raw,if=none,id=programs,readonly=on" % self.disk,
            "-device", "virtio-blk-pci,drive=programs,serial=" + DISK_ID])
        machine.boot()
        self.first_frame_seen(machine)
        shell = machine.shell
        shell.run("until systemctl is-active -q %s; do sleep 0.2; done" % UNIT, BOOT_TIMEOUT)
        self.boot_moments(shell)
        with open(os.path.join(self.session.workdir, "boot-analysis.txt"), "w") as analysis:
            analysis.write(shell.run("systemd-analyze critical-chain --no-pager %s; systemd-analyze blame --no-pager; dmesg"
                                     % UNIT))
        shell.run("mount -o ro /dev/disk/by-id/virtio-%s /mnt" % DISK_ID)
        motrel = int(shell.run("systemctl show -P MainPID %s" % UNIT))
        shell.run("sleep %d" % SWEEP_S)
        self.fig["idle"] = self.cpu_share(shell, motrel, self.mode.idle_s)
        frames = STREAM_RATE * (STREAM_SETTLE_S + self.mode.stream_s + 10)
        shell.run("/mnt/bench_sender 127.0.0.1 %d %d %d >/dev/null 2>&1 &" % (STREAM_RATE, frames, SENDER_PORT))
        shell.run("sleep %d" % STREAM_SETTLE_S)
        self.fig["stream_motrel"] = self.cpu_share(shell, motrel, self.mode.stream_s)
        baseline = int(shell.run(
            "systemctl stop %s; mkdir -p -m 0700 /run/baseline; QT_QPA_PLATFORM=linuxfb QT_QUICK_BACKEND=software "
            "XDG_RUNTIME_DIR=/run/baseline /mnt/motrel_baseline --moving >/run/baseline/log 2>&1 & echo $!" % UNIT))
        shell.run("sleep %d" % SWEEP_S)
        self.fig["stream_baseline"] = self.cpu_share(shell, baseline, self.mode.stream_s)
        machine.power_cut()
        return self.report()

    def first_frame_seen(self, machine):
        """At most the guest time when a screendump first shows the speedometer's needle: the stamp
        of the first console line the guest writes after it. The console is a file QEMU writes as the
        guest runs, so that line came after the screendump; the guest's shell comes too late for it,
        after the devices that the board replays behind the first frame."""
        deadline = time.monotonic() + BOOT_TIMEOUT
        while not self.needle_shown(machine):
            harness.check(time.monotonic() < deadline, "no dashboard on the screen within %d s" % BOOT_TIMEOUT)
            time.sleep(FRAME_POLL_S)
        stamp = machine.wait_serial(r"\[ *(\d+\.\d+)\]", BOOT_TIMEOUT, len(machine.serial()))
        self.fig["seen"] = float(stamp.group(1))

    @staticmethod
    def needle_shown(machine):
        try:
            return harness.needle_angle(machine.screenshot(), machine.geometry.speedo) is not None
        except harness.CheckFailed:  # no screen yet: the display's driver is not loaded
            return False

    def boot_moments(self, shell):
        dmesg = shell.run("dmesg")
        self.fig["initramfs"] = dmesg_seconds(dmesg, "Run /init as init process")
        self.fig["root"] = dmesg_seconds(dmesg, r"EXT4-fs \(vd[a-z]2\): mounted filesystem")
        self.fig["systemd"] = show_seconds(shell, None, "UserspaceTimestampMonotonic")
        for moment, prop in (("unit", "InactiveExitTimestampMonotonic"), ("motrel", "ExecMainStartTimestampMonotonic"),
                             ("ready", "ActiveEnterTimestampMonotonic")):
            self.fig[moment] = show_seconds(shell, UNIT, prop)

    def cpu_share(self, shell, pid, seconds):
        """The share of one core PID's threads take over SECONDS of guest time, in %; and of that,
        the share spent in the kernel, and the minor page faults per second."""
        sample = "cut -d' ' -f1 /proc/uptime; cat /proc/%d/task/*/schedstat; echo faults user kernel $(cut -d' ' -f10,14,15 /proc/%d/stat)" % (pid, pid)
        lines = shell.run("%s; sleep %g; %s" % (sample, seconds, sample)).split("\n")
        moments = [index for index, line in enumerate(lines) if len(line.split()) == 1]
        harness.check(len(moments) == 2, "no CPU sample of process %d: %s" % (pid, lines))
        before, after = lines[moments[0]:moments[1]], lines[moments[1]:]

        def cpu_ns(block):
            return sum(int(line.split()[0]) for line in block if len(line.split()) == 3 and line.split()[0].isdigit())

        def faults_user_kernel(block):
            fields = next(line for line in block if line.startswith("faults user kernel")).split()[3:]
            harness.check(len(fields) == 3, "process %d ended while its CPU was sampled" % pid)
            return [int(field) for field in fields]

        elapsed = float(after[0]) - float(before[0])
        used = cpu_ns(after) - cpu_ns(before)
        faults, user, kernel = (b - a for a, b in zip(faults_user_kernel(before), faults_user_kernel(after)))
        return {"cpu": used / 1e9 / elapsed * 100, "kernel": 100 * kernel / max(1, user + kernel),
                "faults": faults / elapsed}

    def report(self):
        f, rows, previous = self.fig, ["| moment (guest time) | after power on (s) | step (s) |", "|---|---|---|"], 0.0
        for label, key in BOOT_ROWS:
            rows.append("| %s | %.2f | %+.2f |" % (label, f[key], f[key] - previous))
            previous = f[key]
        rows += ["", "| figure (guest time) | Motrel | baseline | ratio | target |", "|---|---|---|---|---|",
                 "| idle CPU, bridge silent (%% of a core) | %.2f | - | - | <= 0.2 |" % f["idle"]["cpu"],
                 "| streaming CPU, both needles moving (%% of a core) | %.1f | %.1f | %.2f | ratio <= 1.2 |"
                 % (f["stream_motrel"]["cpu"], f["stream_baseline"]["cpu"],
                    f["stream_motrel"]["cpu"] / f["stream_baseline"]["cpu"]),
                 "| streaming: share of that CPU in the kernel (%%) | %.0f | %.0f | - | - |"
                 % (f["stream_motrel"]["kernel"], f["stream_baseline"]["kernel"]),
                 "| streaming: minor page faults per second | %.0f | %.0f | - | - |"
                 % (f["stream_motrel"]["faults"], f["stream_baseline"]["faults"])]
        return "\n".join(rows) + """

How it was measured: the virt disk booted under qemu-system-aarch64 -icount shift=0 (one guest
instruction per virtual nanosecond, about a 1 GHz in-order core; sleep=on), -smp 2. Moments come
from inside the guest: the kernel's log for the initramfs and the root, systemd's monotonic
timestamps for itself and for %s (left inactive, main process started, active), and the
stamp of the first console line written after the first screendump that shows the speedometer's
needle. CPU is the schedstat time of all the program's threads over %g s (idle) and %g s
(streaming) of guest time, its share in the kernel and its minor page faults from /proc/PID/stat (the kernel's share in
clock ticks, so only roughly);
while streaming, bench_sender sends %d frames/s in the guest's own time from port %d of the
board, each moving both needles; the baseline (bench/baseline --moving, its one needle always
moving) runs in place of the stopped kiosk unit on the same board.""" % (
            UNIT, self.mode.idle_s, self.mode.stream_s, STREAM_RATE, SENDER_PORT)
