"""What the end-to-end cases work with: a `Context` holding the case's own
display, Wine prefix clone and saver processes, plus the pictures, pointer and
window readings the cases check.  The pytest fixtures in conftest.py build the
Context and always take down what it started.

Isolation model: one Wine prefix is made per run (wineboot is slow), and every
case works in its own clone of it.  A clone hard-links the prefix's read-only
bulk and gets real copies of the registry files, so it costs a fraction of a
second.  Each clone has its own wineserver, and therefore its own registry,
its own Windows desktop and its own foreground window; that matters because
Wine's desktop process takes the screen geometry from the X display it was
started on and keyboard focus is per desktop, so cases on different displays
that shared one wineserver would disturb each other.  Settings written by a
case therefore never race with another case's.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import json
import os
import shutil
import struct
import subprocess
import sys
import threading
import time
import zlib
from dataclasses import dataclass
from pathlib import Path
from typing import Callable, Iterable

import pytest

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tools"))
sys.path.insert(0, str(ROOT / "tests" / "data"))  # the layout file's reader

import xwine  # noqa: E402
from xwine import SAVER_CAPTION, terminate  # noqa: E402,F401

APP_TITLE = "SCRNSAVE:Quillomir"
SETTINGS_KEY = r"HKCU\Software\Quillomir\Setup"
DIALOG = "Quillomir"
ABOUT = "About Quillomir"
PROBE = "quillomir_ui_probe.exe"
CRASH_TITLE = "Program Error"  # Wine's dialog for an unhandled exception

BLACK = (0, 0, 0)
WHITE = (255, 255, 255)

# The colours the settings offer, as stored (0x00BBGGRR).
BLUE_VALUE = 16711680
GREEN_VALUE = 65280
COLOUR_OPTIONS = {255: "Red", 65280: "Green", 16711680: "Blue", 16711935: "Purple",
                  16777215: "White"}

# The label's rectangle in pixels at 96 DPI (240, 240, 3372 x 252 twips).
LABEL = (16, 16, 225, 17)
# While the chain has not yet filled its table, a disc is drawn at (0, 0).
CORNER = (0, 0, 24, 24)
RADIUS_PX = 8
STEP_PX = 7

# One factor for every timeout, for slower targets (an emulated guest, a loaded
# machine).  The cases' own timing expectations (a message after ~10 s) are
# behaviour and are not scaled.
TIME_SCALE = float(os.environ.get("QUILLOMIR_E2E_TIME_SCALE", "1") or "1")


def scaled(seconds: float) -> float:
    return seconds * TIME_SCALE


class TestFailure(AssertionError):
    """A check in a case did not hold."""

    __test__ = False  # not a test class, whatever pytest's name rules say


def check(condition: bool, message: str) -> None:
    __tracebackhide__ = True
    if not condition:
        raise TestFailure(message)


def case(timeout: float = 60):
    """Marks an e2e case with its time limit in seconds (scaled by
    QUILLOMIR_E2E_TIME_SCALE); the case function takes the `ctx` fixture."""
    return pytest.mark.case_timeout(timeout)


def colorref_to_rgb(value: int) -> tuple[int, int, int]:
    """Windows colour value 0x00BBGGRR to an (r, g, b) tuple."""
    return (value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF)


BLUE = colorref_to_rgb(BLUE_VALUE)
GREEN = colorref_to_rgb(GREEN_VALUE)


def wait_until(predicate: Callable[[], object], timeout: float, interval: float = 0.2):
    """Polls `predicate` until it returns something truthy; returns that or None."""
    return xwine.wait_until(predicate, scaled(timeout), interval)


def wait_exit(proc: subprocess.Popen, timeout: float) -> int | None:
    """The exit code, or None if the process is still running after `timeout`."""
    try:
        return proc.wait(timeout=scaled(timeout))
    except subprocess.TimeoutExpired:
        return None


# --------------------------------------------------------------------------------------
# The X side of a case's display

class Display(xwine.Xvfb):
    """The case's Xvfb with the readings the cases take on the X side."""

    def wait_window(self, name: str, timeout: float = 20, exact: bool = True) -> int | None:
        return super().wait_window(name, scaled(timeout), exact)

    def wait_no_window(self, name: str, timeout: float = 10) -> bool:
        return super().wait_no_window(name, scaled(timeout))

    def geometry(self, wid: int) -> dict:
        """Absolute position, size and map state of an X window."""
        out = self.run("xwininfo", "-id", str(wid)).stdout
        g = {}
        for line in out.splitlines():
            line = line.strip()
            for key, label in (("x", "Absolute upper-left X:"), ("y", "Absolute upper-left Y:"),
                               ("width", "Width:"), ("height", "Height:")):
                if line.startswith(label):
                    g[key] = int(line.split(":", 1)[1])
            if line.startswith("Map State:"):
                g["map_state"] = line.split(":", 1)[1].strip()
        return g

    def window_name(self, wid: int) -> str:
        return self.xdotool("getwindowname", str(wid)).strip()

    def stacking_order(self) -> list[int]:
        """Top-level windows of the root, bottom first (XQueryTree order)."""
        out = self.run("xwininfo", "-root", "-children").stdout
        ids = []
        for line in out.splitlines():
            line = line.strip()
            if line.startswith("0x"):
                ids.append(int(line.split()[0], 16))
        # xwininfo prints the children top-most first.
        ids.reverse()
        return ids

    def visible_top_windows(self) -> list[tuple[int, str, dict]]:
        """Mapped children of the root: (id, name, geometry)."""
        out = self.run("xwininfo", "-root", "-children").stdout
        found = []
        for line in out.splitlines():
            line = line.strip()
            if not line.startswith("0x"):
                continue
            wid = int(line.split()[0], 16)
            g = self.geometry(wid)
            if g.get("map_state") == "IsViewable":
                name = line.split('"')[1] if line.count('"') >= 2 else ""
                found.append((wid, name, g))
        return found

    def key(self, *keys: str) -> None:
        self.xdotool("key", *keys)

    def click(self, button: int = 1) -> None:
        self.xdotool("click", str(button))

    def move(self, x: int, y: int) -> None:
        self.xdotool("mousemove", str(x), str(y))

    def pointer(self) -> tuple[int, int]:
        out = self.xdotool("getmouselocation", "--shell")
        vals = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(vals["X"]), int(vals["Y"])

    def screenshot(self, save_png: Path | None = None) -> "Image":
        """The whole root window as an Image; optionally also written as PNG."""
        r = subprocess.run(["import", "-display", self.display, "-window", "root",
                            "-depth", "8", "rgb:-"], stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, timeout=60)
        if r.returncode != 0:
            raise RuntimeError(f"import failed: {r.stderr.decode(errors='replace').strip()}")
        # The root window spans the bounding box of all screens.
        w, h = self._root_size()
        img = Image(w, h, r.stdout)
        if save_png:
            img.save_png(save_png)
        return img

    def _root_size(self) -> tuple[int, int]:
        out = self.run("xwininfo", "-root").stdout
        w = h = None
        for line in out.splitlines():
            line = line.strip()
            if line.startswith("Width:"):
                w = int(line.split(":")[1])
            elif line.startswith("Height:"):
                h = int(line.split(":")[1])
        return w, h

    def cursor_image(self) -> "CursorImage":
        return cursor_image(self.display)



# --------------------------------------------------------------------------------------
# Pictures

class Image:
    """An RGB picture with a few measuring helpers.  Regions are (x, y, w, h)."""

    def __init__(self, width: int, height: int, data: bytes):
        if len(data) != width * height * 3:
            raise ValueError(f"picture data is {len(data)} bytes, expected {width}x{height}x3")
        self.width, self.height, self.data = width, height, data

    def pixel(self, x: int, y: int) -> tuple[int, int, int]:
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])

    def _clip(self, region):
        if region is None:
            return 0, 0, self.width, self.height
        x, y, w, h = region
        x0, y0 = max(0, x), max(0, y)
        x1, y1 = min(self.width, x + w), min(self.height, y + h)
        return x0, y0, max(0, x1 - x0), max(0, y1 - y0)

    def points(self, predicate: Callable[[tuple], bool], region=None) -> list[tuple[int, int]]:
        """Coordinates of the pixels in `region` for which predicate(rgb) holds.
        Rows that are wholly black are skipped fast; predicate(BLACK) must be False
        for that shortcut, so use `count_colour` to count black."""
        x0, y0, w, h = self._clip(region)
        found = []
        stride = self.width * 3
        for y in range(y0, y0 + h):
            start = y * stride + x0 * 3
            row = self.data[start:start + w * 3]
            if not row.strip(b"\0"):
                continue
            for i in range(0, len(row), 3):
                rgb = (row[i], row[i + 1], row[i + 2])
                if rgb != BLACK and predicate(rgb):
                    found.append((x0 + i // 3, y))
        return found

    def count_colour(self, colour: tuple[int, int, int], region=None, tolerance: int = 0) -> int:
        """Number of pixels in `region` within `tolerance` (per channel) of colour."""
        x0, y0, w, h = self._clip(region)
        if colour == BLACK and tolerance == 0:
            total = w * h
            return total - len(self.points(lambda rgb: True, (x0, y0, w, h)))
        return len(self.points(lambda rgb: _near(rgb, colour, tolerance), (x0, y0, w, h)))

    def non_black(self, region=None) -> list[tuple[int, int]]:
        return self.points(lambda rgb: True, region)

    def crop_bytes(self, region) -> bytes:
        x0, y0, w, h = self._clip(region)
        stride = self.width * 3
        return b"".join(self.data[y * stride + x0 * 3: y * stride + (x0 + w) * 3]
                        for y in range(y0, y0 + h))

    def save_png(self, path: Path) -> None:
        path.parent.mkdir(parents=True, exist_ok=True)
        stride = self.width * 3
        raw = b"".join(b"\0" + self.data[y * stride:(y + 1) * stride] for y in range(self.height))

        def chunk(tag: bytes, body: bytes) -> bytes:
            return struct.pack(">I", len(body)) + tag + body + struct.pack(">I", zlib.crc32(tag + body))

        png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", self.width, self.height,
                                                               8, 2, 0, 0, 0))
        png += chunk(b"IDAT", zlib.compress(raw, 3)) + chunk(b"IEND", b"")
        path.write_bytes(png)


def _near(a, b, tol):
    return abs(a[0] - b[0]) <= tol and abs(a[1] - b[1]) <= tol and abs(a[2] - b[2]) <= tol


def bbox(points: Iterable[tuple[int, int]]):
    pts = list(points)
    if not pts:
        return None
    xs = [p[0] for p in pts]
    ys = [p[1] for p in pts]
    return min(xs), min(ys), max(xs) - min(xs) + 1, max(ys) - min(ys) + 1


# --------------------------------------------------------------------------------------
# The X pointer's current image, through the XFixes extension (libXfixes via ctypes).
# Wine turns a hidden Windows cursor into an empty X cursor on its windows, so a
# fully transparent image means the pointer is hidden where it stands.

class _XFixesCursorImage(ctypes.Structure):
    _fields_ = [("x", ctypes.c_short), ("y", ctypes.c_short),
                ("width", ctypes.c_ushort), ("height", ctypes.c_ushort),
                ("xhot", ctypes.c_ushort), ("yhot", ctypes.c_ushort),
                ("cursor_serial", ctypes.c_ulong),
                ("pixels", ctypes.POINTER(ctypes.c_ulong)),
                ("atom", ctypes.c_ulong), ("name", ctypes.c_char_p)]


@dataclass
class CursorImage:
    x: int
    y: int
    width: int
    height: int
    opaque_pixels: int

    @property
    def visible(self) -> bool:
        return self.opaque_pixels > 0


_xlib = None
_xfixes_lock = threading.Lock()


def _load_xfixes():
    global _xlib
    if _xlib is None:
        x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        xf = ctypes.CDLL(ctypes.util.find_library("Xfixes") or "libXfixes.so.3")
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        x11.XFree.argtypes = [ctypes.c_void_p]
        xf.XFixesQueryExtension.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int),
                                            ctypes.POINTER(ctypes.c_int)]
        xf.XFixesGetCursorImage.restype = ctypes.POINTER(_XFixesCursorImage)
        xf.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]
        _xlib = (x11, xf)
    return _xlib


def cursor_image(display: str) -> CursorImage:
    with _xfixes_lock:
        x11, xf = _load_xfixes()
        dpy = x11.XOpenDisplay(display.encode())
        if not dpy:
            raise RuntimeError(f"cannot open display {display}")
        try:
            ev, err = ctypes.c_int(), ctypes.c_int()
            if not xf.XFixesQueryExtension(dpy, ctypes.byref(ev), ctypes.byref(err)):
                raise RuntimeError("the X server has no XFixes extension")
            ptr = xf.XFixesGetCursorImage(dpy)
            if not ptr:
                raise RuntimeError("XFixesGetCursorImage failed")
            im = ptr.contents
            n = im.width * im.height
            opaque = sum(1 for i in range(n) if (im.pixels[i] >> 24) & 0xFF)
            result = CursorImage(im.x, im.y, im.width, im.height, opaque)
            x11.XFree(ptr)
            return result
        finally:
            x11.XCloseDisplay(dpy)


# --------------------------------------------------------------------------------------
# Windows' own view, from the probe built beside the saver

class CaseWine(xwine.Wine):
    def run(self, *args: str, timeout: float = 60) -> subprocess.CompletedProcess:
        return super().run(*args, timeout=scaled(timeout))


@dataclass
class WinInfo:
    """A top-level window as Windows sees it."""
    hwnd: int
    pid: int
    visible: bool
    exstyle: int
    style: int
    rect: tuple[int, int, int, int]  # left, top, width, height
    cls: str
    title: str

    @property
    def topmost(self) -> bool:
        return bool(self.exstyle & 0x8)  # WS_EX_TOPMOST


# --------------------------------------------------------------------------------------
# What a case owns; the fixtures in conftest.py create and always close these.

class DisplaySlot:
    """The case's X server, started on first use with the size the case asks for."""

    def __init__(self, case_dir: Path, first_display: int):
        self.case_dir, self.first_display = case_dir, first_display
        self.x: Display | None = None

    def start(self, width: int, height: int, **kw) -> Display:
        if self.x is None:
            self.x = Display(width, height, first_display=self.first_display,
                             log=self.case_dir / "xvfb.log", **kw).start()
        return self.x

    def stop(self) -> None:
        if self.x:
            self.x.stop()


class PrefixSlot:
    """The case's clone of the run's Wine prefix; closing it ends the clone's
    wineserver (and every program in it) and deletes the clone."""

    def __init__(self, base: Path, path: Path, case_dir: Path):
        self.base, self.path, self.case_dir = base, path, case_dir
        self.wine: CaseWine | None = None

    def open(self, display: str) -> CaseWine:
        if self.wine is None:
            xwine.clone_prefix(self.base, self.path)
            self.wine = CaseWine(self.path, display, log=self.case_dir / "wine.log")
        return self.wine

    def close(self) -> None:
        if self.wine:
            self.wine.shutdown()
        if self.path.exists():
            shutil.rmtree(self.path, ignore_errors=True)


class Processes(list):
    """Windows programs a case started; all are stopped when the case ends."""

    def stop_all(self) -> None:
        for proc in self:
            terminate(proc)


class Context:
    """What a case works with: its own display, its own prefix clone, a place for
    screenshots, and a way to start the saver."""

    def __init__(self, name: str, case_dir: Path, scr: Path, display: DisplaySlot,
                 prefix: PrefixSlot, procs: Processes):
        self.name, self.dir, self.scr = name, case_dir, scr
        self.log_path = case_dir / "log.txt"
        self._display, self._prefix = display, prefix
        self.procs = procs
        self.x: Display | None = None
        self.wine: CaseWine | None = None
        self.t0 = time.monotonic()

    def log(self, text: str) -> None:
        stamp = f"{time.monotonic() - self.t0:7.2f}s"
        with open(self.log_path, "a") as f:
            f.write(f"{stamp} {text}\n")

    def display(self, width: int = 1024, height: int = 768, **kw) -> Display:
        """Starts this case's X server (once; the first call decides the size)
        and its Wine prefix clone."""
        if self.x is None:
            self.x = self._display.start(width, height, **kw)
            self.log(f"Xvfb {self.x.display} {self.x.screens}")
            self.wine = self._prefix.open(self.x.display)
        return self.x

    def settings(self, **values) -> None:
        """Writes saver settings (DisplayValue=1, CrawletColor=65280, ...) as the
        decimal texts that the configuration dialog stores."""
        self.display()
        for name, value in values.items():
            self.wine.reg_set(SETTINGS_KEY, name, str(value))
        self.log(f"settings {values}")

    def start_saver(self, *args: str) -> subprocess.Popen:
        self.display()
        proc = self.wine.start(self.scr, *args)
        self.procs.append(proc)
        self.log(f"started {self.scr.name} {' '.join(args)} pid {proc.pid}")
        return proc

    def start_running_saver(self, timeout: float = 25) -> tuple[subprocess.Popen, int]:
        """/S, then waits for the saver window; returns the process and window id."""
        proc = self.start_saver("/S")
        wid = self.x.wait_window(SAVER_CAPTION, timeout)
        if wid is None:
            self.shot("no-window")
        check(wid is not None, f"no window '{SAVER_CAPTION}' within {scaled(timeout):.0f} s "
                               f"(process {'exited ' + str(proc.poll()) if proc.poll() is not None else 'running'})")
        self.log(f"saver window 0x{wid:x}")
        return proc, wid

    def probe(self, *args: str, timeout: float = 15, tries: int = 3) -> subprocess.CompletedProcess:
        """Runs quillomir_ui_probe (built beside the saver) in the case's prefix.
        A run that hangs (Wine, now and then, while another program is starting)
        is stopped and tried again."""
        exe = self.scr.parent / PROBE
        check(exe.is_file(), f"test error: {exe} is missing (it is built beside the saver)")
        for attempt in range(tries):
            try:
                return self.wine.run(str(exe), *args, timeout=timeout)
            except subprocess.TimeoutExpired:
                self.log(f"probe {' '.join(args)} hung; attempt {attempt + 1} of {tries}")
        check(False, f"the probe ({' '.join(args)}) hung {tries} times")

    def top_windows(self, title: str | None = None, measure: bool = False) -> list[dict]:
        """Windows' visible top-level windows (of that title), top of the z-order first."""
        r = self.probe("measure" if measure else "list", *([title] if title else []))
        if measure and r.stderr.strip():
            self.log(f"probe measure: {r.stderr.strip()}")
        return [json.loads(line) for line in r.stdout.splitlines() if line.strip().startswith("{")]

    def windows(self) -> list[WinInfo]:
        """Windows' own list of visible top-level windows, top of the z-order first."""
        return [WinInfo(w["hwnd"], w["pid"], True, w["exstyle"], w["style"], tuple(w["rect"]),
                        w["class"], w["caption"]) for w in self.top_windows()]

    def cursor_showing(self) -> bool:
        """GetCursorInfo's CURSOR_SHOWING; under Wine it reflects the display
        count of the thread that owns the foreground input."""
        r = self.probe("cursor")
        lines = [json.loads(line) for line in r.stdout.splitlines() if line.startswith("{")]
        check(r.returncode == 0 and len(lines) == 1,
              f"probe cursor failed ({r.returncode}): {r.stdout}{r.stderr}")
        return bool(lines[0]["showing"])

    def shot(self, label: str) -> Image:
        path = self.dir / f"{label}.png"
        img = self.x.screenshot(save_png=path)
        self.log(f"screenshot {path}")
        return img
