"""Runs the real Motrel and bridgesim in a pair of network namespaces under Xvfb.

Every namespace, X server and process that a Run starts is removed when it ends,
also when a check fails or the test is interrupted.
"""
import argparse
import math
import os
import random
import re
import shutil
import signal
import subprocess
import time

SCREEN_W, SCREEN_H = 1024, 600
BRIDGE_ADDR = "192.168.4.1"
DASHBOARD_ADDR = "192.168.4.105"
PROBE = bytes.fromhex("30 0D 0A")
REPLY = bytes.fromhex("26 54 45 32 3D 31 0D 0A")

# The scene at 1024 x 600: gauges and the two tile rows.
SPEEDO = (332.0, 300.0, 300.0)  # centre x, centre y, outer radius
TACHO = (652.48 + 169.76, 130.24 + 169.76, 169.76)
TILE_W, TILE_GAP, TILE_X0 = 106.1, 6.79, 652.48
UPPER_Y, LOWER_Y, TILE_H = 33.23, 503.71, 59.68
TILES = {
    "CLD": (0, UPPER_Y), "WRM": (1, UPPER_Y), "COOLANT": (2, UPPER_Y),
    "P/N": (0, LOWER_Y), "WIFI": (1, LOWER_Y), "EXIT": (2, LOWER_Y),
}

NAME_PREFIX = "mte2e"


class CheckFailed(AssertionError):
    pass


def check(condition, message):
    if not condition:
        raise CheckFailed(message)


def log(message):
    print("[%7.2f] %s" % (time.monotonic() % 10000, message), flush=True)


def tile_rect(name):
    column, top = TILES[name]
    left = TILE_X0 + column * (TILE_W + TILE_GAP)
    return left, top, left + TILE_W, top + TILE_H


def tile_centre(name):
    left, top, right, bottom = tile_rect(name)
    return int((left + right) / 2), int((top + bottom) / 2)


def speed_angle(kph):
    return -145.0 + min(max(kph, 0.0), 180.0) / 180.0 * 290.0


def rpm_angle(rpm):
    return -145.0 + min(max(rpm / 1000.0, 0.0), 8.0) / 8.0 * 290.0


def sh(*args, check_rc=True, **kwargs):
    result = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kwargs)
    if check_rc and result.returncode != 0:
        raise RuntimeError("%s failed (%d): %s" % (" ".join(args), result.returncode,
                                                   result.stderr.decode(errors="replace")))
    return result


class Image:
    """A screenshot as RGB rows, read from ImageMagick's PPM output."""

    def __init__(self, ppm):
        match = re.match(rb"P6\s+(\d+)\s+(\d+)\s+(\d+)\s", ppm)
        if not match:
            raise RuntimeError("not a PPM screenshot")
        self.width, self.height = int(match.group(1)), int(match.group(2))
        self.data = ppm[match.end():]

    def pixel(self, x, y):
        x, y = int(round(x)), int(round(y))
        if not (0 <= x < self.width and 0 <= y < self.height):
            return (0, 0, 0)
        offset = 3 * (y * self.width + x)
        return tuple(self.data[offset:offset + 3])

    def crop(self, left, top, right, bottom):
        rows = []
        for y in range(int(top), int(bottom)):
            start = 3 * (y * self.width + int(left))
            rows.append(bytes(self.data[start:start + 3 * (int(right) - int(left))]))
        return b"".join(rows)


def is_needle_red(rgb):
    r, g, b = rgb
    return r >= 90 and r > 2 * g + 40 and r > 2 * b + 40


def needle_angle(image, gauge, inner=0.3, outer=0.7):
    """The dial angle (degrees clockwise from straight up) with the most needle-red pixels."""
    cx, cy, radius = gauge
    best_angle, best_score = None, 0
    steps = [a / 2.0 for a in range(-300, 301)]
    for angle in steps:
        theta = math.radians(angle)
        score = 0
        r = inner * radius
        while r <= outer * radius:
            if is_needle_red(image.pixel(cx + r * math.sin(theta), cy - r * math.cos(theta))):
                score += 1
            r += 2.0
        if score > best_score:
            best_angle, best_score = angle, score
    # A needle covers most samples along its axis; a few stray red pixels are no needle.
    samples = int((outer - inner) * radius / 2.0)
    return best_angle if best_score >= samples * 0.6 else None


def tile_fill(image, name):
    """The fill colour in the tile's left margin, clear of border and label."""
    left, top, right, bottom = tile_rect(name)
    return image.pixel(left + 8, (top + bottom) / 2)


def colour_name(rgb):
    r, g, b = rgb
    if b > 180 and r < 60 and g < 60:
        return "blue"
    if g > 100 and r < 60 and b < 60:
        return "green"
    if abs(r - 0x22) <= 8 and abs(g - 0x22) <= 8 and abs(b - 0x22) <= 8:
        return "dark"
    return "other%s" % (rgb,)


def read_record(path):
    """(monotonic seconds, 'in'|'out', bytes) for each datagram the simulator recorded."""
    records = []
    if not os.path.exists(path):
        return records
    with open(path) as handle:
        for line in handle:
            words = line.split()
            if not words or words[0].startswith("#"):
                continue
            records.append((int(words[0]) / 1000.0, words[1], bytes.fromhex("".join(words[2:]))))
    return records


def sweep_stale_namespaces():
    """Removes namespaces left by earlier runs whose process is gone (killed past any cleanup)."""
    listing = sh("ip", "netns", "list", check_rc=False).stdout.decode()
    for line in listing.splitlines():
        name = line.split()[0] if line.split() else ""
        match = re.match(NAME_PREFIX + r"(\d+)[bd]\d+$", name)
        if match and not os.path.exists("/proc/" + match.group(1)):
            delete_namespace(name)


def delete_namespace(name):
    pids = sh("ip", "netns", "pids", name, check_rc=False).stdout.split()
    for pid in pids:
        try:
            os.kill(int(pid), signal.SIGKILL)
        except (ProcessLookupError, ValueError):
            pass
    sh("ip", "netns", "delete", name, check_rc=False)


class Run:
    """One end-to-end run: an X server, namespace pairs, the simulator and the dashboard."""

    def __init__(self, motrel, bridgesim, workdir):
        self.motrel, self.bridgesim, self.workdir = motrel, bridgesim, workdir
        self.namespaces, self.processes = [], []
        self.display = None
        self.xvfb = None
        self.pair_count = 0
        self.sim_count = 0
        # Files of an earlier run would pass for this run's records and screenshots.
        shutil.rmtree(workdir, ignore_errors=True)
        os.makedirs(workdir)

    def __enter__(self):
        signal.signal(signal.SIGTERM, _raise_interrupt)
        sweep_stale_namespaces()
        return self

    def __exit__(self, *exc):
        self.cleanup()
        return False

    def cleanup(self):
        for process in reversed(self.processes):
            stop(process)
        self.processes = []
        for name in reversed(self.namespaces):
            delete_namespace(name)
        self.namespaces = []
        if self.xvfb:
            stop(self.xvfb)
            self.xvfb = None

    # Network

    def namespace_pair(self, dashboard_addr=DASHBOARD_ADDR, bridge_addr=BRIDGE_ADDR):
        """Two fresh namespaces joined by veth; returns (dashboard ns, bridge ns)."""
        self.pair_count += 1
        tag = "%d%%s%d" % (os.getpid(), self.pair_count)
        dash_ns, bridge_ns = NAME_PREFIX + tag % "d", NAME_PREFIX + tag % "b"
        for name in (dash_ns, bridge_ns):
            sh("ip", "netns", "add", name)
            self.namespaces.append(name)
            sh("ip", "-n", name, "link", "set", "lo", "up")
        dash_if, bridge_if = "mtd" + tag % "x", "mtb" + tag % "x"
        sh("ip", "-n", bridge_ns, "link", "add", bridge_if, "type", "veth", "peer", "name", dash_if,
           "netns", dash_ns)
        sh("ip", "-n", bridge_ns, "addr", "add", bridge_addr + "/24", "dev", bridge_if)
        sh("ip", "-n", dash_ns, "addr", "add", dashboard_addr + "/24", "dev", dash_if)
        sh("ip", "-n", bridge_ns, "link", "set", bridge_if, "up")
        sh("ip", "-n", dash_ns, "link", "set", dash_if, "up")
        return dash_ns, bridge_ns

    # Processes

    def spawn(self, args, name):
        out = open(os.path.join(self.workdir, name + ".log"), "wb")
        process = subprocess.Popen(args, stdout=out, stderr=subprocess.STDOUT)
        process.log_path = out.name
        self.processes.append(process)
        return process

    def start_xvfb(self):
        """An X server on a random free display, reached through its socket file only.

        Servers in other network namespaces cannot see each other's abstract sockets, so searching
        for a free number by trying (-displayfd) could take over another server's socket file.
        """
        for _ in range(20):
            number = random.randrange(200, 900)
            if any(os.path.exists(path % number) for path in ("/tmp/.X%d-lock", "/tmp/.X11-unix/X%d")):
                continue
            self.xvfb = subprocess.Popen(
                ["Xvfb", ":%d" % number, "-screen", "0", "%dx%dx24" % (SCREEN_W, SCREEN_H),
                 "-nolisten", "tcp", "-nolisten", "local", "-noreset"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if self.wait_for_server(number):
                self.display = ":%d" % number
                log("Xvfb on %s" % self.display)
                return
            stop(self.xvfb)
        raise CheckFailed("no X server could start")

    def wait_for_server(self, number, timeout=10):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and self.xvfb.poll() is None:
            try:
                with open("/tmp/.X%d-lock" % number) as lock:
                    owner = int(lock.read().strip() or 0)
            except (OSError, ValueError):
                owner = 0
            if owner == self.xvfb.pid and os.path.exists("/tmp/.X11-unix/X%d" % number):
                return True
            time.sleep(0.05)
        return False

    def start_sim(self, bridge_ns, *options, bind=BRIDGE_ADDR):
        self.sim_count += 1
        record = os.path.join(self.workdir, "sim%d.rec" % self.sim_count)
        process = self.spawn(["ip", "netns", "exec", bridge_ns, self.bridgesim, "--bind", bind,
                              "--record", record] + list(options), "sim%d" % self.sim_count)
        process.record = record
        deadline = time.monotonic() + 5
        while not os.path.exists(record) and process.poll() is None and time.monotonic() < deadline:
            time.sleep(0.02)
        check(process.poll() is None, "bridgesim ended at start: " + open(process.log_path).read())
        return process

    def start_dashboard(self, dash_ns):
        environment = ["DISPLAY=" + self.display, "QT_QPA_PLATFORM=xcb", "QT_QUICK_BACKEND=software",
                       "XDG_RUNTIME_DIR=" + self.workdir]
        process = self.spawn(["ip", "netns", "exec", dash_ns, "env"] + environment + [self.motrel],
                             "motrel%d" % len(self.processes))
        process.started = time.monotonic()
        self.wait_for_window(process)
        return process

    def wait_for_window(self, process, timeout=20):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            check(process.poll() is None, "Motrel ended at start with %s: %s"
                  % (process.returncode, open(process.log_path).read()))
            found = self.xdotool("search", "--onlyvisible", "--name", "^Motrel$", check_rc=False)
            if found.returncode == 0 and found.stdout.strip():
                process.window = int(found.stdout.split()[0])
                log("Motrel window after %.2f s" % (time.monotonic() - process.started))
                return
            time.sleep(0.1)
        windows = self.xdotool("search", "--name", "Motrel", check_rc=False).stdout.decode().split()
        raise CheckFailed("no visible Motrel window within %d s (windows named so: %s)" % (timeout, windows))

    # X

    def x_env(self):
        return dict(os.environ, DISPLAY=self.display)

    def xdotool(self, *args, check_rc=True):
        return sh("xdotool", *args, check_rc=check_rc, env=self.x_env())

    # No --sync: it waits some 15 s when the pointer is already in place. Requests on one
    # connection are served in order, so the click still lands where the pointer went.
    def click(self, x, y):
        self.xdotool("mousemove", str(x), str(y), "click", "1")

    def move_pointer(self, x, y):
        self.xdotool("mousemove", str(x), str(y))

    def screenshot(self, keep_as=None):
        ppm = sh("/usr/bin/import", "-window", "root", "-depth", "8", "ppm:-", env=self.x_env()).stdout
        if keep_as:
            with open(os.path.join(self.workdir, keep_as + ".ppm"), "wb") as handle:
                handle.write(ppm)
            sh("/usr/bin/convert", os.path.join(self.workdir, keep_as + ".ppm"),
               os.path.join(self.workdir, keep_as + ".png"))
        return Image(ppm)

    def close_window(self, window):
        """What a window manager's close button does: WM_DELETE_WINDOW in a WM_PROTOCOLS message."""
        from Xlib import X, display as xdisplay, protocol
        connection = xdisplay.Display(self.display)
        try:
            target = connection.create_resource_object("window", window)
            protocols = connection.intern_atom("WM_PROTOCOLS")
            delete = connection.intern_atom("WM_DELETE_WINDOW")
            check(delete in (target.get_wm_protocols() or []), "the window does not take WM_DELETE_WINDOW")
            event = protocol.event.ClientMessage(window=target, client_type=protocols,
                                                 data=(32, [delete, X.CurrentTime, 0, 0, 0]))
            target.send_event(event, event_mask=X.NoEventMask)
            connection.flush()
        finally:
            connection.close()


def stop(process, grace=3.0):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(grace)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def wait_exit(process, timeout):
    try:
        return process.wait(timeout)
    except subprocess.TimeoutExpired:
        return None


def _raise_interrupt(signum, frame):
    raise KeyboardInterrupt("signal %d" % signum)


def main(namespace, needs_bridgesim=True):
    """Runs the one case named on the command line among the case_* functions of a test module."""
    cases = {name[len("case_"):]: function for name, function in namespace.items() if name.startswith("case_")}
    parser = argparse.ArgumentParser()
    parser.add_argument("--motrel", required=True)
    if needs_bridgesim:
        parser.add_argument("--bridgesim", required=True)
    parser.add_argument("--workdir", required=True)
    parser.add_argument("case", choices=sorted(cases))
    args = parser.parse_args()
    workdir = os.path.join(args.workdir, args.case)
    started = time.monotonic()
    try:
        with Run(args.motrel, getattr(args, "bridgesim", None), workdir) as run:
            run.start_xvfb()
            cases[args.case](run)
    except CheckFailed as failure:
        print("FAIL %s: %s (screenshots and logs in %s)" % (args.case, failure, workdir), flush=True)
        return 1
    print("PASS %s in %.1f s" % (args.case, time.monotonic() - started), flush=True)
    return 0

