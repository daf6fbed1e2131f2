"""The installer's own window under Xvfb, for the test_window_* cases: a release to install, the
installer process in a Wine prefix of its own, its window found, clicked, dragged and photographed,
its hidden state read by tests/tools/window_probe.cpp, and the X cursor over it read through XFixes.

The installer's download base URL is built in; the release is served on that URL's port by
faultserver.held_release, which can hold any download so that the window can be looked at with the
progress standing at a chosen value."""

import ctypes
import os
import shutil
import subprocess
import time
import urllib.parse
import zipfile
import zlib
from pathlib import Path

from mirevale import wine, winefiles, xdo

import harness

EXE = harness.BUILD / "MirevaleSetup.exe"
TOOLS = harness.BUILD / "tests"
PROBE = TOOLS / "window_probe.exe"
CLIENT_STUB = TOOLS / "system_client_stub.exe"
SKIN = harness.SOURCE / "src" / "res" / "skin"
RENAME_FONT = harness.SOURCE / "tests" / "tools" / "rename_font.py"
PORT = urllib.parse.urlsplit(os.environ.get("MIREVALE_BASE_URL", "http://127.0.0.1:28480/EX/")).port
SHOTS = harness.BUILD / "e2e" / "screenshots"

WIDTH, HEIGHT = 530, 360
# Client points inside the buttons, and the rectangles (left, top, right, bottom) of what is drawn
# or shown over the background while installing.
CLOSE = (515, 16)
MINIMISE = (485, 16)
INSTALL = (270, 311)
AGREE = (17, 344)
BAR = (0, 346, 490, 354)
PERCENT = (490, 341, 525, 359)
STATUS = (34, 324, 494, 342)

WS_POPUP, WS_CAPTION, WS_SYSMENU, WS_THICKFRAME, WS_BORDER, WS_DLGFRAME = (
    0x80000000, 0x00C00000, 0x00080000, 0x00040000, 0x00800000, 0x00400000)
WS_EX_APPWINDOW, WS_EX_TOOLWINDOW, WS_EX_DLGMODALFRAME, WS_EX_CLIENTEDGE, WS_EX_WINDOWEDGE = (
    0x00040000, 0x00000080, 0x00000001, 0x00000200, 0x00000100)
SS_CENTER, SS_RIGHT, SS_TYPEMASK = 0x1, 0x2, 0x1F


_isolated = False


def isolate_network():
    """Moves this test process, and so every server and Wine process it starts, into a network
    namespace of its own with just a loopback interface. The installer's base URL names a fixed port,
    which another test run on the machine may serve or ask at the same time; here nobody else can.
    Needs root; without it the cases share the machine's loopback."""
    global _isolated
    if _isolated or os.geteuid() != 0:
        return
    clone_newnet = 0x40000000
    if ctypes.CDLL(None, use_errno=True).unshare(clone_newnet) != 0:
        raise OSError(ctypes.get_errno(), "unshare(CLONE_NEWNET) failed")
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    _isolated = True


# ---------------------------------------------------------------------------------------------
# Releases


def _zip(path, items):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in items.items():
            info = zipfile.ZipInfo(name, date_time=(2024, 5, 1, 12, 0, 0))
            # Made on MS-DOS with the archive bit: a Unix mode of 0 would extract read-only.
            info.create_system = 0
            info.external_attr = 0x20
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, data)


def _utf16_text(lines):
    return b"\xff\xfe" + "".join(line + "\r\n" for line in lines).encode("utf-16-le")


def write_release(folder, manifest, packages, manifest_file=True):
    """A release in `folder`: `manifest` lists (name, kind) lines; `packages` maps a package name to
    its items {path in the install folder: bytes}. filecrc.txt lists the items of the kind 1 packages,
    which every machine installs."""
    folder = Path(folder)
    folder.mkdir(parents=True, exist_ok=True)
    always = {name for name, kind in manifest if kind == 1}
    crc_lines = []
    for name, items in packages.items():
        _zip(folder / name, {path.replace("\\", "/"): data for path, data in items.items()})
        if name in always:
            crc_lines += ["%s;%d" % (path, zlib.crc32(data)) for path, data in items.items()]
    if manifest_file:
        (folder / "orbsetup.txt").write_bytes(_utf16_text(["%s;1;%d" % entry for entry in manifest]))
    (folder / "filecrc.txt").write_bytes(_utf16_text(crc_lines))
    shutil.copyfile(CLIENT_STUB, folder / "UnInstall.exe")
    return folder


def client_marker(prefix):
    """The file the client stand-in writes when it starts: its process id and its working folder."""
    return winefiles.c_drive(prefix) / "Larkspire" / "client-stub.txt"


def core_package():
    """The package every machine gets: the client (a stand-in that records its start) and a file."""
    return {"iQorRemote.exe": CLIENT_STUB.read_bytes(), "config\\core.txt": b"core package\r\n"}


# ---------------------------------------------------------------------------------------------
# Screens


class Image:
    """RGB pixels of a screenshot or of a skin image, 8 bits a channel."""

    def __init__(self, width, height, data):
        self.width, self.height, self.data = width, height, data

    @classmethod
    def load(cls, path, crop=None):
        args = ["convert", str(path)]
        if crop:
            args += ["-crop", "%dx%d+%d+%d" % crop, "+repage"]
        args += ["-depth", "8", "rgb:-"]
        data = subprocess.run(args, check=True, capture_output=True).stdout
        width, height = (crop[0], crop[1]) if crop else _size(path)
        assert len(data) == width * height * 3, (path, crop, len(data))
        return cls(width, height, data)

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])

    def differences(self, other, skip=()):
        """Number of pixels that differ from `other`, outside the rectangles `skip`."""
        assert (self.width, self.height) == (other.width, other.height)
        count = 0
        for y in range(self.height):
            spans = [(0, self.width)]
            for left, top, right, bottom in skip:
                if top <= y < bottom:
                    spans = [piece for a, b in spans for piece in ((a, min(b, left)), (max(a, right), b))
                             if piece[0] < piece[1]]
            for a, b in spans:
                row = (y * self.width + a) * 3, (y * self.width + b) * 3
                mine, theirs = self.data[row[0]:row[1]], other.data[row[0]:row[1]]
                if mine != theirs:
                    count += sum(mine[i:i + 3] != theirs[i:i + 3] for i in range(0, len(mine), 3))
        return count

    def save(self, path):
        subprocess.run(["convert", "-size", "%dx%d" % (self.width, self.height), "-depth", "8", "rgb:-", str(path)],
                       input=self.data, check=True)


def _size(path):
    out = subprocess.run(["identify", "-format", "%w %h", str(path)], check=True, capture_output=True, text=True)
    width, height = out.stdout.split()
    return int(width), int(height)


_skins = {}


def skin(name):
    if name not in _skins:
        _skins[name] = Image.load(SKIN / name)
    return _skins[name]


def is_fill(rgb):
    return rgb[0] - rgb[1] > 100 and rgb[0] - rgb[2] > 100


def is_track(rgb):
    return min(rgb) > 200 and max(rgb) - min(rgb) < 30


def bar_rows(image):
    """Per row of the progress bar: the width of its red part from the left, or None when the row is
    not red from x 0 on and grey (track) after it."""
    left, top, right, bottom = BAR
    widths = []
    for y in range(top, bottom):
        pixels = [image.pixel(x, y) for x in range(left, right)]
        width = 0
        while width < len(pixels) and is_fill(pixels[width]):
            width += 1
        widths.append(width if all(is_track(p) for p in pixels[width:]) else None)
    return widths


def red_pixels(image, rect):
    left, top, right, bottom = rect
    return sum(is_fill(image.pixel(x, y)) for y in range(top, bottom) for x in range(left, right))


class _CursorImage(ctypes.Structure):
    _fields_ = [("x", ctypes.c_short), ("y", ctypes.c_short), ("width", ctypes.c_ushort),
                ("height", ctypes.c_ushort), ("xhot", ctypes.c_ushort), ("yhot", ctypes.c_ushort),
                ("cursor_serial", ctypes.c_ulong), ("pixels", ctypes.c_void_p), ("atom", ctypes.c_ulong),
                ("name", ctypes.c_char_p)]


class XCursor:
    """The X server's current cursor. Wine gives the system cursors their X theme names: the hand is
    "hand2", the arrow "left_ptr"."""

    def __init__(self):
        self._x11 = ctypes.CDLL("libX11.so.6")
        self._xfixes = ctypes.CDLL("libXfixes.so.3")
        self._x11.XOpenDisplay.restype = ctypes.c_void_p
        self._x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self._x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self._x11.XFree.argtypes = [ctypes.c_void_p]
        self._xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(_CursorImage)
        self._xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
        self._display = self._x11.XOpenDisplay(None)
        if not self._display:
            raise RuntimeError("no X display")

    def name(self):
        image = self._xfixes.XFixesGetCursorImage(self._display)
        if not image:
            return None
        name = (image.contents.name or b"").decode()
        self._x11.XFree(image)
        return name

    def wait_for(self, predicate, timeout=30.0):
        """Waits until predicate(name) holds; returns the last name seen."""
        deadline = time.monotonic() + timeout
        while True:
            name = self.name()
            if predicate(name) or time.monotonic() > deadline:
                return name
            time.sleep(0.1)

    def close(self):
        self._x11.XCloseDisplay(self._display)


# ---------------------------------------------------------------------------------------------
# Processes


wait_until = xdo.wait_until


def probe(prefix, *args):
    """The window_probe report as a dict (its "child" lines in a list)."""
    out = wine.run(prefix, [PROBE] + list(args), capture_output=True, timeout=60).stdout.decode("utf-8")
    report = {"child": []}
    for line in out.splitlines():
        key, _, value = line.partition("=")
        if key == "child":
            report["child"].append(value)
        else:
            report[key] = value
    return report


def install_preferred_font(prefix):
    """A free CJK font, renamed "微软雅黑", in the prefix's Fonts folder and registered there."""
    fonts = winefiles.c_drive(prefix) / "windows" / "Fonts"
    fonts.mkdir(parents=True, exist_ok=True)
    source = "/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc"
    subprocess.run(["/usr/bin/python3", str(RENAME_FONT), source, "2", str(fonts / "msyh.otf"), "微软雅黑"],
                   check=True)
    wine.reg_add(prefix, r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\Fonts", "微软雅黑 (OpenType)",
                 "msyh.otf")


class WindowGone(Exception):
    pass


class Installer:
    """One run of the installer (or of a copy, `exe`) in `prefix`, and its window."""

    # In the 32-bit runtime any of the prefix's processes may own the window: a second copy started
    # while the first runs must not take the first one's.
    _running = []

    def __init__(self, prefix, exe=EXE):
        self.prefix = prefix
        self.log = open(Path(prefix).parent / "installer-output.txt", "ab")
        self.proc = wine.popen(prefix, [exe], stdout=self.log, stderr=subprocess.STDOUT)
        self.window = self._find_window()
        Installer._running.append(self)

    def _find_window(self, timeout=60.0):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and self.proc.poll() is None:
            windows = [w for pid in wine.window_pids(self.proc, self.prefix)
                       for w in xdo.run("search", "--onlyvisible", "--pid", pid).stdout.split()]
            taken = {other.window for other in Installer._running if other.proc.poll() is None}
            for window in windows:
                if window in taken:
                    continue
                try:
                    if xdo.geometry(window)[2:] == (WIDTH, HEIGHT):
                        return window
                except KeyError:
                    continue
            time.sleep(0.2)
        raise AssertionError("the installer window did not open")

    def origin(self):
        try:
            return xdo.geometry(self.window)[:2]
        except KeyError:
            raise WindowGone(self.window) from None

    def screen(self, point):
        x, y = self.origin()
        return x + point[0], y + point[1]

    def move(self, point):
        xdo.move(*self.screen(point))

    def click(self, point):
        x, y = self.screen(point)
        self._wait_out_double_click(x, y)
        xdo.click(x, y)
        self._pressed(x, y)

    def drag(self, start, end, release_outside_screen=None, moves=True):
        """Presses the left button at client point `start`, moves in steps to client point `end`
        (or to a screen point), releases; all points are taken from where the window was at first.
        With `moves` the press is meant to start the system's move loop: each step then waits until
        the loop runs and the window has followed the pointer (or a while has passed, so that a
        window that stays put fails the caller's check)."""
        x0, y0 = self.origin()
        sx, sy = x0 + start[0], y0 + start[1]
        ex, ey = release_outside_screen or (x0 + end[0], y0 + end[1])
        self._wait_out_double_click(sx, sy)
        xdo.move(sx, sy)
        xdo.run("mousedown", 1)
        self._pressed(sx, sy)
        moving = moves and wait_until(lambda: self.probe().get("movesize") == "1", 10)
        for step in range(1, 5):
            x, y = sx + (ex - sx) * step // 4, sy + (ey - sy) * step // 4
            xdo.move(x, y)
            if moving:
                wait_until(lambda: self._origin_or_none() == (x0 + x - sx, y0 + y - sy), 10)
        xdo.run("mouseup", 1)
        if moving:
            wait_until(lambda: self.probe().get("movesize") == "0", 10)

    def _origin_or_none(self):
        try:
            return self.origin()
        except WindowGone:
            return None

    def _pressed(self, x, y):
        self._last_press = (time.monotonic(), x, y)

    def _wait_out_double_click(self, x, y):
        """A press as near the last one as the system's double-click rule says, and sooner, would be a
        double click (on a drag area: no drag); a hand waits a moment first, and so does this."""
        last = getattr(self, "_last_press", None)
        if last is None:
            return
        if not hasattr(self, "_double_click"):
            self._double_click = tuple(int(v) for v in self.probe()["doubleclick"].split(","))
        seconds, width, height = self._double_click[0] / 1000.0, self._double_click[1], self._double_click[2]
        when, last_x, last_y = last
        if abs(x - last_x) < width / 2 and abs(y - last_y) < height / 2:
            # X stamps the press when it takes it, a little after the call returned: a margin covers it.
            time.sleep(max(0.0, when + seconds + 0.1 - time.monotonic()))

    def keys(self, *names):
        xdo.keys(self.window, *names)

    def shot(self, save_as=None):
        SHOTS.mkdir(parents=True, exist_ok=True)
        path = SHOTS / "window-current.png"
        xdo.screenshot(path)
        x, y = self.origin()
        image = Image.load(path, (WIDTH, HEIGHT, x, y))
        if save_as:
            image.save(SHOTS / save_as)
        return image

    def probe(self, *args):
        return probe(self.prefix, *args)

    def wait_probe(self, predicate, timeout=30.0):
        """Probes until predicate(report) holds; returns the last report."""
        deadline = time.monotonic() + timeout
        while True:
            report = self.probe()
            if predicate(report) or time.monotonic() > deadline:
                return report
            time.sleep(0.2)

    def box(self, title, timeout=30.0):
        """The message box titled `title` that this installer shows: (window id, probe report)."""
        window = xdo.find(title, timeout=timeout, proc=self.proc)
        return window, (self.probe("box", title) if window else None)

    def showing(self):
        out = subprocess.run(["xwininfo", "-id", self.window], capture_output=True, text=True).stdout
        return "IsViewable" in out

    def gone(self, timeout=30.0):
        return xdo.gone(self.window, timeout)

    def exited(self, timeout=60.0):
        try:
            self.proc.wait(timeout)
            return True
        except subprocess.TimeoutExpired:
            return False

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.log.close()
        if self in Installer._running:
            Installer._running.remove(self)
