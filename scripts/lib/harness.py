"""The one harness around the real Motrel: network namespaces, virtual screens, the simulator, screenshots.

Every script and whole-program test that runs the dashboard goes through a Session:

    with Session(workdir, motrel="build/Motrel", bridgesim="build/tools/bridgesim") as session:
        dash_ns, bridge_ns = session.namespace_pair()      # veth: bridge 192.168.4.1, dashboard .105
        session.start_xvfb(800, 480)                       # private X server, optionally a window manager
        session.start_sim(bridge_ns, "-s", "fixed", "--speed", "90")
        session.start_dashboard(dash_ns)                   # waits for the window
        image = session.screenshot("seen")                 # kept as seen.png in workdir
        needle_angle(image, session.geometry.speedo)

The bridge address is only ever reached inside those namespaces, so nothing can leave for a real
network. Whatever a Session started (namespaces, X server, window manager, processes) is removed on
every way out, SIGINT and SIGTERM included; namespaces of runs that were killed outright are swept
when the next Session starts. Geometry computes where the scene puts its gauges and tiles from the
window's size alone. Needs root (namespaces) and Debian's Xvfb, xdotool, ImageMagick and python3-xlib.
Shell scripts use it as `harness.py isolated -- COMMAND` (a namespace holding only loopback) and
`harness.py with-xvfb -- COMMAND`.
"""
import ctypes
import functools
import json
import math
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import time

BRIDGE_ADDR = "192.168.4.1"
DASHBOARD_ADDR = "192.168.4.105"
BRIDGE_ADDR6, DASHBOARD_ADDR6 = "fd00:4::1", "fd00:4::105"
PORT = 35000  # the bridge's and the dashboard's alike
PROBE = bytes.fromhex("30 0D 0A")
REPLY = bytes.fromhex("26 54 45 32 3D 31 0D 0A")
BACKGROUND = (0x16, 0x16, 0x16)

# The scene's layout, relative to the window.
ROW_ASPECT = 1.6           # speedometer 1.0 + tachometer chapter 0.6 of the container's height
ROW_SPACING = 0.02         # of the window's width
CHAPTER_SHARE = 0.6
TILE_WIDTH_DIVISOR = 3.2   # of the chapter's side
TILE_ASPECT = 9 / 16
TILE_GAP = 0.02            # of the chapter's side
UPPER_ROW_DIVISOR = 3.5    # the upper row is the chapter's side / 3.5 high, ending on the tachometer
LOWER_ROW_MARGIN = 0.1     # of the chapter's side, below the tachometer
TILE_PLACES = {"CLD": (0, "upper"), "WRM": (1, "upper"), "COOLANT": (2, "upper"),
               "P/N": (0, "lower"), "WIFI": (1, "lower"), "EXIT": (2, "lower")}

# The namespace= of a process that gets a network namespace of its own holding only loopback.
LOOPBACK_ONLY = "loopback-only"

NAME_PREFIX = "mt-"
STALE_NAME = re.compile(r"^mt-[a-z0-9]+-(\d+)-[bd]\d+$")
PR_SET_PDEATHSIG = 1


class CheckFailed(AssertionError):
    pass


def check(condition, message):
    if not condition:
        raise CheckFailed(message)


def log(message):
    print("[%7.2f] %s" % (time.monotonic() % 10000, message), flush=True)


def sh(*args, check_rc=True, **kwargs):
    result = subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kwargs)
    if check_rc and result.returncode != 0:
        raise RuntimeError("%s failed (%d): %s" % (" ".join(args), result.returncode,
                                                   result.stderr.decode(errors="replace")))
    return result


def ecu_frame(kph, rpm, coolant_raw=200):
    """One "ECU:" line as bridgesim sends it for the same values (e2e's demo case holds the two alike)."""
    values = [0] * 13
    values[4], values[6], values[8] = (rpm + 12) // 25, coolant_raw, kph
    return ("ECU: " + " ".join("%02X" % min(max(value, 0), 0xFF) for value in values) + "\r\n").encode()


# The scene

class Geometry:
    """Where the scene puts its gauges and tiles in a window of width x height (pixels, floats)."""

    def __init__(self, width, height):
        self.width, self.height = width, height
        self.landscape = width > height
        # Below the row's aspect the whole row is scaled down to fit the width.
        side = min(height, width / ROW_ASPECT) if self.landscape else min(width, height)
        spacing = ROW_SPACING * width
        row_width = ROW_ASPECT * side if self.landscape else side
        left, middle = (width - row_width) / 2, height / 2
        self.speedo = (left + side / 2, middle, side / 2)
        self.tacho, self.tiles = None, {}
        if self.landscape:
            chapter = CHAPTER_SHARE * side - spacing
            chapter_left = left + side + spacing
            self.tacho = (chapter_left + chapter / 2, middle, chapter / 2)
            tile_w = chapter / TILE_WIDTH_DIVISOR
            tops = {"upper": middle - chapter / 2 - chapter / UPPER_ROW_DIVISOR,
                    "lower": middle + chapter / 2 + LOWER_ROW_MARGIN * chapter}
            for name, (column, row) in TILE_PLACES.items():
                x = chapter_left + column * (tile_w + TILE_GAP * chapter)
                self.tiles[name] = (x, tops[row], x + tile_w, tops[row] + tile_w * TILE_ASPECT)

    def tile_rect(self, name):
        """(left, top, right, bottom) of a tile; KeyError where the window shows no tiles."""
        return self.tiles[name]

    def tile_centre(self, name):
        left, top, right, bottom = self.tile_rect(name)
        return int((left + right) / 2), int((top + bottom) / 2)


def speed_angle(kph):
    return -145.0 + min(max(kph, 0.0), 180.0) / 180.0 * 290.0


def rpm_angle(rpm):
    return -145.0 + min(max(rpm / 1000.0, 0.0), 8.0) / 8.0 * 290.0


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

    @classmethod
    def read(cls, path):
        return cls(sh("/usr/bin/convert", path, "-depth", "8", "ppm:-").stdout)

    def write(self, path):
        """Saves the image as PNG, without time stamps, so the same pixels give the same file."""
        ppm = b"P6 %d %d 255\n" % (self.width, self.height) + self.data
        sh("/usr/bin/convert", "ppm:-", "-define", "png:exclude-chunks=date,time", path, input=ppm)

    def crop(self, left, top, right, bottom):
        rows = []
        for y in range(int(top), int(bottom)):
            start = 3 * (y * self.width + int(left))
            rows.append(bytes(self.data[start:start + 3 * (int(right) - int(left))]))
        return b"".join(rows)


def image_difference(expected, actual, tolerance):
    """(pixels with a channel off by more than TOLERANCE, the largest channel difference) of two images."""
    if (expected.width, expected.height) != (actual.width, actual.height):
        return expected.width * expected.height, 255
    if expected.data == actual.data:
        return 0, 0
    channels = [(i, abs(a - b)) for i, (a, b) in enumerate(zip(expected.data, actual.data)) if a != b]
    pixels = {i // 3 for i, difference in channels if difference > tolerance}
    return len(pixels), max(difference for _, difference in channels)


def is_needle_red(rgb):
    r, g, b = rgb
    return r >= 90 and r > 2 * g + 40 and r > 2 * b + 40


def needle_angle(image, gauge, inner=0.3, outer=0.7):
    """The dial angle (degrees clockwise from straight up) with the most needle-red pixels."""
    cx, cy, radius = gauge
    best_angle, best_score = None, 0
    step = 2.0
    for angle in (a / 2.0 for a in range(-300, 301)):
        theta = math.radians(angle)
        score = 0
        r = inner * radius
        while r <= outer * radius:
            if is_needle_red(image.pixel(cx + r * math.sin(theta), cy - r * math.cos(theta))):
                score += 1
            r += step
        if score > best_score:
            best_angle, best_score = angle, score
    # A needle covers most samples along its axis; a few stray red pixels are no needle.
    samples = int((outer - inner) * radius / step)
    return best_angle if best_score >= samples * 0.6 else None


def tile_fill(image, geometry, name):
    """The fill colour in the tile's left margin, clear of border and label."""
    left, top, right, bottom = geometry.tile_rect(name)
    return image.pixel(left + max(4, 0.075 * (right - left)), (top + bottom) / 2)


def colour_name(rgb):
    r, g, b = rgb
    if b > 180 and r < 60 and g < 60:
        return "blue"
    if g > 100 and r < 60 and b < 60:
        return "green"
    if all(abs(c - 0x22) <= 8 for c in rgb):
        return "dark"
    if all(abs(c - d) <= 4 for c, d in zip(rgb, BACKGROUND)):
        return "background"
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


# Processes and namespaces

def _die_with_parent():
    # A harness killed outright takes its X server and programs with it.
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


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


@functools.lru_cache(maxsize=None)
def _unshare_flags():
    """A plain network namespace for root, else one inside a user namespace."""
    for flags in ("-n", "-rn")[os.geteuid() != 0:]:
        if subprocess.call(["unshare", flags, "true"], stderr=subprocess.DEVNULL) == 0:
            return flags
    raise CheckFailed("cannot create a private network namespace (unshare -n or -rn); refusing to run unisolated")


def loopback_only(args):
    """The command that runs ARGS in a network namespace of its own holding only loopback, so nothing
    they send can reach a real network."""
    return ["unshare", _unshare_flags(), "--", "sh", "-c", 'ip link set lo up && exec "$@"', "sh"] + list(args)


def delete_namespace(name):
    for pid in sh("ip", "netns", "pids", name, check_rc=False).stdout.split():
        try:
            os.kill(int(pid), signal.SIGKILL)
        except (ProcessLookupError, ValueError):
            pass
    sh("ip", "netns", "delete", name, check_rc=False)


def sweep_stale_namespaces():
    """Removes namespaces left by earlier runs whose process is gone (killed past any cleanup)."""
    for line in sh("ip", "netns", "list", check_rc=False).stdout.decode().splitlines():
        match = STALE_NAME.match(line.split()[0]) if line.split() else None
        if match and not os.path.exists("/proc/" + match.group(1)):
            delete_namespace(match.group(0))


def _raise_interrupt(signum, frame):
    raise KeyboardInterrupt("signal %d" % signum)


def user_prefix(user):
    """The command prefix that runs a program as USER, with that user's home."""
    import pwd
    entry = pwd.getpwnam(user)
    return ["setpriv", "--reuid", str(entry.pw_uid), "--regid", str(entry.pw_gid), "--init-groups",
            "env", "HOME=" + entry.pw_dir]


class Session:
    """X server, namespace pairs, the simulator and the dashboard of one run; all removed at the end."""

    def __init__(self, workdir, motrel=None, bridgesim=None, tag="run", as_user=()):
        self.workdir, self.motrel, self.bridgesim = workdir, motrel, bridgesim
        self.tag, self.as_user = tag, list(as_user)
        self.namespaces, self.processes = [], []
        self.display, self.geometry = None, None
        self.xvfb, self.window_manager = None, None
        self.pair_count = self.sim_count = 0
        # Files of an earlier run would pass for this run's records and screenshots.
        shutil.rmtree(workdir, ignore_errors=True)
        os.makedirs(workdir, mode=0o700)  # also the programs' XDG_RUNTIME_DIR, which Qt wants private

    def __enter__(self):
        for signum in (signal.SIGTERM, signal.SIGHUP):
            signal.signal(signum, _raise_interrupt)
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
        self.stop_xvfb()

    # Network

    def namespace_pair(self, dashboard_addr=DASHBOARD_ADDR, bridge_addr=BRIDGE_ADDR, ipv6_only=False):
        """Two fresh namespaces joined by veth; returns (dashboard ns, bridge ns)."""
        self.pair_count += 1
        names = ["%s%s-%d-%s%d" % (NAME_PREFIX, self.tag, os.getpid(), side, self.pair_count) for side in "db"]
        for name in names:
            sh("ip", "netns", "add", name)
            self.namespaces.append(name)
            sh("ip", "-n", name, "link", "set", "lo", "up")
        dash_ns, bridge_ns = names
        links = ["mt%s%d-%d" % (side, os.getpid(), self.pair_count) for side in "db"]
        sh("ip", "-n", bridge_ns, "link", "add", links[1], "type", "veth", "peer", "name", links[0],
           "netns", dash_ns)
        addresses = ((DASHBOARD_ADDR6 + "/64", BRIDGE_ADDR6 + "/64") if ipv6_only
                     else (dashboard_addr + "/24", bridge_addr + "/24"))
        for name, link, address in zip(names, links, addresses):
            sh("ip", "-n", name, "addr", "add", address, "dev", link, *(["nodad"] if ipv6_only else []))
            sh("ip", "-n", name, "link", "set", link, "up")
        return dash_ns, bridge_ns

    def tap_namespace(self):
        """A namespace pair whose dashboard side is a bridge over its veth and a tap for an emulated
        board, which holds the dashboard's address itself; returns (dashboard ns, bridge ns, tap)."""
        dash_ns, bridge_ns = self.namespace_pair()
        veth, tap, bridge = ("mt%s%d-%d" % (side, os.getpid(), self.pair_count) for side in "dts")
        sh("ip", "-n", dash_ns, "addr", "flush", "dev", veth)
        sh("ip", "-n", dash_ns, "tuntap", "add", "dev", tap, "mode", "tap")
        sh("ip", "-n", dash_ns, "link", "add", bridge, "type", "bridge")
        for link in (veth, tap):
            sh("ip", "-n", dash_ns, "link", "set", link, "master", bridge)
        for link in (tap, bridge):
            sh("ip", "-n", dash_ns, "link", "set", link, "up")
        return dash_ns, bridge_ns, tap

    def in_namespace(self, namespace, args, env=None):
        """The command that runs ARGS in NAMESPACE (None: here), as the session's user, with ENV added."""
        environment = ["env"] + ["%s=%s" % item for item in (env or {}).items()]
        inner = self.as_user + environment + list(args)
        if namespace == LOOPBACK_ONLY:
            return loopback_only(inner)
        return (["ip", "netns", "exec", namespace] if namespace else []) + inner

    # Processes

    def spawn(self, args, name, namespace=None, env=None):
        out = open(os.path.join(self.workdir, name + ".log"), "wb")
        process = subprocess.Popen(self.in_namespace(namespace, args, env), stdout=out,
                                   stderr=subprocess.STDOUT, preexec_fn=_die_with_parent)
        process.log_path = out.name
        self.processes.append(process)
        return process

    def start_sim(self, bridge_ns, *options, bind=BRIDGE_ADDR):
        self.sim_count += 1
        record = os.path.join(self.workdir, "sim%d.rec" % self.sim_count)
        process = self.spawn([self.bridgesim, "--bind", bind, "--record", record] + list(options),
                             "sim%d" % self.sim_count, namespace=bridge_ns)
        process.record = record
        deadline = time.monotonic() + 5
        while not os.path.exists(record) and process.poll() is None and time.monotonic() < deadline:
            time.sleep(0.02)
        check(process.poll() is None, "bridgesim ended at start: " + open(process.log_path).read())
        return process

    def dashboard_env(self, env=None):
        return dict({"DISPLAY": self.display, "QT_QPA_PLATFORM": "xcb", "QT_QUICK_BACKEND": "software",
                     "XDG_RUNTIME_DIR": self.workdir}, **(env or {}))

    def start_dashboard(self, dash_ns, executable=None, launcher=(), env=None, timeout=20):
        """Motrel (or EXECUTABLE, through LAUNCHER such as qemu-user) in DASH_NS; waits for its window."""
        process = self.spawn(list(launcher) + [executable or self.motrel], "motrel%d" % len(self.processes),
                             namespace=dash_ns, env=self.dashboard_env(env))
        process.started = time.monotonic()
        process.window = self.wait_for_window(process, timeout)
        return process

    def wait_for_window(self, process, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            check(process.poll() is None, "Motrel ended at start with %s: %s"
                  % (process.returncode, open(process.log_path).read()))
            windows = self.dashboard_windows()
            if windows:
                log("Motrel window after %.2f s" % (time.monotonic() - process.started))
                return windows[0]
            time.sleep(0.1)
        raise CheckFailed("no visible Motrel window within %d s" % timeout)

    def dashboard_windows(self):
        """The visible Motrel windows, less Qt's tiny helper windows of the same name."""
        found = self.xdotool("search", "--onlyvisible", "--name", "^Motrel$", check_rc=False)
        return [int(w) for w in found.stdout.split() if self.window_geometry(int(w))[2] > 3]

    # X

    def start_xvfb(self, width=1024, height=600, window_manager=None):
        """An X server of that size on a random free display, with "openbox", "matchbox" or no WM.

        Reached through its socket file only: servers in other network namespaces cannot see each
        other's abstract sockets, so finding a free number by trying (-displayfd) could take over
        another server's socket file.
        """
        self.stop_xvfb()
        for _ in range(20):
            number = random.randrange(200, 900)
            if any(os.path.exists(path % number) for path in ("/tmp/.X%d-lock", "/tmp/.X11-unix/X%d")):
                continue
            self.xvfb = subprocess.Popen(
                ["Xvfb", ":%d" % number, "-screen", "0", "%dx%dx24" % (width, height),
                 "-nolisten", "tcp", "-nolisten", "local", "-noreset"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, preexec_fn=_die_with_parent)
            if self.wait_for_server(number):
                self.display, self.geometry = ":%d" % number, Geometry(width, height)
                log("Xvfb %dx%d on %s" % (width, height, self.display))
                if window_manager:
                    self.start_window_manager(window_manager)
                return
            stop(self.xvfb)
        raise CheckFailed("no X server could start")

    def stop_xvfb(self):
        for process in (self.window_manager, self.xvfb):
            if process:
                stop(process)
        self.window_manager = self.xvfb = None

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

    def start_window_manager(self, name, timeout=10):
        commands = {"openbox": ["openbox", "--sm-disable"],
                    "matchbox": ["matchbox-window-manager", "-use_titlebar", "no"]}
        self.window_manager = subprocess.Popen(commands[name], env=self.x_env(), stdout=subprocess.DEVNULL,
                                               stderr=subprocess.DEVNULL, preexec_fn=_die_with_parent)
        # A window manager announces itself on the root window once it manages the screen.
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.root_property("_NET_SUPPORTING_WM_CHECK"):
                return
            check(self.window_manager.poll() is None, "%s ended at start" % name)
            time.sleep(0.1)
        raise CheckFailed("%s did not take the screen within %d s" % (name, timeout))

    def x_env(self):
        return dict(os.environ, DISPLAY=self.display)

    def xdotool(self, *args, check_rc=True):
        return sh("xdotool", *args, check_rc=check_rc, env=self.x_env())

    def _x_connection(self):
        from Xlib import display as xdisplay
        return xdisplay.Display(self.display)

    def root_property(self, name):
        connection = self._x_connection()
        try:
            root = connection.screen().root
            return root.get_full_property(connection.intern_atom(name), 0)
        finally:
            connection.close()

    def window_geometry(self, window):
        """(x, y, width, height) of a window, x and y on the screen."""
        connection = self._x_connection()
        try:
            target = connection.create_resource_object("window", window)
            geometry = target.get_geometry()
            origin = target.translate_coords(connection.screen().root, 0, 0)
            return -origin.x, -origin.y, geometry.width, geometry.height
        finally:
            connection.close()

    # No --sync: it waits some 15 s when the pointer is already in place. Requests on one
    # connection are served in order, so the click still lands where the pointer went.
    def click(self, x, y):
        self.xdotool("mousemove", str(x), str(y), "click", "1")

    def move_pointer(self, x, y):
        self.xdotool("mousemove", str(x), str(y))

    def screenshot(self, keep_as=None):
        image = Image(sh("/usr/bin/import", "-window", "root", "-depth", "8", "ppm:-", env=self.x_env()).stdout)
        if keep_as:
            image.write(os.path.join(self.workdir, keep_as + ".png"))
        return image

    def close_window(self, window):
        """What a window manager's close button does: WM_DELETE_WINDOW in a WM_PROTOCOLS message."""
        from Xlib import X, protocol
        connection = self._x_connection()
        try:
            target = connection.create_resource_object("window", window)
            protocols = connection.intern_atom("WM_PROTOCOLS")
            delete = connection.intern_atom("WM_DELETE_WINDOW")
            check(delete in (target.get_wm_protocols() or []), "the window does not take WM_DELETE_WINDOW")
            event = protocol.event.ClientMessage(window=target, client_type=protocols,
                                                 data=(32, [delete, X.CurrentTime, 0, 0, 0]))
            target.send_event(event, event_mask=X.NoEventMask)
            # A round trip: the server drops what it has not yet read of a connection that closes.
            connection.sync()
        finally:
            connection.close()


# Emulated boards

def connect_unix(path, timeout):
    """A stream socket connected to the unix socket PATH, which QEMU may not have made yet."""
    deadline = time.monotonic() + timeout
    while True:
        client = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            client.connect(path)
            client.settimeout(timeout)
            return client
        except OSError:
            client.close()
            check(time.monotonic() < deadline, "no socket at %s" % path)
            time.sleep(0.1)


class Qmp:
    """A client of QEMU's machine protocol on a unix socket: commands in, results out, events skipped."""

    def __init__(self, path, timeout=60):
        self.socket = connect_unix(path, timeout)
        self.reader = self.socket.makefile("rb")
        self._message()  # the greeting
        self.execute("qmp_capabilities")

    def _message(self):
        line = self.reader.readline()
        check(line, "QEMU closed its QMP socket")
        return json.loads(line)

    def execute(self, command, **arguments):
        self.socket.sendall(json.dumps({"execute": command, "arguments": arguments}).encode() + b"\n")
        while True:
            reply = self._message()
            if "error" in reply:
                raise CheckFailed("QMP %s: %s" % (command, reply["error"]))
            if "return" in reply:
                return reply["return"]

    def close(self):
        self.reader.close()
        self.socket.close()


class GuestShell:
    """A root shell inside a booted board, for the boots of tests and benchmarks alone.

    QEMU gets a virtio serial port, and only the kernel command line of such a boot starts a
    shell on it (systemd-run-generator, then a service that outlives the generator's oneshot):
    the image itself carries nothing of it.
    """

    PORT = "/dev/virtio-ports/motrel.test"
    APPEND = ("systemd.unit=multi-user.target systemd.wants=kernel-command-line.service "
              "systemd.run_success_action=none systemd.run_failure_action=none "
              "systemd.run=\"/usr/bin/systemd-run --unit=motrel-test-shell /bin/sh -c "
              "'until test -e {port}; do sleep 1; done; exec /bin/sh 0<>{port} 1>&0 2>&0'\"").format(port=PORT)

    @staticmethod
    def qemu_args(socket_path):
        return ["-device", "virtio-serial-pci", "-chardev", "socket,id=shell,path=%s,server=on,wait=off" % socket_path,
                "-device", "virtserialport,chardev=shell,name=" + os.path.basename(GuestShell.PORT)]

    def __init__(self, socket_path):
        self.socket = connect_unix(socket_path, 60)
        self.count = 0

    def send(self, command):
        """COMMAND started in the guest, which may never answer (a panic)."""
        self.socket.sendall((command + "\n").encode())

    def run(self, command, timeout=120):
        """COMMAND's output; fails unless its status is 0. Waits for the guest's shell to come up."""
        self.count += 1
        marker = "motrel-shell-done-%d" % self.count
        self.send("%s\necho %s $?" % (command, marker))
        done, output = re.compile(r"%s (\d+)\n" % marker), b""
        deadline = time.monotonic() + timeout
        while not done.search(output.decode(errors="replace")):
            check(time.monotonic() < deadline, "the guest's shell did not finish %r: %r" % (command, output))
            self.socket.settimeout(max(0.1, deadline - time.monotonic()))
            try:
                chunk = self.socket.recv(65536)
            except socket.timeout:
                continue
            check(chunk, "the guest's shell port closed")
            output += chunk
        text = output.decode(errors="replace")
        status = done.search(text)
        check(status.group(1) == "0", "%r failed in the guest (%s): %s" % (command, status.group(1), text))
        return text[:status.start()]

    def close(self):
        self.socket.close()


class Machine:
    """QEMU's arm64 virt board booting a scripts/image disk, driven through QMP only.

    Its screen is virtio-gpu at the scene's size, its pointer an absolute virtio tablet, its
    serial console a file, its one network card a tap in a namespace (Session.tap_namespace).
    Boots leave nothing on the image: its writes go to an overlay, which a power cut keeps.
    """

    ABS_MAX = 32767

    def __init__(self, session, image, namespace, tap, width=1024, height=600, shell=False, extra_args=()):
        """SHELL: a GuestShell on every boot; EXTRA_ARGS: more of QEMU's options."""
        self.session, self.image, self.namespace, self.tap = session, image, namespace, tap
        self.with_shell, self.extra_args, self.shell = shell, list(extra_args), None
        self.geometry = Geometry(width, height)
        self.width, self.height = width, height
        self.overlay = os.path.join(session.workdir, "disk.qcow2")
        sh("qemu-img", "create", "-q", "-f", "qcow2", "-b", os.path.abspath(image), "-F", "raw", self.overlay)
        self.boots, self.process, self.qmp = 0, None, None

    def put_on_card(self, files):
        """A fresh disk, with FILES (name: bytes) on its boot (FAT) partition as an owner would write
        them before a boot: a layer between the image and a new overlay. Only while powered off."""
        table = json.loads(sh("sfdisk", "--json", self.image).stdout)["partitiontable"]
        sector = table.get("sectorsize", 512)
        start, size = (table["partitions"][0][key] * sector for key in ("start", "size"))
        fat, card = (os.path.join(self.session.workdir, name) for name in ("card.fat", "card.qcow2"))
        sh("dd", "if=" + self.image, "of=" + fat, "bs=1M", "iflag=skip_bytes,count_bytes",
           "skip=%d" % start, "count=%d" % size, "status=none")
        for name, content in files.items():
            sh("mcopy", "-o", "-i", fat, "-", "::" + name, input=content)
        sh("qemu-img", "create", "-q", "-f", "qcow2", "-b", os.path.abspath(self.image), "-F", "raw", card)
        sh("qemu-io", "-f", "qcow2", "-c", "write -q -s %s %d %d" % (fat, start, size), card)
        os.remove(fat)
        os.remove(self.overlay)
        sh("qemu-img", "create", "-q", "-f", "qcow2", "-b", card, "-F", "qcow2", self.overlay)

    def boot(self):
        """Powers the board on; the serial console goes to boot<N>.serial in the workdir."""
        self.boots += 1
        stem = os.path.join(self.session.workdir, "boot%d" % self.boots)
        self.serial_path, socket_path = stem + ".serial", stem + ".qmp"
        base = os.path.splitext(self.image)[0]
        with open(base + ".cmdline") as cmdline:
            append = cmdline.read().strip() + " " + GuestShell.APPEND * self.with_shell
        args = ["qemu-system-aarch64", "-M", "virt", "-cpu", "cortex-a72", "-m", "1024", "-smp", "2",
                "-nodefaults", "-display", "none", "-kernel", base + ".vmlinuz", "-initrd", base + ".initrd",
                "-append", append, "-drive", "file=%s,format=qcow2,if=virtio" % self.overlay,
                "-device", "virtio-gpu-pci,xres=%d,yres=%d" % (self.width, self.height),
                "-device", "virtio-tablet-pci", "-device", "virtio-keyboard-pci",
                "-netdev", "tap,id=net0,ifname=%s,script=no,downscript=no" % self.tap,
                "-device", "virtio-net-pci,netdev=net0,romfile=",
                "-serial", "file:" + self.serial_path, "-qmp", "unix:%s,server=on,wait=off" % socket_path,
                # The hardware watchdog systemd arms: QEMU resets the board when it runs out.
                "-device", "i6300esb"]
        args += GuestShell.qemu_args(stem + ".shell") * self.with_shell + self.extra_args
        self.process = self.session.spawn(args, "qemu%d" % self.boots, namespace=self.namespace)
        self.started = time.monotonic()
        self.qmp = Qmp(socket_path)
        if self.with_shell:
            self.shell = GuestShell(stem + ".shell")
        log("board powered on (boot %d)" % self.boots)

    def power_cut(self):
        """Power gone at once: QEMU quits without a word to the guest."""
        self.qmp.execute("quit")
        self.qmp.close()
        if self.shell:
            self.shell.close()
        check(wait_exit(self.process, 30) is not None, "QEMU did not quit")
        log("power cut %.1f s into boot %d" % (time.monotonic() - self.started, self.boots))

    def serial(self):
        with open(self.serial_path, errors="replace") as handle:
            return handle.read()

    def wait_serial(self, pattern, timeout, after=0):
        """The first match of PATTERN on the serial console past offset AFTER."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            match = re.compile(pattern).search(self.serial(), after)
            if match:
                return match
            check(self.process.poll() is None, "QEMU ended: " + open(self.process.log_path).read())
            time.sleep(0.5)
        raise CheckFailed("no %r on the serial console within %d s" % (pattern, timeout))

    def screenshot(self, keep_as=None):
        path = os.path.join(self.session.workdir, "screendump.ppm")
        self.qmp.execute("screendump", filename=path)
        with open(path, "rb") as dump:
            image = Image(dump.read())
        if keep_as:
            image.write(os.path.join(self.session.workdir, keep_as + ".png"))
        return image

    def click(self, x, y):
        """A tap of the absolute pointer at screen pixel (x, y)."""
        axes = [{"type": "abs", "data": {"axis": axis, "value": round(value * self.ABS_MAX / (size - 1))}}
                for axis, value, size in (("x", x, self.width), ("y", y, self.height))]
        self.qmp.execute("input-send-event", events=axes)
        for down in (True, False):
            self.qmp.execute("input-send-event", events=[{"type": "btn", "data": {"down": down, "button": "left"}}])
            time.sleep(0.1)

    def written_bytes(self):
        """What the guest wrote to its disk, all boots together."""
        extents = json.loads(sh("qemu-img", "map", "--force-share", "--output=json", self.overlay).stdout)
        return sum(extent["length"] for extent in extents if extent["data"] and extent["depth"] == 0)


def run_case(namespace, needs_bridgesim=True, extra_options=()):
    """Runs the one case named on the command line among the case_* functions of a test module.

    Each case gets a Session with a 1024 x 600 Xvfb already up; EXTRA_OPTIONS are (flag, help)
    pairs whose values reach the case as session.options.
    """
    import argparse
    cases = {name[len("case_"):]: function for name, function in namespace.items() if name.startswith("case_")}
    parser = argparse.ArgumentParser()
    parser.add_argument("--motrel", required=True)
    if needs_bridgesim:
        parser.add_argument("--bridgesim", required=True)
    parser.add_argument("--workdir", required=True)
    for flag, help_text in extra_options:
        parser.add_argument(flag, help=help_text)
    parser.add_argument("case", choices=sorted(cases))
    args = parser.parse_args()
    workdir = os.path.join(args.workdir, args.case)
    started = time.monotonic()
    try:
        with Session(workdir, args.motrel, getattr(args, "bridgesim", None), tag="t") as session:
            session.options = args
            session.start_xvfb()
            cases[args.case](session)
    except CheckFailed as failure:
        print("FAIL %s: %s (screenshots and logs in %s)" % (args.case, failure, workdir), flush=True)
        return 1
    except KeyboardInterrupt as interrupt:
        print("INTERRUPTED %s: %s" % (args.case, interrupt), flush=True)
        return 130
    print("PASS %s in %.1f s" % (args.case, time.monotonic() - started), flush=True)
    return 0


def with_xvfb(argv):
    """harness.py with-xvfb [--size WxH] [--window-manager NAME] -- COMMAND...: COMMAND on a private X server."""
    import argparse
    import tempfile
    split = argv.index("--")
    parser = argparse.ArgumentParser(prog="harness.py with-xvfb")
    parser.add_argument("--size", default="1280x1024")
    parser.add_argument("--window-manager", choices=("openbox", "matchbox"))
    args = parser.parse_args(argv[:split])
    width, height = (int(n) for n in args.size.split("x"))
    workdir = tempfile.mkdtemp(prefix="motrel-x-")
    with Session(workdir, tag="x") as session:
        session.start_xvfb(width, height, args.window_manager)
        status = subprocess.call(argv[split + 1:], env=session.x_env())
    shutil.rmtree(workdir, ignore_errors=True)
    return status


def isolated(argv):
    """harness.py isolated -- COMMAND...: COMMAND in a network namespace of its own holding only loopback."""
    try:
        command = loopback_only(argv[argv.index("--") + 1:])
    except CheckFailed as failure:
        return "motrel: %s" % failure
    os.execvp(command[0], command)


if __name__ == "__main__":
    import sys
    commands = {"with-xvfb": with_xvfb, "isolated": isolated}
    command = commands.get(sys.argv[1] if len(sys.argv) > 1 else None)
    if not command or "--" not in sys.argv:
        sys.exit("\n".join(command.__doc__ for command in commands.values()))
    sys.exit(command(sys.argv[2:]))
