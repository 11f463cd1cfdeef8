"""Building blocks for end-to-end tests that drive the real Quillomir.scr under
64-bit Wine on a private Xvfb display.

Everything here uses only the Python standard library and the command-line
tools Xvfb, xdotool, xwininfo and ImageMagick's `import`.

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
import fnmatch
import os
import shutil
import signal
import struct
import subprocess
import threading
import time
import traceback
import zlib
from dataclasses import dataclass, field
from pathlib import Path
from typing import Callable, Iterable

ROOT = Path(__file__).resolve().parents[2]
WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
WINE_RUN = ROOT / "tools" / "wine-run"

SAVER_CAPTION = "Screen Saver Main Form"
APP_TITLE = "SCRNSAVE:Quillomir"
SETTINGS_KEY = r"HKCU\Software\Quillomir\Setup"

BLACK = (0, 0, 0)
WHITE = (255, 255, 255)


class TestFailure(AssertionError):
    """A check in a case did not hold."""


def check(condition: bool, message: str) -> None:
    if not condition:
        raise TestFailure(message)


def colorref_to_rgb(value: int) -> tuple[int, int, int]:
    """Windows colour value 0x00BBGGRR to an (r, g, b) tuple."""
    return (value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF)


def wait_until(predicate: Callable[[], object], timeout: float, interval: float = 0.2):
    """Polls `predicate` until it returns something truthy; returns that or None."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            return None
        time.sleep(interval)


# --------------------------------------------------------------------------------------
# Cleanup of everything a run started, even when a case blows up or the run is
# interrupted.

_cleanup_lock = threading.Lock()
_cleanups: dict[int, Callable[[], None]] = {}
_cleanup_next = 0


def register_cleanup(fn: Callable[[], None]) -> int:
    global _cleanup_next
    with _cleanup_lock:
        _cleanup_next += 1
        _cleanups[_cleanup_next] = fn
        return _cleanup_next


def run_cleanup(token: int) -> None:
    with _cleanup_lock:
        fn = _cleanups.pop(token, None)
    if fn:
        try:
            fn()
        except Exception:  # cleanup must never mask the real result
            pass


def cleanup_all() -> None:
    with _cleanup_lock:
        tokens = sorted(_cleanups, reverse=True)
    for token in tokens:
        run_cleanup(token)


def _terminate(proc: subprocess.Popen, grace: float = 2.0) -> None:
    if proc.poll() is not None:
        return
    try:
        proc.terminate()
        proc.wait(timeout=grace)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(timeout=grace)
    except ProcessLookupError:
        pass


# --------------------------------------------------------------------------------------
# Xvfb

_display_lock = threading.Lock()
_displays_in_use: set[int] = set()


class Xvfb:
    """A private X server.  `screens` is a list of (width, height); more than one
    gives one X screen per entry, and with xinerama=True they form one logical
    screen that Wine reports as several monitors."""

    def __init__(self, width: int = 1024, height: int = 768, *, screens=None,
                 xinerama: bool = False, first_display: int = 50, log: Path | None = None):
        self.screens = screens or [(width, height)]
        self.xinerama = xinerama
        self.first_display = first_display
        self.log = log
        self.proc: subprocess.Popen | None = None
        self.number: int | None = None
        self._token: int | None = None

    @property
    def display(self) -> str:
        return f":{self.number}"

    @property
    def width(self) -> int:
        return self.screens[0][0]

    @property
    def height(self) -> int:
        return self.screens[0][1]

    def start(self) -> "Xvfb":
        args = ["-nolisten", "tcp", "-noreset"]
        if self.xinerama:
            # Wine takes monitors from RandR when it can; Xvfb's RandR knows only
            # one output, so it is switched off to let Wine read the Xinerama heads.
            args += ["+xinerama", "-extension", "RANDR"]
        for i, (w, h) in enumerate(self.screens):
            args += ["-screen", str(i), f"{w}x{h}x24"]
        out = open(self.log, "ab") if self.log else subprocess.DEVNULL
        for n in range(self.first_display, self.first_display + 200):
            with _display_lock:
                if n in _displays_in_use or Path(f"/tmp/.X{n}-lock").exists() \
                        or Path(f"/tmp/.X11-unix/X{n}").exists():
                    continue
                _displays_in_use.add(n)
            proc = subprocess.Popen(["Xvfb", f":{n}", *args], stdout=out, stderr=out,
                                    stdin=subprocess.DEVNULL, start_new_session=True)
            sock = Path(f"/tmp/.X11-unix/X{n}")
            ok = wait_until(lambda: proc.poll() is not None or sock.exists(), 10, 0.05)
            if ok and proc.poll() is None and self._answers(n):
                self.proc, self.number = proc, n
                self._token = register_cleanup(self.stop)
                return self
            _terminate(proc)
            with _display_lock:
                _displays_in_use.discard(n)
        raise RuntimeError("no free X display number for Xvfb")

    @staticmethod
    def _answers(n: int) -> bool:
        def probe():
            r = subprocess.run(["xdpyinfo", "-display", f":{n}"], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
            return r.returncode == 0
        if shutil.which("xdpyinfo") is None:
            time.sleep(0.3)
            return True
        return bool(wait_until(probe, 5, 0.1))

    def stop(self) -> None:
        if self.proc:
            _terminate(self.proc)
            self.proc = None
        if self.number is not None:
            with _display_lock:
                _displays_in_use.discard(self.number)
        if self._token is not None:
            token, self._token = self._token, None
            with _cleanup_lock:
                _cleanups.pop(token, None)

    # ---- X-side helpers, all on this display ------------------------------------------

    def env(self) -> dict:
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        return env

    def run(self, *cmd: str, timeout: float = 20, check_rc: bool = False) -> subprocess.CompletedProcess:
        r = subprocess.run(list(cmd), env=self.env(), stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, text=True, timeout=timeout)
        if check_rc and r.returncode != 0:
            raise RuntimeError(f"{cmd[0]} failed ({r.returncode}): {r.stderr.strip()}")
        return r

    def xdotool(self, *args: str, timeout: float = 20) -> str:
        r = self.run("xdotool", *args, timeout=timeout)
        return r.stdout

    def find_windows(self, name: str, visible: bool = True, exact: bool = True) -> list[int]:
        """X window ids whose title matches `name` (exactly, or as a regex)."""
        pattern = "^" + _regex_escape(name) + "$" if exact else name
        args = ["search"]
        if visible:
            args.append("--onlyvisible")
        args += ["--name", pattern]
        return [int(x) for x in self.xdotool(*args).split()]

    def wait_window(self, name: str, timeout: float = 20, exact: bool = True) -> int | None:
        ids = wait_until(lambda: self.find_windows(name, exact=exact), timeout)
        return ids[0] if ids else None

    def wait_no_window(self, name: str, timeout: float = 10) -> bool:
        return bool(wait_until(lambda: not self.find_windows(name), timeout))

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


def _regex_escape(text: str) -> str:
    # xdotool uses POSIX extended regexes.
    return "".join("\\" + c if c in r".^$*+?()[]{}|\\" else c for c in text)


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
# Wine

def wine_env(prefix: Path, display: str | None) -> dict:
    env = dict(os.environ)
    env["WINEPREFIX"] = str(prefix)
    env["WINEDEBUG"] = "-all"
    # No Mono or Gecko can be fetched here; never let Wine ask.
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    if display:
        env["DISPLAY"] = display
    else:
        env.pop("DISPLAY", None)
    return env


def make_prefix(prefix: Path, fresh: bool = True) -> float:
    """Creates the run's Wine prefix through tools/wine-run; returns seconds taken."""
    t0 = time.monotonic()
    if fresh and prefix.exists():
        kill_wineserver(prefix)
        shutil.rmtree(prefix)
    prefix.parent.mkdir(parents=True, exist_ok=True)
    r = subprocess.run([str(WINE_RUN), "cmd", "/c", "exit"], env=wine_env(prefix, None),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
    subprocess.run([WINESERVER, "-w"], env=wine_env(prefix, None), timeout=120)
    if not (prefix / "system.reg").exists():
        raise RuntimeError(f"making the Wine prefix {prefix} failed (rc {r.returncode})")
    return time.monotonic() - t0


def clone_prefix(base: Path, dest: Path) -> None:
    """A private copy of `base`: hard links for the bulk, real copies of the files
    that Wine rewrites in place (the registry hives)."""
    if dest.exists():
        kill_wineserver(dest)
        shutil.rmtree(dest)
    dest.parent.mkdir(parents=True, exist_ok=True)
    subprocess.run(["cp", "-al", str(base), str(dest)], check=True)
    for name in os.listdir(dest):
        p = dest / name
        if p.is_file() and not p.is_symlink() and (name.endswith(".reg") or name.startswith(".")):
            tmp = dest / (name + ".copy")
            shutil.copy2(base / name, tmp)
            os.replace(tmp, p)


def kill_wineserver(prefix: Path) -> None:
    subprocess.run([WINESERVER, "-k"], env=wine_env(prefix, None), stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=30)


class Wine:
    """Wine in one prefix, showing its windows on one display."""

    def __init__(self, prefix: Path, display: str | None, log: Path | None = None):
        self.prefix, self.display, self.log = prefix, display, log
        self._token = register_cleanup(self.shutdown)

    def env(self) -> dict:
        return wine_env(self.prefix, self.display)

    def _out(self):
        return open(self.log, "ab") if self.log else subprocess.DEVNULL

    def start(self, program: str | Path, *args: str) -> subprocess.Popen:
        """Starts a Windows program; the Popen's pid is the Windows process itself."""
        out = self._out()
        return subprocess.Popen([WINE, str(program), *args], env=self.env(), stdout=out,
                                stderr=out, stdin=subprocess.DEVNULL)

    def run(self, *args: str, timeout: float = 60) -> subprocess.CompletedProcess:
        return subprocess.run([WINE, *args], env=self.env(), stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True, timeout=timeout)

    def reg_set(self, key: str, name: str, value: str, kind: str = "REG_SZ") -> None:
        r = self.run("reg", "add", key, "/v", name, "/t", kind, "/d", value, "/f")
        if r.returncode != 0:
            raise RuntimeError(f"reg add {key} {name} failed: {r.stdout}{r.stderr}")

    def reg_query(self, key: str, name: str) -> str | None:
        """The value's data as text, or None when it is not there."""
        r = self.run("reg", "query", key, "/v", name)
        if r.returncode != 0:
            return None
        for line in r.stdout.splitlines():
            parts = line.split(None, 2)
            if len(parts) >= 2 and parts[0].lower() == name.lower() and parts[1].startswith("REG_"):
                return parts[2].strip() if len(parts) == 3 else ""
        return None

    def reg_delete_key(self, key: str) -> None:
        self.run("reg", "delete", key, "/f")

    def set_settings(self, **values) -> None:
        """Writes saver settings (DisplayValue=1, CrawletColor=65280, ...) as the
        decimal texts that the configuration dialog stores."""
        for name, value in values.items():
            self.reg_set(SETTINGS_KEY, name, str(value))

    def windows(self, helper: Path) -> list[WinInfo]:
        """Top-level windows of this Wine session, top of the z-order first."""
        r = self.run(str(helper), "top", timeout=30)
        if r.returncode != 0:
            raise RuntimeError(f"wininfo failed ({r.returncode}): {r.stderr.strip()}")
        return _parse_wininfo(r.stdout)

    def cursor_showing(self, helper: Path) -> bool:
        """GetCursorInfo's CURSOR_SHOWING; under Wine it reflects the display
        count of the thread that owns the foreground input."""
        r = self.run(str(helper), "cursor", timeout=30)
        if r.returncode != 0 or not r.stdout.startswith("flags="):
            raise RuntimeError(f"wininfo cursor failed ({r.returncode}): {r.stdout}{r.stderr}")
        return bool(int(r.stdout.split()[0].split("=")[1], 16) & 1)

    def children(self, helper: Path, hwnd: int) -> list[WinInfo]:
        r = self.run(str(helper), "children", f"{hwnd:x}", timeout=30)
        return _parse_wininfo(r.stdout)

    def shutdown(self) -> None:
        kill_wineserver(self.prefix)
        run_cleanup_token = getattr(self, "_token", None)
        if run_cleanup_token is not None:
            self._token = None
            with _cleanup_lock:
                _cleanups.pop(run_cleanup_token, None)


@dataclass
class WinInfo:
    """A window as Windows sees it (from helpers/wininfo.exe)."""
    hwnd: int
    pid: int
    visible: bool
    exstyle: int
    style: int
    rect: tuple[int, int, int, int]  # left, top, right, bottom
    cls: str
    title: str

    @property
    def topmost(self) -> bool:
        return bool(self.exstyle & 0x8)  # WS_EX_TOPMOST


HELPER_SOURCE = Path(__file__).resolve().parent / "helpers" / "wininfo.c"
HELPER_CC = "x86_64-w64-mingw32-gcc"


def build_helper(out_dir: Path) -> Path:
    """Compiles helpers/wininfo.c into out_dir (when it is older than its source)."""
    exe = out_dir / "helpers" / "wininfo.exe"
    if exe.exists() and exe.stat().st_mtime >= HELPER_SOURCE.stat().st_mtime:
        return exe
    exe.parent.mkdir(parents=True, exist_ok=True)
    r = subprocess.run([HELPER_CC, "-O1", "-Wall", "-o", str(exe), str(HELPER_SOURCE)],
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if r.returncode != 0:
        raise RuntimeError(f"building {exe.name} failed:\n{r.stdout}")
    return exe


def _parse_wininfo(text: str) -> list[WinInfo]:
    found = []
    for line in text.splitlines():
        f = line.rstrip("\r").split("\t")
        if len(f) < 11:
            continue
        found.append(WinInfo(int(f[0], 16), int(f[1]), f[2] == "1", int(f[3], 16), int(f[4], 16),
                             (int(f[5]), int(f[6]), int(f[7]), int(f[8])), f[9], f[10]))
    return found


def wait_exit(proc: subprocess.Popen, timeout: float) -> int | None:
    """The exit code, or None if the process is still running after `timeout`."""
    try:
        return proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        return None


# --------------------------------------------------------------------------------------
# Cases

@dataclass
class TestCase:
    name: str
    fn: Callable
    timeout: float
    module: str = ""


CASES: list[TestCase] = []


def case(timeout: float = 60, name: str | None = None):
    """Registers an e2e case.  The function receives a `Context`."""
    def deco(fn):
        CASES.append(TestCase(name or fn.__name__.removeprefix("test_"), fn, timeout,
                              fn.__module__))
        return fn
    return deco


@dataclass
class RunConfig:
    scr: Path
    out_dir: Path
    base_prefix: Path
    helper: Path | None = None  # wininfo.exe, built once per run


class Context:
    """What a case works with: its own display, its own prefix clone, a place for
    screenshots, and a way to start the saver.  Everything it starts is stopped
    by close(), which the runner always calls."""

    def __init__(self, config: RunConfig, name: str):
        self.config = config
        self.name = name
        self.dir = config.out_dir / "cases" / name
        if self.dir.exists():
            shutil.rmtree(self.dir)
        self.dir.mkdir(parents=True)
        self.log_path = self.dir / "log.txt"
        self.prefix = config.out_dir / "prefixes" / name
        self.x: Xvfb | None = None
        self.wine: Wine | None = None
        self.procs: list[subprocess.Popen] = []
        self.notes: list[str] = []
        self.t0 = time.monotonic()

    def log(self, text: str) -> None:
        stamp = f"{time.monotonic() - self.t0:7.2f}s"
        with open(self.log_path, "a") as f:
            f.write(f"{stamp} {text}\n")

    def display(self, width: int = 1024, height: int = 768, **kw) -> Xvfb:
        """Starts this case's X server (once) and its Wine prefix clone."""
        if self.x is None:
            self.x = Xvfb(width, height, log=self.dir / "xvfb.log", **kw).start()
            self.log(f"Xvfb {self.x.display} {self.x.screens}")
            clone_prefix(self.config.base_prefix, self.prefix)
            self.wine = Wine(self.prefix, self.x.display, log=self.dir / "wine.log")
        return self.x

    def settings(self, **values) -> None:
        self.display()
        self.wine.set_settings(**values)
        self.log(f"settings {values}")

    def start_saver(self, *args: str) -> subprocess.Popen:
        self.display()
        proc = self.wine.start(self.config.scr, *args)
        self.procs.append(proc)
        self.log(f"started {self.config.scr.name} {' '.join(args)} pid {proc.pid}")
        return proc

    def start_running_saver(self, timeout: float = 25) -> tuple[subprocess.Popen, int]:
        """/S, then waits for the saver window; returns the process and window id."""
        proc = self.start_saver("/S")
        wid = self.x.wait_window(SAVER_CAPTION, timeout)
        if wid is None:
            self.shot("no-window")
        check(wid is not None, f"no window '{SAVER_CAPTION}' within {timeout} s "
                               f"(process {'exited ' + str(proc.poll()) if proc.poll() is not None else 'running'})")
        self.log(f"saver window 0x{wid:x}")
        return proc, wid

    def windows(self) -> list[WinInfo]:
        """Windows' own list of top-level windows, top of the z-order first."""
        check(self.config.helper is not None, "the wininfo helper was not built")
        return self.wine.windows(self.config.helper)

    def cursor_showing(self) -> bool:
        check(self.config.helper is not None, "the wininfo helper was not built")
        return self.wine.cursor_showing(self.config.helper)

    def shot(self, label: str) -> Image:
        path = self.dir / f"{label}.png"
        img = self.x.screenshot(save_png=path)
        self.log(f"screenshot {path}")
        return img

    def close(self) -> None:
        for proc in self.procs:
            _terminate(proc)
        if self.wine:
            self.wine.shutdown()
        if self.x:
            self.x.stop()
        if self.prefix.exists():
            shutil.rmtree(self.prefix, ignore_errors=True)


@dataclass
class Result:
    name: str
    passed: bool
    seconds: float
    message: str = ""
    artefacts: Path | None = None


def run_case(config: RunConfig, test: TestCase) -> Result:
    ctx = Context(config, test.name)
    t0 = time.monotonic()
    outcome: dict = {}

    def body():
        try:
            test.fn(ctx)
            outcome["ok"] = True
        except TestFailure as e:
            outcome["error"] = str(e)
        except Exception as e:  # a broken harness or tool is a failure too
            outcome["error"] = f"{type(e).__name__}: {e}"
            with open(ctx.log_path, "a") as f:
                traceback.print_exc(file=f)

    worker = threading.Thread(target=body, daemon=True)
    worker.start()
    worker.join(test.timeout)
    try:
        if worker.is_alive():
            outcome = {"error": f"timed out after {test.timeout:.0f} s"}
    finally:
        ctx.close()
        worker.join(10)
    seconds = time.monotonic() - t0
    message = outcome.get("error", "")
    if message:
        ctx.log("FAIL " + message)
    for note in ctx.notes:
        ctx.log("note " + note)
    return Result(test.name, bool(outcome.get("ok")) and not message, seconds, message, ctx.dir)


def select(cases: list[TestCase], filters: list[str]) -> list[TestCase]:
    if not filters:
        return list(cases)
    chosen = []
    for c in cases:
        for f in filters:
            if fnmatch.fnmatch(c.name, f) or (not any(ch in f for ch in "*?[") and f in c.name):
                chosen.append(c)
                break
    return chosen


def install_signal_cleanup() -> None:
    def handler(signum, frame):
        cleanup_all()
        raise SystemExit(128 + signum)
    for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, handler)
