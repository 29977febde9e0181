#!/usr/bin/python3
"""The whole boot: the scripts/image disk on QEMU's arm64 virt board, the kiosk unit, linuxfb, libinput
and the board's network facing bridgesim, seen and clicked through QMP only, power cuts, a hung
dashboard and a kernel panic included (made through the boot's GuestShell, which the image lacks).

usage: boot.py --motrel PATH --bridgesim PATH --workdir DIR --image DISK [--moments all|drive] boot

--moments drive leaves out the power cuts, each of which boots the board again.
"""
import os
import re
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "lib"))
import harness  # noqa: E402
from harness import DASHBOARD_ADDR, Machine, check, colour_name, log, stop, tile_fill  # noqa: E402
from e2e import expect_tiles, fixed_frame, gauge_reading, wait_for_rest  # noqa: E402

# Boot under TCG on a busy 2-core machine, then the dashboard's first frame.
BOOT_TIMEOUT = 420
DRIVE = (120, 3000)
UNIT = "motrel-kiosk.service"
# What a file system check or mount says when it had to mend something.
REPAIR = re.compile(r"recovering journal|FILE SYSTEM WAS MODIFIED|UNEXPECTED INCONSISTENCY|"
                    r"orphan|was not cleanly unmounted|needs_recovery|Repairing", re.IGNORECASE)
# An error from the dashboard or its unit in the journal on the console.
UNIT_ERROR = re.compile(r"%s: (Failed|Main process exited, code=(killed|dumped)|.*status=[1-9])|"
                        r"Motrel\[\d+\]: .*(error|fail|cannot|could not|warning)" % UNIT, re.IGNORECASE)
# What the unit logs when its watchdog ends a hung Motrel: the only errors a hang may leave.
WATCHDOG_KILL = re.compile(r"%s: (Watchdog timeout|Killing process \d+ \(Motrel\) with signal SIGABRT|"
                           r"Main process exited, code=(dumped|killed), status=(6/ABRT|9/KILL)|"
                           r"Failed with result 'watchdog')" % UNIT)
# The kernel held a CPU or a task far too long. Under TCG on a loaded host this happens now
# and then while a module loads; a dashboard it starves past its watchdog is rightly restarted.
KERNEL_STALL = re.compile(r"rcu: INFO: .*stall|soft lockup|blocked for more than \d+ seconds")
# How late the watchdog may end a hung Motrel past its interval, in the guest's seconds: under
# TCG on a loaded host the emulated board's timers fire late.
WATCHDOG_SLACK_S = 4.0
# A failure's log ends with this much of the console: CI keeps only the end of the log.
CONSOLE_TAIL = 30
# EXIT is tapped again if Motrel has not ended this many wall seconds after a tap.
EXIT_TAPS, EXIT_WAIT_S = 4, 15


class Drive:
    """The board, the simulator and what the moments share."""

    def __init__(self, session):
        self.session = session
        self.dash_ns, self.bridge_ns, tap = session.tap_namespace()
        self.sim = self.start_sim()
        self.machine = Machine(session, session.options.image, self.dash_ns, tap, shell=True)
        self.caused = []  # the console's lines of the errors a moment caused on purpose

    def start_sim(self, *options):
        return self.session.start_sim(self.bridge_ns, *options, *fixed_frame(*DRIVE, 200, "cold", "pn"))

    def live(self, name, timeout=60):
        image = wait_for_rest(self.machine, *DRIVE, timeout=timeout, name=name)
        expect_tiles(self.machine, image, CLD="blue", WRM="dark", COOLANT="dark", PN="blue", WIFI="blue", EXIT="blue")

    def boot(self, name):
        """Powers on and waits for the frames; checks the console shows no file system mended."""
        self.machine.boot()
        self.machine.wait_serial(r"Started %s" % re.escape(UNIT) + "|Started motrel-kiosk", BOOT_TIMEOUT)
        self.live(name, timeout=BOOT_TIMEOUT)
        elapsed = time.monotonic() - self.machine.started
        log("boot %d: dashboard with the bridge's frames %.1f s after power on" % (self.machine.boots, elapsed))
        repairs = [line for line in self.machine.serial().splitlines() if REPAIR.search(line)]
        check(not repairs, "boot %d: the file system was mended: %s" % (self.machine.boots, repairs))
        return elapsed

    def report(self):
        """What the board last said, what it says now of its dashboard and network, and the bridge."""
        machine = self.machine
        log("bridgesim " + ("runs" if self.sim.poll() is None else "ended: " + open(self.sim.log_path).read()))
        log("boot %d's console ends:\n%s" % (machine.boots, "\n".join(machine.serial().splitlines()[-CONSOLE_TAIL:])))
        if machine.process.poll() is None and machine.shell:
            try:
                image = machine.screenshot()
                log("on the screen: needles at %s, WIFI %s" % (gauge_reading(machine, image),
                                                               colour_name(tile_fill(image, machine.geometry, "WIFI"))))
                state = "systemctl show -p ActiveState,SubState,NRestarts %s; networkctl --no-pager -n 0 status"
                log(machine.shell.run(state % UNIT, 60))
            except (harness.CheckFailed, OSError) as failure:
                log("the board did not answer: %s" % failure)


# Moments

def dashboard_up(drive):
    drive.boot("up")


def devices_after_first_frame(drive):
    console = drive.machine.serial()
    ready, replay = console.find("Started " + UNIT), console.find("Starting systemd-udev-trigger.service")
    check(0 <= ready < replay, "udev replayed the board's devices before the dashboard's first frame")


def tap_exit(machine):
    """Taps EXIT until the unit says Motrel ended. The board's pointer comes with the devices
    replayed after the first frame: on a loaded host a tap can come before it exists."""
    mark = len(machine.serial())
    for _ in range(EXIT_TAPS):
        machine.click(*machine.geometry.tile_centre("EXIT"))
        try:
            return machine.wait_serial(r"%s: Deactivated successfully" % UNIT, EXIT_WAIT_S, mark)
        except harness.CheckFailed:
            continue
    raise harness.CheckFailed("EXIT tapped %d times: Motrel did not end" % EXIT_TAPS)


def exit_restarts(drive):
    machine = drive.machine
    mark = len(machine.serial())
    tap_exit(machine)
    machine.wait_serial(r"Started %s|Started motrel-kiosk" % UNIT, 30, mark)
    drive.live("after-exit")


def bridge_silent(drive):
    stop(drive.sim)
    image = wait_for_rest(drive.machine, 0, 0, timeout=30, name="silent")
    expect_tiles(drive.machine, image, WIFI="dark")


def bridge_back(drive):
    # The dashboard, identified already, probes no more: the bridge sends to it first.
    drive.sim = drive.start_sim("--peer", DASHBOARD_ADDR)
    drive.live("back")


def watchdog_armed(drive):
    watchdog = drive.machine.shell.run("cat /sys/class/watchdog/watchdog0/state /sys/class/watchdog/watchdog0/timeout")
    check(watchdog.split() == ["active", "15"], "the board's hardware watchdog is not armed for 15 s: %r" % watchdog)


def no_wifi_stack(drive):
    # networkd asks for nl80211 once it runs; by now it has.
    modules = drive.machine.shell.run("ls /sys/module")
    check("cfg80211" not in modules.split(), "cfg80211 was loaded on a board without Wi-Fi")


def guest_uptime(shell):
    return float(shell.run("cut -d' ' -f1 /proc/uptime"))


def console_seconds(line):
    """The guest's clock in a line the journal forwarded to the console."""
    stamp = re.match(r"\[\s*(\d+\.\d+)\]", line)
    check(stamp, "no time stamp in %r" % line)
    return float(stamp.group(1))


def motrel_hangs(drive):
    """A stopped Motrel is ended by the unit's watchdog and started again, all on the console."""
    machine, shell = drive.machine, drive.machine.shell
    span = shell.run("systemd-analyze timespan $(systemctl show -P WatchdogUSec %s)" % UNIT)
    interval = int(re.search(r"[μu]s: (\d+)", span).group(1)) / 1e6
    check(interval > 0, "the kiosk unit has no watchdog")
    mark = len(machine.serial())
    stopped = guest_uptime(shell)
    shell.run("kill -STOP $(systemctl show -P MainPID %s)" % UNIT)
    timeout = machine.wait_serial(r"\[[\d. ]+\][^\n]*%s: Watchdog timeout[^\n]*" % UNIT, 120, mark).group(0)
    late = console_seconds(timeout) - stopped
    check(late <= interval + WATCHDOG_SLACK_S, "the watchdog ended Motrel %.1f s after it stopped (interval %g s)"
          % (late, interval))
    machine.wait_serial(r"Started %s" % UNIT, 120, mark)
    drive.live("after-hang", timeout=120)
    log("watchdog ended the stopped Motrel %.1f s after it stopped (interval %g s)" % (late, interval))
    drive.caused += [line.strip() for line in machine.serial()[mark:].splitlines() if WATCHDOG_KILL.search(line)]


def kernel_panics(drive):
    """A kernel panic reboots the board by itself, back to the dashboard; the console tells."""
    machine = drive.machine
    mark = len(machine.serial())
    machine.shell.send("echo c > /proc/sysrq-trigger")
    machine.wait_serial(r"Kernel panic - not syncing", 60, mark)
    rebooting = machine.wait_serial(r"Rebooting in \d+ seconds", 60, mark)
    machine.wait_serial(r"Started %s" % UNIT, BOOT_TIMEOUT, rebooting.end())
    drive.live("after-panic", timeout=BOOT_TIMEOUT)


def power_cut_driving(drive):
    drive.machine.power_cut()
    drive.boot("after-cut-driving")


def power_cut_booting(drive):
    """Cut while systemd starts the system, before the dashboard."""
    drive.machine.power_cut()
    drive.machine.boot()
    drive.machine.wait_serial(r"systemd\[1\]: .*(Starting|Started|Reached)", BOOT_TIMEOUT)
    drive.machine.power_cut()
    drive.boot("after-cut-booting")


def power_cut_after_exit(drive):
    """Cut just after EXIT, while the unit restarts the dashboard."""
    tap_exit(drive.machine)
    drive.machine.power_cut()
    drive.boot("after-cut-exit")


def journal_clean(drive):
    # The chain ends at the root slice.
    chain = drive.machine.wait_serial(r"The time when unit became active[\s\S]*?└─-\.slice[^\n]*", 120)
    log("what the dashboard waited for in the last boot:\n" + chain.group(0))
    errors = []
    for boot in range(1, drive.machine.boots + 1):
        with open(os.path.join(drive.session.workdir, "boot%d.serial" % boot), errors="replace") as serial:
            lines = [line.strip() for line in serial]
        stalls = [line for line in lines if KERNEL_STALL.search(line)]
        if stalls:
            log("boot %d: the emulated board's kernel stalled, its watchdog kills excused: %s" % (boot, stalls))
        errors += [line for line in lines if UNIT_ERROR.search(line) and not (stalls and WATCHDOG_KILL.search(line))]
    for line in drive.caused:
        if line in errors:
            errors.remove(line)
    check(not errors, "errors from Motrel or its unit: %s" % errors)


def disk_untouched(drive):
    # Nothing written is nothing a power cut can tear.
    written = drive.machine.written_bytes()
    check(written == 0, "%d bytes reached the disk over %d boots" % (written, drive.machine.boots))


# The owner's way in, from the bridge's side of the network

OWNER, PASSWORD = "owner", "the owner's passphrase"


def ssh(drive, command, key_only=False, stdin=b""):
    """COMMAND on the board as the owner: with the password, or with the key alone and the host key
    known already. Retries while the server is not up yet."""
    work = drive.session.workdir
    auth = (["PasswordAuthentication=no", "BatchMode=yes", "StrictHostKeyChecking=yes"] if key_only else
            ["PubkeyAuthentication=no", "StrictHostKeyChecking=accept-new"])
    options = auth + ["IdentitiesOnly=yes", "ConnectTimeout=20",
                      "UserKnownHostsFile=" + os.path.join(work, "known_hosts")]
    args = ["ip", "netns", "exec", drive.bridge_ns, "ssh", "-F", "none", "-i", os.path.join(work, "owner_key")]
    args += [word for option in options for word in ("-o", option)] + ["%s@%s" % (OWNER, DASHBOARD_ADDR)]
    env = dict(os.environ, SSH_ASKPASS=os.path.join(work, "askpass"), SSH_ASKPASS_REQUIRE="force")
    deadline = time.monotonic() + 90
    while True:
        result = harness.sh(*args, command, check_rc=False, input=stdin, env=env)
        if b"Connection refused" not in result.stderr or time.monotonic() > deadline:
            return result
        time.sleep(2)


def no_ssh_without_files(drive):
    result = ssh(drive, "true")
    check(b"Connection refused" in result.stderr, "port 22 on a disk without the owner's files: %s" % result.stderr)


def owner_logs_in(drive):
    """The owner's files as Notepad writes them (byte-order mark, CR LF) on a fresh board."""
    work = drive.session.workdir
    harness.sh("ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f", os.path.join(work, "owner_key"))
    with open(os.path.join(work, "askpass"), "w") as askpass:
        askpass.write("#!/bin/sh\necho \"%s\"\n" % PASSWORD)
    os.chmod(askpass.name, 0o700)
    hashed = harness.sh("openssl", "passwd", "-6", PASSWORD).stdout.strip()
    with open(os.path.join(work, "owner_key.pub"), "rb") as key:
        files = {"userconf.txt": b"\xef\xbb\xbf" + OWNER.encode() + b":" + hashed + b"\r\n", "ssh": b"",
                 "authorized_keys": key.read().replace(b"\n", b"\r\n")}
    drive.machine.power_cut()
    drive.machine.put_on_card(files)
    drive.boot("owner")
    result = ssh(drive, "sudo -S -p '' journalctl -u %s --no-pager" % UNIT, stdin=PASSWORD.encode() + b"\n")
    check(result.returncode == 0 and b"Started motrel-kiosk" in result.stdout,
          "the owner's sudo journalctl over SSH: %s" % (result.stdout + result.stderr).decode(errors="replace"))


def owner_same_host_key(drive):
    drive.machine.power_cut()
    drive.boot("owner-again")
    result = ssh(drive, "true", key_only=True)
    check(result.returncode == 0, "the owner's key on the second boot: %s" % result.stderr.decode(errors="replace"))
    check(drive.machine.written_bytes() == 0, "the owner's boots wrote to the disk")


def owner_remounts(drive):
    # The README's way to change the system; the last moment, since it writes to the disk.
    result = ssh(drive, "sudo -S -p '' mount -o remount,rw / && findmnt -no OPTIONS /", key_only=True,
                 stdin=PASSWORD.encode() + b"\n")
    check(result.stdout.startswith(b"rw,"), "the owner's remount: %s" % (result.stdout + result.stderr))


# Name, what it does, and whether a drive without power cuts holds it.
MOMENTS = [
    ("the kiosk unit comes up and shows the bridge's frames", dashboard_up, True),
    ("udev replays the board's devices only after the dashboard's first frame", devices_after_first_frame, True),
    ("a disk without the owner's files has port 22 closed", no_ssh_without_files, True),
    ("EXIT ends Motrel with status 0 and the unit brings it back", exit_restarts, True),
    ("the bridge falls silent: WIFI dark, needles at 0", bridge_silent, True),
    ("the bridge returns: live again", bridge_back, True),
    ("systemd keeps the board's hardware watchdog armed", watchdog_armed, True),
    ("the board without Wi-Fi loads no Wi-Fi stack beside the dashboard", no_wifi_stack, True),
    ("a hung Motrel is ended by its watchdog and comes back with the bridge's frames", motrel_hangs, True),
    ("a kernel panic reboots the board back to the dashboard by itself", kernel_panics, False),
    ("power cut mid-drive, boot again", power_cut_driving, False),
    ("power cut during the boot, boot again", power_cut_booting, False),
    ("power cut while the unit restarts after EXIT, boot again", power_cut_after_exit, False),
    ("no boot wrote to the disk", disk_untouched, True),
    ("with userconf.txt, ssh and authorized_keys the owner logs in with the password and reads the journal with sudo",
     owner_logs_in, True),
    ("the owner's board boots again with the same host key, the owner's key logs in, nothing written",
     owner_same_host_key, True),
    ("the owner remounts the root read-write as the README says", owner_remounts, True),
    # Last, so that it reads every boot's console to its end.
    ("the journal holds no error from Motrel or its unit", journal_clean, True),
]


def case_boot(session):
    drive = Drive(session)
    every = session.options.moments != "drive"
    try:
        for name, moment, in_drive in MOMENTS:
            if not (in_drive or every):
                continue
            started = time.monotonic()
            moment(drive)
            log("moment passed in %.1f s: %s" % (time.monotonic() - started, name))
    except harness.CheckFailed:
        if drive.machine.process:
            drive.report()
        raise
    finally:
        if drive.machine.process and drive.machine.process.poll() is None:
            drive.machine.power_cut()


if __name__ == "__main__":
    sys.exit(harness.run_case(globals(), extra_options=[("--image", "the virt disk from scripts/image"),
                                                        ("--moments", "drive: no power cuts")]))
