"""The desktops of the matrix and exactly how each is started headless in the
Debian 13 root: its command line, its environment, the files it reads, the
package whose version the table shows, and what the saver is expected to do
there. The runner (tools/desktops/run-matrix) starts them as the user nobody,
each with a fresh XDG_RUNTIME_DIR (mode 0700) and HOME, so {run} and {home}
in a command or a file stand for those two folders.

No render node (/dev/dri) exists on these machines: the wlroots compositors
draw with the pixman renderer, KWin with QPainter, GNOME's with Mesa's
llvmpipe through EGL on its surfaceless platform.

A desktop whose checks are its own (GNOME's, through its extension) gives
them as `check(session, result)`, which runs instead of the common checks of
checks.py."""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Callable

import gnome_cell
from verdict import COVERS, REFUSES

WIDTH, HEIGHT = 1280, 800

WLROOTS_ENV = {"WLR_BACKENDS": "headless", "WLR_RENDERER": "pixman",
               "WLR_HEADLESS_OUTPUTS": "1", "WLR_LIBINPUT_NO_DEVICES": "1"}
TWO_OUTPUTS = {**WLROOTS_ENV, "WLR_HEADLESS_OUTPUTS": "2"}
# Two outputs, the second at scale 2; the saver is asked to put the crawlet
# there (--output), so that its size is judged at scale 2 every time.
SCALED = {"HEADLESS-1": 1, "HEADLESS-2": 2}
SWAYIDLE = ["swayidle", "-w", "timeout", "2", "quillomir"]
SUITES = {"trixie": "Debian 13", "sid": "Debian unstable"}


@dataclass
class Desktop:
    name: str
    package: str
    command: list[str]  # empty: a desktop Debian does not ship (its package is looked up)
    expect: str
    suite: str = "trixie"  # the root it runs in (tools/desktops/build-root SUITE)
    env: dict[str, str] = field(default_factory=dict)
    files: dict[str, str] = field(default_factory=dict)  # path under {home}: text
    capture: str | None = None  # "grim", "kwin" or "gnome": how its picture is read
    bus: bool = False  # needs a session bus of its own
    bus_name: str | None = None  # the name it owns on that bus once it is up
    # Where it cannot start here: the log line that says so (a regular
    # expression) and why, in a few words; it is then "not run", not failed.
    not_run_if: str = ""
    not_run_why: str = ""
    outputs: dict[str, int] = field(default_factory=dict)  # name: scale, each read by grim
    crawlet_on: str = ""  # the output the saver is asked to put the crawlet on
    keyboard: bool = False  # offers a virtual keyboard (wtype)
    idle: list[str] = field(default_factory=list)  # its idle daemon's command line
    label: str = ""  # its name in the README, where that is not `name`
    note: str = ""
    # Asked once it is up; the lines of the answer that match `diagnose_grep`
    # go into its row (e.g. which renderer it chose).
    diagnose: list[str] = field(default_factory=list)
    diagnose_grep: str = ""
    # Its own checks, check(session, result), instead of the usual ones.
    check: Callable | None = None


DESKTOPS = [
    Desktop("sway", "sway", ["sway", "-c", "{home}/sway.conf"], COVERS, env=TWO_OUTPUTS,
            files={"sway.conf": f"xwayland disable\noutput * bg #ffffff solid_color\n"
                                f"output HEADLESS-1 mode 800x600 scale 1\n"
                                f"output HEADLESS-2 mode {WIDTH}x{HEIGHT} scale 2\n"},
            capture="grim", outputs=SCALED, crawlet_on="HEADLESS-2", keyboard=True,
            idle=SWAYIDLE),
    # labwc reads no output settings (a scale needs wlr-randr or kanshi): two
    # outputs at scale 1, 1280x720 each.
    Desktop("labwc", "labwc", ["labwc", "-C", "{home}/labwc"], COVERS, env=TWO_OUTPUTS,
            files={"labwc/rc.xml": "<?xml version=\"1.0\"?>\n<labwc_config/>\n",
                   "labwc/autostart": "", "labwc/environment": ""},
            capture="grim", outputs={"HEADLESS-1": 1, "HEADLESS-2": 1}, keyboard=True,
            idle=SWAYIDLE),
    Desktop("Wayfire", "wayfire", ["wayfire", "-c", "{home}/wayfire.ini"], COVERS,
            env={**WLROOTS_ENV, "WLR_RENDERER": "gles2"},
            files={"wayfire.ini": "[core]\nplugins = \nxwayland = false\n"},
            capture="grim", keyboard=True, idle=SWAYIDLE,
            not_run_if=r"Failed to get DRM file descriptor",
            not_run_why="it draws with GLES2 only, which needs a GPU render node"),
    Desktop("phoc", "phoc", ["phoc", "-C", "{home}/phoc.ini"], COVERS, env=TWO_OUTPUTS,
            files={"phoc.ini": "[output:HEADLESS-1]\nmode = 800x600\nscale = 1\n"
                               f"[output:HEADLESS-2]\nmode = {WIDTH}x{HEIGHT}\nscale = 2\n"},
            capture="grim", outputs=SCALED, crawlet_on="HEADLESS-2", bus=True, keyboard=True,
            idle=SWAYIDLE),
    Desktop("KWin 6", "kwin-wayland",
            ["kwin_wayland", "--virtual", "--width", str(WIDTH), "--height", str(HEIGHT),
             "--socket", "wayland-kwin", "--no-lockscreen", "--no-global-shortcuts"],
            COVERS, env={"LIBGL_ALWAYS_SOFTWARE": "1", "KWIN_SCREENSHOT_NO_PERMISSION_CHECKS": "1",
                         "QT_QPA_PLATFORM": "offscreen"},
            capture="kwin", bus=True, bus_name="org.kde.KWin", idle=SWAYIDLE,
            label="KDE Plasma 6 (KWin)",
            note="its picture is not read: no ScreenShot2 without OpenGL compositing",
            diagnose=["gdbus", "call", "--session", "--dest", "org.kde.KWin", "--object-path",
                      "/KWin", "--method", "org.kde.KWin.supportInformation"],
            diagnose_grep="Compositing Type"),
    Desktop("GNOME Shell", "gnome-shell",
            ["gnome-shell", "--headless", "--wayland", "--virtual-monitor", f"{WIDTH}x{HEIGHT}",
             "--virtual-monitor", gnome_cell.SECOND_MONITOR, "--no-x11"],
            COVERS, env=gnome_cell.ENV, files=gnome_cell.FILES,
            capture="gnome", bus=True, bus_name="org.gnome.Shell.Screenshot",
            label="GNOME", check=gnome_cell.check),
    Desktop("mutter", "mutter",
            ["mutter", "--headless", "--wayland", "--virtual-monitor", f"{WIDTH}x{HEIGHT}",
             "--no-x11"],
            REFUSES, env={"LIBGL_ALWAYS_SOFTWARE": "1"},
            bus=True, bus_name="org.gnome.Mutter.DisplayConfig", note="no layer shell"),
    Desktop("weston", "weston",
            ["weston", "--backend=headless", "--renderer=pixman", f"--width={WIDTH}",
             f"--height={HEIGHT}", "--socket=wayland-weston", "--no-config"],
            REFUSES, note="no layer shell"),
    Desktop("cage", "cage", ["cage", "--", "sleep", "1000000"], REFUSES, env=WLROOTS_ENV,
            capture="grim", note="no layer shell"),
    # Debian unstable's Hyprland starts through aquamarine, which finds no GPU
    # for its DRM backend and, nested, no linux-dmabuf on a pixman compositor.
    Desktop("Hyprland", "hyprland", ["Hyprland"], COVERS, suite="sid",
            env={"LIBGL_ALWAYS_SOFTWARE": "1"},
            files={".config/hypr/hyprland.lua": "hl.config({{ debug = {{ enable_stdout_logs "
                                                "= true, disable_logs = false }} }})\n",
                   ".config/hypr/hypridle.conf":
                   "listener {{\n    timeout = 2\n    on-timeout = quillomir\n}}\n"},
            capture="grim", keyboard=True, idle=["hypridle"],
            not_run_if=r"Cannot open backend: no allocator available",
            not_run_why="aquamarine needs a GPU render node: \"Cannot open backend: no "
                        "allocator available\" after \"drm: Found no gpus to use\""),
    # Not packaged in Debian 13 or unstable: their package is looked up in the
    # unstable root's lists, so that one coming in is noticed.
    Desktop("niri", "niri", [], COVERS, suite="sid"),
    Desktop("river", "river", [], COVERS, suite="sid"),
    Desktop("COSMIC", "cosmic-comp", [], COVERS, suite="sid"),
]
