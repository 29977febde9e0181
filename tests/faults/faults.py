#!/usr/bin/python3
"""Fault runs: the real Motrel against a faulty or hostile bridge in a namespace pair, under Xvfb.

usage: faults.py --motrel PATH --workdir DIR CASE
"""
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "scripts", "lib"))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
import harness  # noqa: E402
from harness import CheckFailed, check, colour_name, log, tile_fill, wait_exit  # noqa: E402
from e2e import wait_for_rest  # noqa: E402

SENDER = os.path.join(HERE, "sender.py")
# Five silent ticks of 1200 ms, plus a screenshot's and a busy machine's delay.
LINK_LOSS_LIMIT = 6.0 + 1.5
# Four silent ticks of 1200 ms at least; the last frame may have come up to 0.1 s before the stop.
EARLIEST_LINK_LOSS = 4.8 - 0.1 - 0.2
# A click on EXIT has to end the program this soon, however busy the socket.
EXIT_LIMIT = 5.0
FLOOD_COUNT = 100000
FLOOD_SECONDS = 60
# Growth of the resident set that a flood may cause: caches and the socket, not the datagrams.
FLOOD_RSS_GROWTH_LIMIT_KIB = 64 * 1024


def start_sender(run, namespace, *args):
    process = run.spawn(["/usr/bin/python3", SENDER] + [str(a) for a in args],
                        "sender-%s-%d" % (args[0], len(run.processes)), namespace=namespace)
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        if "ready" in sender_output(process):
            return process
        check(process.poll() is None, "sender ended at start: " + sender_output(process))
        time.sleep(0.05)
    raise CheckFailed("sender not ready: " + sender_output(process))


def sender_output(process):
    with open(process.log_path) as handle:
        return handle.read()


def stop_process(run, process):
    if process.poll() is None:
        process.terminate()
        process.wait(5)
    run.processes.remove(process)


def wifi(run):
    # The pointer rests mid-screen, clear of the tiles, until EXIT is clicked.
    return colour_name(tile_fill(run.screenshot(), run.geometry, "WIFI"))


def wait_for_wifi(run, wanted, timeout):
    started = time.monotonic()
    while time.monotonic() - started < timeout:
        if wifi(run) == wanted:
            return time.monotonic() - started
        time.sleep(0.2)
    run.screenshot("wifi-not-" + wanted)
    raise CheckFailed("WIFI tile not %s within %.1f s" % (wanted, timeout))


def click_exit_and_wait(run, dashboard):
    """A crash at any earlier point shows here too, as an exit status other than 0."""
    clicking = time.monotonic()
    run.click(*run.geometry.tile_centre("EXIT"))
    status = wait_exit(dashboard, EXIT_LIMIT)
    check(status == 0, "EXIT left Motrel with %s after %.1f s" % (status, time.monotonic() - clicking))
    log("Motrel ended with 0, %.2f s after the click on EXIT began" % (time.monotonic() - clicking))


def resident_kib(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def case_port_taken(run):
    """Another program holds port 35000: the dashboard still shows and EXIT still ends it with 0."""
    dash_ns, bridge_ns = run.namespace_pair()
    start_sender(run, dash_ns, "hold")
    dashboard = run.start_dashboard(dash_ns)
    image = wait_for_rest(run, 0, 0, name="port-taken")
    check(colour_name(tile_fill(image, run.geometry, "EXIT")) == "blue", "EXIT tile not lit with the port taken")
    check(colour_name(tile_fill(image, run.geometry, "WIFI")) == "dark", "WIFI lit without a bridge")
    click_exit_and_wait(run, dashboard)


def case_bridge_vanishes(run):
    """Silent from the start, then live, gone mid-drive and back: the link follows, values are live again."""
    dash_ns, bridge_ns = run.namespace_pair()
    dashboard = run.start_dashboard(dash_ns)
    time.sleep(LINK_LOSS_LIMIT)
    image = wait_for_rest(run, 0, 0, name="silent")
    check(colour_name(tile_fill(image, run.geometry, "WIFI")) == "dark", "WIFI lit though the bridge never spoke")

    sender = start_sender(run, bridge_ns, "frames", 120, 3000)
    wait_for_rest(run, 120, 3000, name="driving")
    wait_for_wifi(run, "blue", 2.0)
    stop_process(run, sender)
    lost_after = wait_for_wifi(run, "dark", LINK_LOSS_LIMIT)
    log("link shown lost %.2f s after the bridge vanished" % lost_after)
    check(lost_after >= EARLIEST_LINK_LOSS, "link lost too soon: %.2f s" % lost_after)

    start_sender(run, bridge_ns, "frames", 60, 2000)
    wait_for_rest(run, 60, 2000, name="back")
    wait_for_wifi(run, "blue", 2.0)
    click_exit_and_wait(run, dashboard)


def case_odd_datagrams(run):
    """Empty, largest, NUL-laden, invalid UTF-8 and huge identification datagrams; then a frame shows."""
    dash_ns, bridge_ns = run.namespace_pair()
    dashboard = run.start_dashboard(dash_ns)
    sender = start_sender(run, bridge_ns, "odd", 150, 6000)
    wait_for_rest(run, 150, 6000, timeout=20, name="after-odd")
    wait_for_wifi(run, "blue", 2.0)
    output = sender_output(sender)
    log("sender: " + " | ".join(line for line in output.splitlines() if not line.startswith("got ")))
    replies = output.count("got " + b"&TE2=1\r\n".hex())
    check(replies >= 1, "the huge identification was not answered")
    click_exit_and_wait(run, dashboard)


def case_flood(run):
    """10^5 datagrams as fast as the sender goes: memory bounded, the newest frame shown, EXIT at once."""
    dash_ns, bridge_ns = run.namespace_pair()
    dashboard = run.start_dashboard(dash_ns)
    sender = start_sender(run, bridge_ns, "frames", 30, 1000)
    wait_for_rest(run, 30, 1000)
    stop_process(run, sender)
    baseline = resident_kib(dashboard.pid)

    flood = start_sender(run, bridge_ns, "flood", FLOOD_COUNT, FLOOD_SECONDS, 140, 5000)
    peak = baseline
    while flood.poll() is None:
        peak = max(peak, resident_kib(dashboard.pid))
        time.sleep(0.05)
    log("flood: %s; RSS %d KiB before, %d KiB at peak" % (sender_output(flood).split("\n")[1], baseline, peak))
    check(("done %d " % FLOOD_COUNT) in sender_output(flood), "flood cut short: " + sender_output(flood))
    wait_for_rest(run, 140, 5000, name="after-flood")
    check(peak - baseline <= FLOOD_RSS_GROWTH_LIMIT_KIB, "RSS grew by %d KiB in the flood" % (peak - baseline))

    # Once more, with EXIT clicked while the datagrams pour in.
    start_sender(run, bridge_ns, "flood", 10 * FLOOD_COUNT, FLOOD_SECONDS, 20, 800)
    time.sleep(0.3)
    click_exit_and_wait(run, dashboard)


if __name__ == "__main__":
    sys.exit(harness.run_case(globals(), needs_bridgesim=False))
