#!/usr/bin/python3
"""Guest instructions per call of a few functions of the arm64 build, counted under qemu-user.

usage: qemu-counts.py [--arch arm64|amd64] datagram --bench BUILD/bench/bench_datagram [--frames N]
       qemu-counts.py [--arch arm64|amd64] scene --motrel BUILD/Motrel --bridgesim BUILD/tools/bridgesim [--seconds S]

Debian's qemu-user-static loads no plugins, so the counts come from its own log: with
"-d in_asm,exec,nochain" it writes every translated block's instructions once and names every
block as it runs. A call lasts from the block at the function's address until, on the same guest
thread, it returns where its caller would have; its count is inclusive, as callgrind's.
amd64 (qemu-x86_64-static) is there to hold the method against callgrind on the same code. datagram feeds bench_datagram's frames (as scripts/bench does under
callgrind); scene runs Motrel in a namespace pair fed by bridgesim's drive at 20 frames/s under
Xvfb and counts for S seconds once it has drawn. Emulated time says nothing about a board's.
Run it as root inside `unshare -n`.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts", "lib"))
import harness  # noqa: E402

# Emulator, nm, libraries, and where qemu-user puts a position-independent executable.
ARCHES = {
    "arm64": ("qemu-aarch64-static", "aarch64-linux-gnu-nm", "/usr/lib/aarch64-linux-gnu", 0x5500000000),
    "amd64": ("qemu-x86_64-static", "nm", "/usr/lib/x86_64-linux-gnu", 0x4000000000),
}
QEMU, NM, LIBRARIES, EXECUTABLE_BASE = ARCHES["arm64"]
CALLS = ("bl", "blr", "call", "callq")
RETURNS = ("ret", "retaa", "retab", "retq")
# Address, encoding (one aarch64 word, or x86 bytes), mnemonic.
BLOCK_LINE = re.compile(r"^0x([0-9a-f]+):\s+([0-9a-f]{8} |(?:[0-9a-f]{2} )+)\s*(\S+)")
TRACE_LINE = re.compile(r"^Trace (\d+): \S+ \[[0-9a-f]+/([0-9a-f]+)/")
LINK_MAP = re.compile(r"file=(\S+) \[0\];  generating link map\n.*?base: (0x[0-9a-f]+)", re.S)


class Counter:
    """Reads a qemu log as it is written; counts calls of ENTRIES ({name: address}) while collecting.

    Each guest thread gets a shadow stack of return addresses: a block ending in a call pushes the
    address after it; a return pops down to where it lands, past frames that never returned
    (noreturn calls, unwinding). A call of an entry lasts until the return address on top when it
    was entered is popped, which also holds for a tail call (b).
    """

    def __init__(self, entries):
        self.entries = {address: name for name, address in entries.items()}
        self.collecting = True
        self.calls = {name: 0 for name in entries}
        self.inside = {name: 0 for name in entries}
        self.everything = 0
        self.sizes, self.call_ends, self.returns = {}, {}, {}
        self.stacks, self.open_calls, self.returning = {}, {}, {}

    def read(self, log):
        block = None
        for line in log:
            if line.startswith("IN:"):
                block = None
                continue
            match = BLOCK_LINE.match(line)
            if match:
                address = int(match.group(1), 16)
                if block is None:
                    block = address
                    self.sizes[block] = 0
                self.sizes[block] += 1
                length = len(match.group(2).replace(" ", "")) // 2
                self.call_ends[block] = address + length if match.group(3) in CALLS else None
                self.returns[block] = match.group(3) in RETURNS
                continue
            match = TRACE_LINE.match(line)
            if match:
                self.step(match.group(1), int(match.group(2), 16))

    def step(self, thread, pc):
        size = self.sizes.get(pc, 0)
        if self.collecting:
            self.everything += size
        stack = self.stacks.setdefault(thread, [])
        calls = self.open_calls.setdefault(thread, {})
        if self.returning.get(thread) and pc in stack:
            del stack[len(stack) - 1 - stack[::-1].index(pc):]
            for name in [name for name, call in calls.items() if len(stack) < call["depth"]]:
                call = calls.pop(name)
                if call["counted"]:
                    self.calls[name] += 1
                    self.inside[name] += call["instructions"]
        name = self.entries.get(pc)
        if name and name not in calls and stack:
            calls[name] = {"depth": len(stack), "instructions": 0, "counted": self.collecting}
        for call in calls.values():
            call["instructions"] += size
        end = self.call_ends.get(pc)
        if end is not None:
            stack.append(end)
        self.returning[thread] = self.returns.get(pc, False)

    def per_call(self, name):
        calls = self.calls[name]
        return calls, (round(self.inside[name] / calls) if calls else None)


def symbol(path, name, dynamic=False):
    listing = subprocess.run([NM, "-C"] + (["-D"] if dynamic else []) + [path], capture_output=True,
                             text=True, check=True).stdout
    for line in listing.splitlines():
        address, _, rest = line.split(" ", 2)
        if rest.split("@")[0] == name:
            return int(address, 16)
    raise harness.CheckFailed("%s has no symbol %s" % (path, name))


def start_counting(entries):
    """A FIFO for qemu's log and a thread counting what comes through it."""
    fifo = os.path.join(tempfile.mkdtemp(prefix="qemu-counts-"), "log")
    os.mkfifo(fifo)
    counter = Counter(entries)

    def read():
        with open(fifo, errors="replace") as log:
            counter.read(log)
    reader = threading.Thread(target=read, daemon=True)
    reader.start()
    return counter, reader, [QEMU, "-d", "in_asm,exec,nochain", "-D", fifo]


def check_executable_base(counter, executable):
    start = EXECUTABLE_BASE + symbol(executable, "_start")
    harness.check(start in counter.sizes, "%s was not loaded at 0x%x" % (executable, EXECUTABLE_BASE))


def datagram(args):
    entry = EXECUTABLE_BASE + symbol(args.bench, "Drivers::receiveDatagram(QByteArray const&)")
    counter, reader, launcher = start_counting({"datagram": entry})
    subprocess.run(launcher + [args.bench, "--feed=%d" % args.frames], check=True, stdout=subprocess.DEVNULL)
    reader.join()
    check_executable_base(counter, args.bench)
    calls, per_call = counter.per_call("datagram")
    harness.check(calls == args.frames + 1, "%d calls for %d frames and one identification" % (calls, args.frames))
    print("datagram path: %d instructions per datagram (%d datagrams)" % (per_call, calls))


def library_bases(log_path):
    with open(log_path, errors="replace") as log:
        return {os.path.basename(name): int(base, 16) for name, base in LINK_MAP.findall(log.read())}


def scene(args):
    motrel = args.motrel
    quick, qml = LIBRARIES + "/libQt5Quick.so.5", LIBRARIES + "/libQt5Qml.so.5"
    with harness.Session(tempfile.mkdtemp(prefix="qemu-scene-"), motrel, args.bridgesim, tag="q") as run:
        dash_ns, bridge_ns = run.namespace_pair()
        run.start_xvfb()
        run.start_sim(bridge_ns, "-s", "drive", "--rate", "20")
        # Where the dynamic linker puts Qt's libraries; the same in the counted run, checked below.
        dashboard = run.start_dashboard(dash_ns, executable=motrel, launcher=(QEMU,),
                                        env={"LD_DEBUG": "files"}, timeout=120)
        bases = library_bases(dashboard.log_path)
        harness.stop(dashboard)
        entries = {
            "datagram path": EXECUTABLE_BASE + symbol(motrel, "Drivers::receiveDatagram(QByteArray const&)"),
            "scene's reaction to one datagram": EXECUTABLE_BASE + symbol(motrel, "BackEnd::deviceInfoListChanged()"),
            "render one frame": bases["libQt5Quick.so.5"] + symbol(
                quick, "QSGSoftwareRenderer::renderScene(unsigned int)", dynamic=True),
            "one animation tick": bases["libQt5Qml.so.5"] + symbol(
                qml, "QQmlAnimationTimer::updateAnimationsTime(long long)", dynamic=True),
        }
        counter, _, launcher = start_counting(entries)
        counter.collecting = False
        dashboard = run.start_dashboard(dash_ns, executable=motrel, launcher=launcher,
                                        env={"LD_DEBUG": "files"}, timeout=1800)
        counted_bases = library_bases(dashboard.log_path)
        harness.check(all(counted_bases.get(name) == bases[name] for name in ("libQt5Quick.so.5", "libQt5Qml.so.5")),
                      "Qt's libraries moved between runs")
        check_executable_base(counter, motrel)
        time.sleep(args.settle)
        counter.collecting = True
        time.sleep(args.seconds)
        counter.collecting = False
        harness.stop(dashboard)
    for name in entries:
        calls, per_call = counter.per_call(name)
        print("%s: %s instructions per call (%d calls in %d s)" % (name, per_call, calls, args.seconds))
    print("all instructions while counting: %d" % counter.everything)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--arch", choices=sorted(ARCHES), default="arm64")
    modes = parser.add_subparsers(dest="mode", required=True)
    datagram_mode = modes.add_parser("datagram")
    datagram_mode.add_argument("--bench", required=True)
    datagram_mode.add_argument("--frames", type=int, default=2000)
    scene_mode = modes.add_parser("scene")
    scene_mode.add_argument("--motrel", required=True)
    scene_mode.add_argument("--bridgesim", required=True)
    scene_mode.add_argument("--seconds", type=int, default=60)
    scene_mode.add_argument("--settle", type=int, default=8)
    args = parser.parse_args()
    global QEMU, NM, LIBRARIES, EXECUTABLE_BASE
    QEMU, NM, LIBRARIES, EXECUTABLE_BASE = ARCHES[args.arch]
    {"datagram": datagram, "scene": scene}[args.mode](args)


if __name__ == "__main__":
    main()
