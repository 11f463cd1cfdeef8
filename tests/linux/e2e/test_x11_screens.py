"""The saver on the X screens that users have besides the usual TrueColor one,
on the desktop's own root, and with the label hidden."""

from __future__ import annotations

import ctypes
import ctypes.util
import signal
import time

import pytest

from conftest import BLACK, BLUE, Screen, wait_until, xwine
from test_saver import WHITE, crawlet_points, wait_for_color


class XColor(ctypes.Structure):
    _fields_ = [("pixel", ctypes.c_ulong), ("red", ctypes.c_ushort), ("green", ctypes.c_ushort),
                ("blue", ctypes.c_ushort), ("flags", ctypes.c_char), ("pad", ctypes.c_char)]


# 0x00C06010: a blue that an 8-bit screen's palette does not hold. Xvfb's
# default colormap starts with a 4x4x4 colour cube, whose nearest cell is this.
ODD_BLUE = "12607504"
GREY = (0x80, 0x80, 0x80)
NEAREST_CUBE_CELL = (0, 85, 170)


class FullPalette:
    """Takes every free cell of the default colormap and fills it with greys, as
    a palette-hungry program would; held until closed."""

    def __init__(self, display: str):
        x11 = self.x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XDefaultColormap.restype = ctypes.c_ulong
        x11.XDefaultColormap.argtypes = [ctypes.c_void_p, ctypes.c_int]
        x11.XAllocColorCells.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int,
                                         ctypes.c_void_p, ctypes.c_uint,
                                         ctypes.POINTER(ctypes.c_ulong), ctypes.c_uint]
        x11.XStoreColor.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(XColor)]
        x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.display = x11.XOpenDisplay(display.encode())
        assert self.display
        colormap = x11.XDefaultColormap(self.display, 0)
        cells = []
        pixel = ctypes.c_ulong()
        while x11.XAllocColorCells(self.display, colormap, 0, None, 0, ctypes.byref(pixel), 1):
            cells.append(pixel.value)
        assert len(cells) > 100, "the palette was not free to fill"
        for n, cell in enumerate(cells):
            level = (n * 0xFFFF) // len(cells)
            color = XColor(cell, level, level, level, b"\x07", b"\x00")
            x11.XStoreColor(self.display, colormap, ctypes.byref(color))
        x11.XSync(self.display, 0)

    def close(self) -> None:
        self.x11.XCloseDisplay(self.display)


@pytest.mark.parametrize("depth, server_args, color, expected", [
    pytest.param(8, (), ODD_BLUE, NEAREST_CUBE_CELL, id="pseudocolor-palette-full"),
    pytest.param(24, ("-cc", "5"), "blue", BLUE, id="directcolor"),
])
def test_the_crawlet_shows_on_palette_and_directcolor_screens(run_saver_on, depth, server_args,
                                                              color, expected):
    with xwine.Xvfb(800, 600, depth=depth, extra_args=("-ac", *server_args)) as server:
        screen = Screen(server.display, 800, 600)
        palette = FullPalette(server.display) if depth == 8 else None
        try:
            run_saver_on(screen, "--color", color)
            assert len(wait_for_color(screen, expected)) > 50, f"no crawlet in {expected}"
        finally:
            if palette:
                palette.close()


def test_the_root_is_painted_and_its_wallpaper_is_back_afterwards(screen, run_saver, windows):
    saver = run_saver("--root")
    assert wait_for_color(screen, BLUE)
    assert screen.shot().pixel(1900, 20) == BLACK, "the root was not blacked out"
    saver.process.send_signal(signal.SIGTERM)
    assert saver.wait(5) == 0
    assert wait_until(lambda: screen.shot().pixel(1900, 20) == WHITE, 3), \
        "the desktop stayed black after the saver ended"
    # The root's own background is what a later exposure shows.
    window = windows.make(100, 100, 300, 200)
    windows.destroy(window)
    assert wait_until(lambda: screen.shot().pixel(200, 200) == WHITE, 3), \
        "the root's background was changed"


def test_a_hidden_label_never_paints_its_place(screen, run_saver, windows):
    # On a grey window, anything the hidden label painted at the minute's
    # average would show as a black band; the crawlet's erased tail leaves only
    # disc-shaped traces.
    area = (200, 150, 640, 480)
    window = windows.make(*area)
    run_saver("--window-id", hex(window), "--no-show-value", "--method", "cpu")
    assert wait_for_color(screen, BLUE, area=area)
    windows.repaint(window, 0x808080)
    time.sleep(63)  # past the first minute's average
    label = (area[0] + 16, area[1] + 16, 234, 18)
    shot = screen.shot()
    black = len(shot.points_of(BLACK, label))
    assert black < 234 * 18 // 2, f"{black} black pixels where the hidden label would be"
    # Nor its text alone: every pixel there is the window's grey or the crawlet's.
    x0, y0, w, h = label
    others = [(x, y) for y in range(y0, y0 + h) for x in range(x0, x0 + w)
              if shot.pixel(x, y) not in (GREY, BLACK, BLUE)]
    assert not others, f"{len(others)} pixels drawn where the hidden label would be"
