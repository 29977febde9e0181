#!/usr/bin/python3
"""Time from launch to the dashboard's first frame, seen from outside the process, for builds side
by side (cmake -DMOTREL_QML_CACHE=ON against the default, say, with Qt's disk cache cold or warm).

Qt stamps its render-loop messages with the monotonic clock ("time boot"), which
is the clock this launcher reads just before it starts the program; the CPU time
the process had used by then (averaged: it counts in ticks) is less sensitive
to a busy machine. The programs
run in turn, so that a change in the machine's load hits all alike, and the
median for each is printed. Runs in a network namespace of its own holding only
loopback, on a private Xvfb (xcb) or offscreen with the software renderer, both
from scripts/lib/harness.py.

    bench/first-frame.py [--runs N] [--platform xcb|offscreen] [--disk-cache cold|warm] MOTREL...
"""
import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts", "lib"))
import harness  # noqa: E402

FRAME = re.compile(r"^\s*(\d+\.\d+) Frame rendered")


def isolate():
    if os.environ.get("MOTREL_MEASURE_NET") == "private":
        return
    os.environ["MOTREL_MEASURE_NET"] = "private"
    command = harness.loopback_only([sys.executable, *sys.argv])
    os.execvp(command[0], command)


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def first_frame(program, env):
    launched = time.monotonic()
    process = subprocess.Popen([program], env=env, stderr=subprocess.PIPE, text=True)
    output = []
    try:
        for line in process.stderr:
            match = FRAME.match(line)
            if match:
                return float(match.group(1)) - launched, cpu_seconds(process.pid)
            output.append(line)
        raise RuntimeError(f"{program} ended with {process.wait()} before its first frame:\n"
                           + "".join(output[-10:]))
    finally:
        process.terminate()
        process.wait()


def measure(programs, runs, env, warm):
    """Cold: every run starts with an empty cache, as on a first start. Warm: the
    cache that a first, unmeasured run filled. (QML_DISABLE_DISK_CACHE would also
    turn off the ahead-of-time compiled documents.)"""
    times = {program: [] for program in programs}
    with tempfile.TemporaryDirectory() as caches:
        def run(index, program, run_number):
            cache = f"{index}" if warm else f"{index}-{run_number}"
            return first_frame(program, dict(env, XDG_CACHE_HOME=os.path.join(caches, cache)))

        if warm:
            for index, program in enumerate(programs):
                run(index, program, 0)
        for run_number in range(runs):
            for index, program in enumerate(programs):
                times[program].append(run(index, program, run_number))
    return times


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=11)
    parser.add_argument("--platform", choices=("xcb", "offscreen"), default="xcb")
    parser.add_argument("--disk-cache", choices=("cold", "warm"), default="cold")
    parser.add_argument("programs", nargs="+")
    args = parser.parse_args()
    isolate()

    env = dict(os.environ,
               QT_LOGGING_RULES="qt.scenegraph.time.renderloop=true",
               QT_MESSAGE_PATTERN="%{time boot} %{message}",
               QT_QPA_PLATFORM=args.platform)
    with tempfile.TemporaryDirectory() as work, harness.Session(os.path.join(work, "x"), tag="ff") as session:
        if args.platform == "xcb":
            session.start_xvfb()
            env["DISPLAY"] = session.display
        else:
            env["QT_QUICK_BACKEND"] = "software"
        programs = [os.path.abspath(program) for program in args.programs]
        for program, samples in measure(programs, args.runs, env, args.disk_cache == "warm").items():
            wall, cpu = zip(*samples)
            print(f"{program}: median {statistics.median(wall) * 1000:.0f} ms "
                  f"(range {min(wall) * 1000:.0f}-{max(wall) * 1000:.0f}), "
                  f"CPU {statistics.mean(cpu) * 1000:.0f} ms on average, over {len(samples)} runs "
                  f"({args.platform}, disk cache {args.disk_cache})")


if __name__ == "__main__":
    main()
