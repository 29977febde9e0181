#!/usr/bin/python3
"""The dashboard live against the simulated drive: the work of scripts/run and scripts/screenshot.

usage: livedrive.py --motrel PATH --bridgesim PATH --user NAME [--scenario NAME]
                    [--launcher PROGRAM [--platform QPA]]
                    [--pictures DIR [--size WxH]... [--name NAME] [--animate SECONDS]] [-- BRIDGESIM OPTIONS...]

Without --pictures the dashboard shows on the user's display until it is closed. With --pictures
it runs on a private virtual screen of each size instead and writes a still of each into DIR
(dashboard-WxH.png, or NAME.png); --animate also writes SECONDS of the drive as an animated GIF
(drive.gif). --launcher runs a build for another system, such as Motrel.exe through wine.
"""
import argparse
import os
import shutil
import sys
import tempfile
import time

import harness

# Seconds into the simulated drive: the end of first gear, CLD and WIFI lit.
STILL_AT = 10.0
# The animation starts as the idle ends, so the needles climb through first gear to the still.
ANIMATION_FROM = 4.0
FRAME_SECONDS = 0.25


def parse_arguments():
    own, sim_options = sys.argv[1:], []
    if "--" in own:
        own, sim_options = own[:own.index("--")], own[own.index("--") + 1:]
    parser = argparse.ArgumentParser(allow_abbrev=False)
    parser.add_argument("--motrel", required=True)
    parser.add_argument("--bridgesim", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--scenario", default="drive")
    parser.add_argument("--pictures", metavar="DIR")
    parser.add_argument("--size", action="append", metavar="WxH")
    parser.add_argument("--name")
    parser.add_argument("--animate", type=float, metavar="SECONDS")
    parser.add_argument("--launcher")
    parser.add_argument("--platform")
    args = parser.parse_args(own)
    args.sim_options = sim_options
    args.sizes = [tuple(int(n) for n in size.split("x")) for size in args.size or ["1024x600"]]
    return args


def start_drive(session, dash_ns, bridge_ns, args, env=None):
    harness.log("bridge simulator: scenario %s at %s" % (args.scenario, harness.BRIDGE_ADDR))
    sim = session.start_sim(bridge_ns, "--scenario", args.scenario, *args.sim_options)
    env = dict(env or {}, **({"QT_QPA_PLATFORM": args.platform} if args.platform else {}))
    launcher = [args.launcher] if args.launcher else []
    return sim, session.start_dashboard(dash_ns, launcher=launcher, env=env, timeout=60 if launcher else 20)


def show_live(session, args):
    session.display = os.environ["DISPLAY"]
    dash_ns, bridge_ns = session.namespace_pair()
    xauthority = {"XAUTHORITY": os.environ["XAUTHORITY"]} if "XAUTHORITY" in os.environ else {}
    _, dashboard = start_drive(session, dash_ns, bridge_ns, args, env=xauthority)
    harness.log("dashboard at %s; close it to end" % harness.DASHBOARD_ADDR)
    return dashboard.wait()


def stream_start(sim, timeout=10):
    """The monotonic time of the simulator's first frame."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        frames = [t for t, direction, data in harness.read_record(sim.record)
                  if direction == "out" and data.startswith(b"ECU:")]
        if frames:
            return frames[0]
        time.sleep(0.1)
    raise harness.CheckFailed("the simulator streamed no frame within %d s" % timeout)


def sleep_until(moment):
    time.sleep(max(0.0, moment - time.monotonic()))


def deliver(session, name, args):
    """Moves a file of the session's into the pictures folder, owned by the user; returns its path."""
    path = os.path.join(args.pictures, name)
    shutil.move(os.path.join(session.workdir, name), path)
    shutil.chown(path, args.user)
    print(path, flush=True)
    return path


def shoot_frames(session, started, args):
    frames = []
    for index in range(int(args.animate / FRAME_SECONDS)):
        sleep_until(started + ANIMATION_FROM + index * FRAME_SECONDS)
        frames.append(os.path.join(session.workdir, "frame-%03d.png" % index))
        session.screenshot(os.path.basename(frames[-1])[:-len(".png")])
    return frames


def take_pictures(session, args):
    dash_ns, bridge_ns = session.namespace_pair()
    for width, height in args.sizes:
        session.start_xvfb(width, height)
        sim, dashboard = start_drive(session, dash_ns, bridge_ns, args)
        started = stream_start(sim)
        frames = shoot_frames(session, started, args) if args.animate else []
        sleep_until(started + STILL_AT)
        still = args.name or "dashboard-%dx%d" % (width, height)
        session.screenshot(still)
        for process in (dashboard, sim):
            harness.stop(process)
        deliver(session, still + ".png", args)
        if frames:
            harness.sh("/usr/bin/convert", "-delay", str(int(FRAME_SECONDS * 100)), "-loop", "0", *frames,
                       "-layers", "Optimize", os.path.join(session.workdir, "drive.gif"))
            deliver(session, "drive.gif", args)
    return 0


def main():
    args = parse_arguments()
    workdir = tempfile.mkdtemp(prefix="motrel-run-")
    try:
        with harness.Session(workdir, args.motrel, args.bridgesim, tag="run",
                             as_user=harness.user_prefix(args.user)) as session:
            # The programs run as the user, who owns their logs and runtime folder.
            shutil.chown(workdir, args.user)
            return take_pictures(session, args) if args.pictures else show_live(session, args)
    except KeyboardInterrupt:
        return 130
    except harness.CheckFailed as failure:
        print("motrel: %s (logs in %s)" % (failure, workdir), file=sys.stderr)
        return 1
    finally:
        shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
