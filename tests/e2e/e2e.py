#!/usr/bin/python3
"""End-to-end cases: the real Motrel against bridgesim in a namespace pair, seen through Xvfb.

usage: e2e.py --motrel PATH --bridgesim PATH --workdir DIR [--launcher EMULATOR [--platform QPA]] CASE
"""
import contextlib
import os
import shutil
import socket
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "lib"))
import harness  # noqa: E402
from harness import (BRIDGE_ADDR, DASHBOARD_ADDR, PROBE, REPLY, CheckFailed, check, colour_name, log,  # noqa: E402
                     needle_angle, read_record, rpm_angle, speed_angle, stop, tile_fill, wait_exit)

TICK = 1.2
ANGLE_TOLERANCE = 2.5
# Screenshots, process start and scheduling on a busy 2-core machine.
TIMING_SLACK = 0.25
RENDER_SLACK = 0.5
AWAY_FROM_TILES = (120, 580)
GOLDEN_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "golden")
# A pixel counts as changed when a channel moves by more than this. Renderings of one build differ
# by up to 8 on antialiased edges (needle, readout); the screen's black beside the window is 22
# away from the background.
GOLDEN_TOLERANCE = 16


def fixed_frame(speed, rpm, raw=200, *flags):
    return ["-s", "fixed", "--rate", "10", "--speed", str(speed), "--rpm", str(rpm), "--coolant-raw", str(raw)] + \
        ["--" + flag for flag in flags]


def gauge_reading(run, image):
    return needle_angle(image, run.geometry.speedo), needle_angle(image, run.geometry.tacho)


def needles_at(run, image, kph, rpm):
    """The angles of the needles shown, the reading's angles, and whether they agree."""
    gauges = [gauge for gauge in (run.geometry.speedo, run.geometry.tacho) if gauge]  # no tachometer in portrait
    want = (speed_angle(kph), rpm_angle(rpm))[:len(gauges)]
    seen = [needle_angle(image, gauge) for gauge in gauges]
    return seen, want, all(angle is not None and abs(angle - target) <= ANGLE_TOLERANCE
                           for angle, target in zip(seen, want))


def wait_for_rest(run, kph, rpm, timeout=8.0, name=None):
    """Waits until the needles shown point at the reading and stay there across two screenshots."""
    deadline = time.monotonic() + timeout
    seen, want, streak = None, None, 0
    while time.monotonic() < deadline:
        image = run.screenshot()
        seen, want, on_target = needles_at(run, image, kph, rpm)
        streak = streak + 1 if on_target else 0
        if streak >= 2:
            if name:
                run.screenshot(name)
            return image
        time.sleep(0.2)
    run.screenshot("failed-rest")
    raise CheckFailed("needles at %s, expected %s (%s km/h, %s rpm)" % (seen, want, kph, rpm))


def still_screenshot(run, kph, rpm, timeout=5.0):
    """The screen once the needles rest at the reading and the last movement has run out."""
    wait_for_rest(run, kph, rpm)
    deadline = time.monotonic() + timeout
    previous = run.screenshot()
    while time.monotonic() < deadline:
        time.sleep(0.5)
        image = run.screenshot()
        if image.data == previous.data:
            return image
        previous = image
    raise CheckFailed("the scene still moves %.0f s after the needles reached the reading" % timeout)


def expect_tiles(run, image, **expected):
    actual = {name: colour_name(tile_fill(image, run.geometry, name.replace("PN", "P/N"))) for name in expected}
    check(actual == expected, "tiles %s, expected %s" % (actual, expected))


def records(sim, direction=None, payload=None):
    return [(t, d, data) for t, d, data in read_record(sim.record)
            if (direction is None or d == direction) and (payload is None or data == payload)]


def restart_sim(run, sim, bridge_ns, *options):
    stop(sim)
    return run.start_sim(bridge_ns, "--peer", DASHBOARD_ADDR, *options)


# Cases

def case_probing(run):
    dash_ns, bridge_ns = run.namespace_pair()
    sim = run.start_sim(bridge_ns, "-s", "listen")
    dashboard = run.start_dashboard(dash_ns)
    time.sleep(5 * TICK + 0.3)
    probes = [t for t, _, _ in records(sim, "in", PROBE)]
    check(len(records(sim, "in")) == len(probes), "something other than probes arrived: %s" % records(sim, "in"))
    check(len(probes) >= 4, "%d probes in 6.3 s, expected one every 1.2 s" % len(probes))
    gaps = [b - a for a, b in zip(probes, probes[1:])]
    check(all(abs(gap - TICK) <= TIMING_SLACK for gap in gaps), "probe spacing %s, expected 1.2 s" % gaps)
    log("probe spacing %s" % ["%.3f" % gap for gap in gaps])

    # An incomplete identification (three parts) is answered, and probing goes on. The bridge
    # streams nothing here: a frame received before it would make the line count as complete.
    stop(sim)
    sim = run.start_sim(bridge_ns, "--ident", "SN:SIM ID:7 FW1", "-s", "quiet")
    time.sleep(3 * TICK + 0.5)
    sent = records(sim, "out")
    check(sent and sent[0][2] == b"SN:SIM ID:7 FW1\r\n", "the simulator sent no identification: %s" % sent[:2])
    replies = [t for t, _, _ in records(sim, "in", REPLY)]
    check(replies, "no &TE2=1 reply (26 54 45 32 3D 31 0D 0A) to the identification: %s" % records(sim, "in"))
    later_probes = [t for t, _, _ in records(sim, "in", PROBE) if t > replies[0]]
    check(later_probes, "probing stopped after an incomplete identification")

    # A complete identification ends probing for good.
    stop(sim)
    sim = run.start_sim(bridge_ns, "-s", "quiet")
    deadline = time.monotonic() + 2 * TICK + 1
    while not records(sim, "in", REPLY) and time.monotonic() < deadline:
        time.sleep(0.1)
    replies = [t for t, _, _ in records(sim, "in", REPLY)]
    check(replies, "no reply to a complete identification")
    time.sleep(3 * TICK + 0.3)
    late = [t - replies[0] for t, _, _ in records(sim, "in", PROBE) if t > replies[0]]
    check(not late, "probes %s s after a complete identification" % late)
    stop(dashboard)

    # Hosts whose address does not match never probe.
    for host, bridge_side in (("192.168.4.11", BRIDGE_ADDR), ("192.168.4.1", "192.168.4.2")):
        dash_ns, bridge_ns = run.namespace_pair(dashboard_addr=host, bridge_addr=bridge_side)
        sim = run.start_sim(bridge_ns, "-s", "listen", bind=bridge_side)
        dashboard = run.start_dashboard(dash_ns)
        colours = set()
        until = time.monotonic() + 4 * TICK + 0.3
        while time.monotonic() < until:
            colours.add(colour_name(tile_fill(run.screenshot(), run.geometry, "WIFI")))
            time.sleep(0.3)
        check(not records(sim, "in"), "host %s sent %s" % (host, records(sim, "in")))
        # A probe to 192.168.4.1 from 192.168.4.1 would come straight back and light WIFI.
        check(colours == {"dark"}, "host %s: WIFI showed %s without a bridge" % (host, colours))
        stop(dashboard)
        log("host %s: no probe" % host)


def show_two_frames(run, launcher=(), timeout=8.0, env=None):
    """The dashboard shows one frame, then another; returns (dashboard, simulator, bridge namespace)."""
    dash_ns, bridge_ns = run.namespace_pair()
    sim = run.start_sim(bridge_ns, *fixed_frame(120, 3000, 200, "cold", "pn"))
    dashboard = run.start_dashboard(dash_ns, launcher=launcher, env=env, timeout=20 + timeout)
    image = wait_for_rest(run, 120, 3000, timeout, name="display-120")
    expect_tiles(run, image, CLD="blue", WRM="dark", COOLANT="dark", PN="blue", WIFI="blue", EXIT="blue")

    sim = restart_sim(run, sim, bridge_ns, *fixed_frame(40, 5500, 220, "warm"))
    image = wait_for_rest(run, 40, 5500, timeout, name="display-40")
    expect_tiles(run, image, CLD="dark", WRM="blue", COOLANT="dark", PN="dark", WIFI="blue")
    return dashboard, sim, bridge_ns


def silence(run, sim, render_slack):
    """Stops the bridge and watches WIFI go dark; returns the last second it was seen blue and the
    first it was seen dark, counted from the bridge's last datagram."""
    stop(sim)
    last = records(sim, "out")[-1][0]
    shots = []
    while time.monotonic() < last + 6.0 + render_slack + 1.5:
        started = time.monotonic()
        colour = colour_name(tile_fill(run.screenshot(), run.geometry, "WIFI"))
        shots.append((started, time.monotonic(), colour))
        if colour == "dark":
            break
        time.sleep(0.1)
    check(shots[-1][2] == "dark", "WIFI still %s %.1f s after the last frame" % (shots[-1][2], shots[-1][1] - last))
    blue = [start for start, _, colour in shots if colour == "blue"]
    went_dark_after, went_dark_before = (blue[-1] if blue else shots[0][0]) - last, shots[-1][1] - last
    log("WIFI went dark between %.2f and %.2f s after the last frame" % (went_dark_after, went_dark_before))
    return went_dark_after, went_dark_before


def case_display(run):
    _, sim, bridge_ns = show_two_frames(run)

    # The coolant label shows the curve's value cut to a whole number: equal labels, equal pixels.
    labels = {}
    left, top, right, bottom = run.geometry.tile_rect("COOLANT")
    for raw in (3, 210, 211, 79, 81, 82, 199, 200, 201):
        sim = restart_sim(run, sim, bridge_ns, *fixed_frame(40, 5500, raw, "warm"))
        time.sleep(1.0)
        labels[raw] = run.screenshot("coolant-%d" % raw).crop(left + 3, top + 3, right - 3, bottom - 3)
    check(any(b > 200 for b in labels[200]), "the coolant label shows nothing white")
    same = [(3, 210), (81, 82), (200, 201)]      # 59.0 / 59.65; -0.27 / 0.15; 53.0 / 53.67
    different = [(210, 211), (79, 81), (199, 200)]  # 59 / 60; -1 / 0; 52 / 53
    for a, b in same:
        check(labels[a] == labels[b], "raw %d and %d should show the same whole degrees" % (a, b))
    for a, b in different:
        check(labels[a] != labels[b], "raw %d and %d should show different whole degrees" % (a, b))

    # WIFI goes dark 4.8 to 6.0 s after the last datagram.
    went_dark_after, went_dark_before = silence(run, sim, RENDER_SLACK)
    check(went_dark_before >= 4.8 - TIMING_SLACK, "WIFI dark already %.2f s after the last frame" % went_dark_before)
    check(went_dark_after <= 6.0 + RENDER_SLACK, "WIFI still blue %.2f s after the last frame" % went_dark_after)


def case_demo(run):
    dash_ns, bridge_ns = run.namespace_pair()
    sim = run.start_sim(bridge_ns, *fixed_frame(30, 1500))
    run.start_dashboard(dash_ns)
    image = wait_for_rest(run, 30, 1500)
    expect_tiles(run, image, CLD="dark", WRM="dark", PN="dark")
    # The frame the harness builds for the fault runs' sender is the simulator's.
    frames = {data for _, _, data in records(sim, "out") if data.startswith(b"ECU:")}
    check(frames == {harness.ecu_frame(30, 1500)}, "bridgesim sent %s, the harness builds %s"
          % (frames, harness.ecu_frame(30, 1500)))

    x, y = run.geometry.tile_centre("WIFI")
    for _ in range(4):
        run.click(x, y)
        time.sleep(0.2)
    run.move_pointer(*AWAY_FROM_TILES)
    clicked = time.monotonic()

    def reading():
        speed, rpm = gauge_reading(run, run.screenshot())
        check(speed is not None and rpm is not None, "a needle is missing")
        return (speed + 145.0) / 290.0 * 180.0, (rpm + 145.0) / 290.0 * 8000.0

    climb = []
    while time.monotonic() < clicked + 10 * TICK + 2.5:
        climb.append(reading())
        time.sleep(0.8)
    log("climb: %s" % ["%.0f/%.0f" % pair for pair in climb])
    speeds = [speed for speed, _ in climb]
    check(max(speeds[:3]) < 60, "the demonstration should start low, saw %s" % speeds[:3])
    check(max(speeds) >= 95, "the demonstration never reached 100 km/h: %s" % speeds)

    swing = []
    for _ in range(10):
        swing.append(reading())
        time.sleep(0.35)
    log("swing: %s" % ["%.0f/%.0f" % pair for pair in swing])
    speeds = [speed for speed, _ in swing]
    rpms = [rpm for _, rpm in swing]
    check(min(speeds) >= 85 and max(speeds) <= 104, "speed left 90..100: %s" % speeds)
    check(max(speeds) - min(speeds) >= 5, "speed does not oscillate: %s" % speeds)
    check(min(rpms) >= 4300 and max(rpms) <= 5150, "engine speed left 4500..5000: %s" % rpms)
    check(max(rpms) - min(rpms) >= 250, "engine speed does not oscillate: %s" % rpms)
    # The frames still arriving say 30 km/h and no flags; the demonstration's flags show instead.
    expect_tiles(run, run.screenshot("demo"), CLD="blue", WRM="blue", PN="blue", WIFI="blue")


def case_exit(run):
    dash_ns, bridge_ns = run.namespace_pair()
    run.start_sim(bridge_ns)
    dashboard = run.start_dashboard(dash_ns)
    time.sleep(2.5)
    run.click(*run.geometry.tile_centre("EXIT"))
    status = wait_exit(dashboard, 5)
    check(status == 0, "EXIT: Motrel ended with %s, expected 0" % status)

    dashboard = run.start_dashboard(dash_ns)
    time.sleep(2.5)
    run.close_window(dashboard.window)
    status = wait_exit(dashboard, 5)
    check(status == 0, "window close: Motrel ended with %s, expected 0" % status)

    # SIGTERM is how a service manager stops it.
    dashboard = run.start_dashboard(dash_ns)
    time.sleep(2.5)
    dashboard.terminate()
    status = wait_exit(dashboard, 5)
    check(status == 0, "SIGTERM: Motrel ended with %s, expected 0" % status)


def next_notification(manager, timeout):
    manager.settimeout(timeout)
    try:
        return manager.recv(256)
    except socket.timeout:
        raise CheckFailed("no notification to the service manager within %.1f s" % timeout) from None


def queued_notifications(manager):
    manager.setblocking(False)
    queued = []
    with contextlib.suppress(BlockingIOError):
        while True:
            queued.append(manager.recv(256))
    return queued


def case_notify(run):
    """Under a service manager with a watchdog: READY once the first frame shows, then WATCHDOG=1
    every half of the watchdog's timeout, with the bridge silent and the scene at rest; STOPPING
    at EXIT, before a teardown that feeds no watchdog."""
    timeout = 1.0
    manager = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
    manager.bind(os.path.join(run.workdir, "notify"))
    dash_ns, bridge_ns = run.namespace_pair()
    run.start_sim(bridge_ns, "-s", "listen")
    run.spawn([run.motrel], "motrel", namespace=dash_ns, env=run.dashboard_env(
        {"NOTIFY_SOCKET": manager.getsockname(), "WATCHDOG_USEC": str(int(timeout * 1e6))}))
    ready = next_notification(manager, 20)
    check(ready == b"READY=1", "first notification %r, expected READY=1" % ready)
    # The scene is on the panel at READY; the needles' canvases paint from the next frames on.
    expect_tiles(run, run.screenshot("ready"), WIFI="dark", EXIT="blue")
    deadline = time.monotonic() + 2.0
    while None in gauge_reading(run, run.screenshot()):
        check(time.monotonic() < deadline, "no needles 2 s after READY=1")
        time.sleep(0.1)
    # Timed from the first one received after what waited in the queue meanwhile.
    check(set(queued_notifications(manager)) <= {b"WATCHDOG=1"}, "a notification other than WATCHDOG=1")
    pings = []
    while len(pings) < 2 or pings[-1] < pings[1] + 4.0:
        message = next_notification(manager, timeout)
        check(message == b"WATCHDOG=1", "notification %r, expected WATCHDOG=1" % message)
        pings.append(time.monotonic())
    gaps = [b - a for a, b in zip(pings[1:], pings[2:])]
    log("watchdog fed every %s s" % ["%.2f" % gap for gap in gaps])
    check(all(abs(gap - timeout / 2) <= TIMING_SLACK for gap in gaps),
          "watchdog fed at %s s, expected every %.1f s" % (gaps, timeout / 2))
    run.click(*run.geometry.tile_centre("EXIT"))
    message = b"WATCHDOG=1"
    while message == b"WATCHDOG=1":
        message = next_notification(manager, timeout)
    check(message == b"STOPPING=1", "notification %r at EXIT, expected STOPPING=1" % message)


# Name, screen, the simulator's stream and the reading it shows.
GOLDEN_STATES = [
    ("idle-1024x600", (1024, 600), ["-s", "listen"], 0, 0),
    ("live-1024x600", (1024, 600), fixed_frame(120, 5500, 200, "cold", "warm", "pn"), 120, 5500),
    ("live-600x1024", (600, 1024), fixed_frame(120, 5500, 200, "cold", "warm", "pn"), 120, 5500),
]


def render_state(run, namespaces, size, stream, kph, rpm):
    """The screen at rest; or as it is, and why, when it does not come to rest at the reading."""
    dash_ns, bridge_ns = namespaces
    run.start_xvfb(*size)
    sim = run.start_sim(bridge_ns, *stream)
    dashboard = run.start_dashboard(dash_ns)
    run.move_pointer(0, 0)  # off every tile, so none is lit by the pointer
    try:
        image, unsettled = still_screenshot(run, kph, rpm), ""
    except CheckFailed as failure:
        image, unsettled = run.screenshot(), " (%s)" % failure
    stop(dashboard)
    stop(sim)
    return image, unsettled


def case_golden(run):
    """Each state's screen against its picture in golden/; MOTREL_GOLDEN=update rewrites those that differ."""
    updating = os.environ.get("MOTREL_GOLDEN") == "update"
    namespaces = run.namespace_pair()
    differing, rewritten = [], []
    for name, size, stream, kph, rpm in GOLDEN_STATES:
        fresh, unsettled = render_state(run, namespaces, size, stream, kph, rpm)
        golden = os.path.join(GOLDEN_DIR, name + ".png")
        pixels, largest = (harness.image_difference(harness.Image.read(golden), fresh, GOLDEN_TOLERANCE)
                           if os.path.exists(golden) else (fresh.width * fresh.height, 255))
        log("%s: %d pixels differ by more than %d, largest channel difference %d%s"
            % (name, pixels, GOLDEN_TOLERANCE, largest, unsettled))
        if not pixels and not unsettled:
            continue
        seen = os.path.join(run.workdir, name + "-seen.png")
        difference = os.path.join(run.workdir, name + "-difference.png")
        fresh.write(seen)
        if os.path.exists(golden):
            harness.sh("/usr/bin/compare", "-fuzz", "%.1f%%" % (GOLDEN_TOLERANCE / 2.55), golden, seen, difference,
                       check_rc=False)
        if updating and not unsettled:
            os.makedirs(GOLDEN_DIR, exist_ok=True)
            shutil.copyfile(seen, golden)
            rewritten.append("%s (%d pixels, see %s)" % (golden, pixels, difference))
        else:
            differing.append("%s: %d pixels differ from %s%s, see %s and %s"
                             % (name, pixels, golden, unsettled, seen, difference))
    if updating:
        log("rewritten: %s" % ("; ".join(rewritten) or "none"))
    check(not differing, "; ".join(differing))


def exit_with_tile(run, dashboard, timeout):
    run.click(*run.geometry.tile_centre("EXIT"))
    status = wait_exit(dashboard, timeout)
    check(status == 0, "EXIT: Motrel ended with %s, expected 0" % status)


def launched(run):
    """The launcher (emulator or wine) and platform environment of a build for another system, if any."""
    return ((run.options.launcher,) if run.options.launcher else (),
            {"QT_QPA_PLATFORM": run.options.platform} if run.options.platform else None)


def case_arch(run):
    """A build (--motrel), for another processor or system through its emulator or wine (--launcher), or
    an installed package, given time: two frames, the bridge's silence and EXIT at 1024 x 600, a frame
    and EXIT at 800 x 480."""
    launcher, platform = launched(run)
    dashboard, sim, _ = show_two_frames(run, launcher=launcher, timeout=40.0, env=platform)
    # Emulated, a frame takes longer to draw; the timing itself is the display case's to check.
    silence(run, sim, 4 * RENDER_SLACK)
    wait_for_rest(run, 0, 0, 10.0, name="silent")
    exit_with_tile(run, dashboard, 20)

    run.start_xvfb(800, 480)
    case_frame(run)


def case_frame(run):
    """One frame shown and EXIT, given time (a build installed for another system, say)."""
    launcher, platform = launched(run)
    dash_ns, bridge_ns = run.namespace_pair()
    run.start_sim(bridge_ns, *fixed_frame(120, 3000, 200, "cold", "pn"))
    dashboard = run.start_dashboard(dash_ns, launcher=launcher, env=platform, timeout=60)
    image = wait_for_rest(run, 120, 3000, 40.0, name="frame-%dx%d" % (run.geometry.width, run.geometry.height))
    expect_tiles(run, image, CLD="blue", PN="blue", WIFI="blue", EXIT="blue")
    exit_with_tile(run, dashboard, 20)


def case_no_scene(run):
    """A bundle without one of the scene's modules: no window, and the exit status of -1."""
    launcher, platform = launched(run)
    dash_ns, _ = run.namespace_pair()
    process = run.spawn(list(launcher) + [run.motrel], "motrel", namespace=dash_ns,
                        env=run.dashboard_env(platform))
    windows = set()
    deadline = time.monotonic() + 60
    while process.poll() is None and time.monotonic() < deadline:
        windows.update(run.dashboard_windows())
        time.sleep(0.2)
    check(process.poll() is not None, "still running 60 s after start, expected -1 at once")
    check(not windows, "a window showed: %s" % sorted(windows))
    check(process.returncode == 255, "ended with %s, expected -1 (255)" % process.returncode)


# Car panels: bar panels, 15:9, 16:9, 16:10, 4:3 and 5:4, portrait; without a window manager
# (xinit straight into the program) and under two.
SCREENS = [(800, 480, None), (1024, 600, None), (1280, 480, None), (1920, 720, None), (1280, 720, None),
           (1280, 800, None), (1920, 1080, None), (800, 600, None), (1024, 768, None), (1280, 1024, None),
           (480, 800, None), (600, 1024, None), (800, 480, "openbox"), (1024, 768, "matchbox")]


def wait_for_scene(run, dashboard, name):
    """A screenshot once the window covers its screen, the needles lie where the layout puts them
    and the corners show the background."""
    geometry = run.geometry
    screen = (0, 0, geometry.width, geometry.height)
    gauges = [geometry.speedo] + ([geometry.tacho] if geometry.landscape else [])
    deadline = time.monotonic() + 5
    while True:
        window = run.window_geometry(dashboard.window)
        image = run.screenshot(name)
        needles = [needle_angle(image, gauge) for gauge in gauges]
        corners = [colour_name(image.pixel(x, y))
                   for x in (1, geometry.width - 2) for y in (1, geometry.height - 2)]
        if window == screen and None not in needles and corners == ["background"] * 4:
            return image
        check(time.monotonic() < deadline,
              "%s: window %s, needles %s, corners %s" % (name, window, needles, corners))
        time.sleep(0.2)


def case_screens(run):
    dash_ns, _ = run.namespace_pair()
    for width, height, window_manager in SCREENS:
        name = "%dx%d-%s" % (width, height, window_manager or "no-wm")
        run.start_xvfb(width, height, window_manager)
        dashboard = run.start_dashboard(dash_ns)
        image = wait_for_scene(run, dashboard, name)
        if run.geometry.landscape:
            expect_tiles(run, image, EXIT="blue")
            run.click(*run.geometry.tile_centre("EXIT"))
            status = wait_exit(dashboard, 5)
            check(status == 0, "%s: Motrel ended with %s, expected 0" % (name, status))
        else:
            blue = [(x, y) for x in range(0, width, 4) for y in range(0, height, 4)
                    if colour_name(image.pixel(x, y)) == "blue"]
            check(not blue, "%s: a tile shows at %s" % (name, blue[:1]))
            # No tile to end it with; the window manager's close is the exit case's to check.
            stop(dashboard)
        log("%s: full screen, %s" % (name, "both gauges, EXIT in place" if run.geometry.landscape
                                     else "the speedometer alone"))


def split_pieces(sim):
    return [data for _, _, data in records(sim, "out") if data and not data.startswith((b"ECU:", b"SN:"))]


def broken_lines(sim):
    """The lines of a fixed frame's stream, joined as sent, that are not the whole frame."""
    sent = b"".join(data for _, _, data in records(sim, "out") if not data.startswith(b"SN:"))
    lines = sent.split(b"\r\n")[1:-1]
    whole = max(set(lines), key=lines.count)
    return [line for line in lines if line != whole]


def case_split_reident(run):
    # A steady drive in pieces cut anywhere, inside the marker, a token or the line end, every
    # second frame losing its last or a middle piece on the way, or its last and the next frame's
    # first, or sending a middle one twice: no piece, no frame short of a piece and no frame glued
    # from two shows, so on every screenshot the needles hold the reading and P/N stays lit.
    dash_ns, bridge_ns = run.namespace_pair()
    sim = run.start_sim(bridge_ns, "-s", "split", "--parts", "3", "--lose", "2",
                        *fixed_frame(60, 4000, 220, "cold", "pn")[2:])
    run.start_dashboard(dash_ns)
    wait_for_rest(run, 60, 4000, name="split")
    for shot in range(15):
        image = run.screenshot()
        seen, want, on_target = needles_at(run, image, 60, 4000)
        check(on_target, "screenshot %d: needles moved to %s from %s" % (shot, seen, want))
        expect_tiles(run, image, CLD="blue", WRM="dark", PN="blue", WIFI="blue")
        time.sleep(0.2)
    check(len(split_pieces(sim)) > 20, "the simulator did not split its frames")
    check(len(broken_lines(sim)) > 10, "the simulator's frames lost no piece")

    sim = restart_sim(run, sim, bridge_ns, "-s", "reident", "--every", "1.5",
                      *fixed_frame(150, 6000, 230, "cold", "pn")[2:])
    time.sleep(5)
    image = wait_for_rest(run, 150, 6000, name="reident")
    expect_tiles(run, image, CLD="blue", WRM="dark", PN="blue", WIFI="blue")
    identifications = [t for t, _, data in records(sim, "out") if data.startswith(b"SN:")]
    replies = [t for t, _, _ in records(sim, "in", REPLY)]
    check(len(identifications) >= 3, "only %d identifications mid-stream" % len(identifications))
    check(all(any(0 <= r - t < 0.5 for r in replies) for t in identifications[:-1]),
          "not every identification was answered: %s / %s" % (identifications, replies))


if __name__ == "__main__":
    sys.exit(harness.run_case(globals(), extra_options=[("--launcher", "emulator of the executable, for arch"),
                                                        ("--platform", "its Qt platform plugin, for arch")]))
