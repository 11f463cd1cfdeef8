"""Fixtures for the Linux saver's end-to-end tests: a private Xvfb for each
test, a scratch settings folder, screenshots as raw pixels, and test windows
made through Xlib with ctypes.  Every service a test needs is started here and
stopped when the test ends."""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import shutil
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[3]
sys.path.insert(0, str(ROOT / "tools"))

import xwine  # noqa: E402
BLUE = (0, 0, 255)
BLACK = (0, 0, 0)


def saver_path() -> Path:
    return Path(os.environ.get("QUILLOMIR_BIN", ROOT / "build" / "native" / "quillomir"))


@dataclass
class Screen:
    display: str
    width: int
    height: int
    pixels: bytes = b""

    def shot(self) -> "Screen":
        """The whole screen now, as RGB bytes."""
        raw = subprocess.run(
            ["import", "-display", self.display, "-window", "root", "-depth", "8", "rgb:-"],
            check=True, capture_output=True, timeout=30).stdout
        assert len(raw) == self.width * self.height * 3, "unexpected screenshot size"
        return Screen(self.display, self.width, self.height, raw)

    def pixel(self, x: int, y: int) -> tuple[int, int, int]:
        i = (y * self.width + x) * 3
        return self.pixels[i], self.pixels[i + 1], self.pixels[i + 2]

    def points_of(self, color: tuple[int, int, int], area=None) -> list[tuple[int, int]]:
        return points_of(self.pixels, self.width, self.height, bytes(color), area)


def points_of(pixels: bytes, width: int, height: int, color: bytes,
              area=None) -> list[tuple[int, int]]:
    """The pixels of `color` in RGB bytes, within `area` (x, y, w, h) if given."""
    x0, y0, w, h = area or (0, 0, width, height)
    found = []
    for y in range(y0, y0 + h):
        row = pixels[(y * width + x0) * 3:(y * width + x0 + w) * 3]
        start = row.find(color)
        while start != -1:
            if start % 3 == 0:
                found.append((x0 + start // 3, y))
            start = row.find(color, start + 1)
    return found


@pytest.fixture
def screen():
    """A private Xvfb at 1920x1080 with a white root, so that black drawn outside
    a test's window shows; "-ac" lets xscreensaver, run as another user, in."""
    with xwine.Xvfb(1920, 1080, extra_args=("-ac", "-wr")) as server:
        yield Screen(server.display, 1920, 1080)


@pytest.fixture
def config_home(tmp_path):
    home = tmp_path / "config"
    home.mkdir()
    return home


class Saver:
    """One run of the saver; ended (and reaped) when the test ends."""

    def __init__(self, screen: Screen, config_home: Path, args, env=None):
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "DISPLAY": screen.display,
                    "XDG_CONFIG_HOME": str(config_home), "HOME": str(config_home)}
        self.env.update(env or {})
        self.process = subprocess.Popen([str(saver_path()), *args], env=self.env,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def running(self) -> bool:
        return self.process.poll() is None

    def wait(self, seconds: float) -> int | None:
        try:
            return self.process.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            return None

    def stop(self) -> None:
        if self.running():
            self.process.kill()
            self.process.wait()
        for stream in (self.process.stdout, self.process.stderr):
            stream.close()


@pytest.fixture
def run_saver_on(config_home):
    """Starts the saver on a given screen: run_saver_on(screen, *args, env=None)."""
    started: list[Saver] = []

    def start(screen: Screen, *args, env=None) -> Saver:
        saver = Saver(screen, config_home, args, env)
        started.append(saver)
        return saver

    yield start
    for saver in started:
        saver.stop()


@pytest.fixture
def run_saver(screen, run_saver_on):
    """Starts the saver on the test's screen: run_saver(*args, env=None)."""
    return lambda *args, env=None: run_saver_on(screen, *args, env=env)


def xdotool(screen: Screen, *args) -> None:
    subprocess.run(["xdotool", *args], check=True, timeout=30,
                   env={**os.environ, "DISPLAY": screen.display})


def wait_until(condition, seconds: float, step: float = 0.1) -> bool:
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(step)
    return condition()


class TestWindows:
    """Plain X windows that a test makes, as a screen saver or locker would."""

    def __init__(self, display: str):
        self.x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x11.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self.x11.XCreateSimpleWindow.restype = ctypes.c_ulong
        self.x11.XCreateSimpleWindow.argtypes = [
            ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
            ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_ulong]
        for name in ("XMapRaised", "XDestroyWindow", "XClearWindow"):
            getattr(self.x11, name).argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.x11.XSetWindowBackground.argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                                  ctypes.c_ulong]
        self.x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.display = self.x11.XOpenDisplay(display.encode())
        assert self.display, "cannot open the test display"

    def make(self, x: int, y: int, width: int, height: int, background=0x808080) -> int:
        """A mapped window with a grey background, so the saver's black shows."""
        root = self.x11.XDefaultRootWindow(self.display)
        window = self.x11.XCreateSimpleWindow(self.display, root, x, y, width, height, 0, 0,
                                              background)
        self.x11.XMapRaised(self.display, window)
        self.x11.XSync(self.display, 0)
        return window

    def repaint(self, window: int, background: int) -> None:
        """Gives the window a new background and clears it to that, as its owner may."""
        self.x11.XSetWindowBackground(self.display, window, background)
        self.x11.XClearWindow(self.display, window)
        self.x11.XSync(self.display, 0)

    def destroy(self, window: int) -> None:
        self.x11.XDestroyWindow(self.display, window)
        self.x11.XSync(self.display, 0)

    def close(self) -> None:
        self.x11.XCloseDisplay(self.display)


@pytest.fixture
def windows(screen):
    made = TestWindows(screen.display)
    yield made
    made.close()


def on_diagonals_through(points, cx: float, cy: float, slack: float) -> list[tuple[int, int]]:
    """The points that lie farther than `slack` from both diagonals through (cx, cy)."""
    return [(x, y) for x, y in points if abs(abs(x - cx) - abs(y - cy)) > slack]


def unprivileged() -> list[str]:
    """The prefix that runs a command as the user "nobody" when we are root."""
    if os.geteuid() != 0:
        return []
    return [shutil.which("setpriv") or "setpriv", "--reuid=65534", "--regid=65534",
            "--clear-groups"]


@pytest.fixture
def shared_folder():
    """A fresh folder of mode 0755 directly under the temporary folder, for what
    another user must run or read: the build tree may sit under a folder only
    we can enter (a checkout in root's home, a private mktemp -d)."""
    folder = Path(tempfile.mkdtemp(prefix="quillomir-shared-"))
    folder.chmod(0o755)
    yield folder
    shutil.rmtree(folder, ignore_errors=True)


def reachable_copy(program: Path, folder: Path) -> Path:
    """A copy of `program` in `folder` that the unprivileged user can run;
    fails the test with the reason when that user cannot."""
    copy = folder / program.name
    shutil.copy2(program, copy)
    copy.chmod(0o755)
    check = subprocess.run([*unprivileged(), "test", "-x", str(copy)], capture_output=True)
    if check.returncode != 0:
        pytest.fail(f"{copy} cannot be run by the unprivileged user; is one of "
                    f"{[str(p) for p in copy.parents]} closed to other users?")
    return copy


def terminate(process: subprocess.Popen) -> None:
    xwine.terminate(process, grace=10)
