#!/usr/bin/env python3
"""Time from launch to the dashboard's first frame, seen from outside the process.

Qt stamps its render-loop messages with the monotonic clock ("time boot"), which
is the clock this launcher reads just before it starts the program; the CPU time
the process had used by then (averaged: it counts in ticks) is less sensitive
to a busy machine. The programs
run in turn, so that a change in the machine's load hits all alike, and the
median for each is printed. Runs inside a private network namespace (root),
under a private Xvfb (xcb) or offscreen with the software renderer.

    first-frame.py [--runs N] [--platform xcb|offscreen] [--disk-cache cold|warm] MOTREL...
"""
import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

FRAME = re.compile(r"^\s*(\d+\.\d+) Frame rendered")


def isolate():
    if os.environ.get("MOTREL_MEASURE_NET") == "private":
        return
    os.environ["MOTREL_MEASURE_NET"] = "private"
    inner = 'ip link set lo up && exec "$@"'
    os.execvp("unshare", ["unshare", "-n", "--", "sh", "-c", inner, "sh", sys.executable, *sys.argv])


def start_xvfb():
    read_end, write_end = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x600x24", "-nolisten", "tcp"],
        pass_fds=(write_end,), stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as display:
        return server, ":" + display.readline().strip()


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
    server = None
    if args.platform == "xcb":
        server, env["DISPLAY"] = start_xvfb()
    else:
        env["QT_QUICK_BACKEND"] = "software"
    try:
        programs = [os.path.abspath(program) for program in args.programs]
        for program, samples in measure(programs, args.runs, env, args.disk_cache == "warm").items():
            wall, cpu = zip(*samples)
            print(f"{program}: median {statistics.median(wall) * 1000:.0f} ms "
                  f"(range {min(wall) * 1000:.0f}-{max(wall) * 1000:.0f}), "
                  f"CPU {statistics.mean(cpu) * 1000:.0f} ms on average, over {len(samples)} runs "
                  f"({args.platform}, disk cache {args.disk_cache})")
    finally:
        if server:
            server.terminate()
            server.wait()


if __name__ == "__main__":
    main()
