#!/usr/bin/python3
"""The dashboard live against the simulated drive on the user's display: the work of scripts/run.

usage: livedrive.py --motrel PATH --bridgesim PATH --user NAME [--scenario NAME] [-- BRIDGESIM OPTIONS...]
"""
import argparse
import os
import shutil
import sys
import tempfile

import harness


def main():
    own, sim_options = sys.argv[1:], []
    if "--" in own:
        own, sim_options = own[:own.index("--")], own[own.index("--") + 1:]
    parser = argparse.ArgumentParser(allow_abbrev=False)
    parser.add_argument("--motrel", required=True)
    parser.add_argument("--bridgesim", required=True)
    parser.add_argument("--user", required=True)
    parser.add_argument("--scenario", default="drive")
    args = parser.parse_args(own)
    workdir = tempfile.mkdtemp(prefix="motrel-run-")
    try:
        with harness.Session(workdir, args.motrel, args.bridgesim, tag="run",
                             as_user=harness.user_prefix(args.user)) as session:
            # The programs run as the user, who owns their logs and runtime folder.
            shutil.chown(workdir, args.user)
            session.display = os.environ["DISPLAY"]
            dash_ns, bridge_ns = session.namespace_pair()
            harness.log("bridge simulator: scenario %s at %s" % (args.scenario, harness.BRIDGE_ADDR))
            session.start_sim(bridge_ns, "--scenario", args.scenario, *sim_options)
            xauthority = {"XAUTHORITY": os.environ["XAUTHORITY"]} if "XAUTHORITY" in os.environ else {}
            dashboard = session.start_dashboard(dash_ns, env=xauthority)
            harness.log("dashboard at %s; close it to end" % harness.DASHBOARD_ADDR)
            return dashboard.wait()
    except KeyboardInterrupt:
        return 130
    except harness.CheckFailed as failure:
        print("motrel: %s (logs in %s)" % (failure, workdir), file=sys.stderr)
        return 1
    finally:
        shutil.rmtree(workdir, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
