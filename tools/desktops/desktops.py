"""The desktops of the matrix and exactly how each is started headless in the
Debian 13 root: its command line, its environment, the files it reads, the
package whose version the table shows, and what the saver is expected to do
there. The runner (tools/desktops/run-matrix) starts them as the user nobody,
each with a fresh XDG_RUNTIME_DIR (mode 0700) and HOME, so {run} and {home}
in a command or a file stand for those two folders.

No render node (/dev/dri) exists on these machines: the wlroots compositors
draw with the pixman renderer, KWin with QPainter, GNOME's with Mesa's
llvmpipe through EGL on its surfaceless platform."""

from __future__ import annotations

from dataclasses import dataclass, field
from typing import Callable

import gnome_cell
from verdict import COVERS, REFUSES

WIDTH, HEIGHT = 1280, 800

WLROOTS_ENV = {"WLR_BACKENDS": "headless", "WLR_RENDERER": "pixman",
               "WLR_HEADLESS_OUTPUTS": "1", "WLR_LIBINPUT_NO_DEVICES": "1"}


@dataclass
class Desktop:
    name: str
    package: str
    command: list[str]
    expect: str
    env: dict[str, str] = field(default_factory=dict)
    files: dict[str, str] = field(default_factory=dict)  # path under {home}: text
    capture: str | None = None  # "grim", "kwin" or "gnome": how its picture is read
    bus: bool = False  # needs a session bus of its own
    bus_name: str | None = None  # the name it owns on that bus once it is up
    optional: bool = False  # may not start here at all (named "not run", not failed)
    keyboard: bool = False  # offers a virtual keyboard (wtype)
    idle: bool = False  # offers ext-idle-notify, so swayidle can start the saver
    note: str = ""
    # Asked once it is up; the lines of the answer that match `diagnose_grep`
    # go into its row (e.g. which renderer it chose).
    diagnose: list[str] = field(default_factory=list)
    diagnose_grep: str = ""
    # Its own checks, check(session, result), instead of the usual ones.
    check: Callable | None = None


DESKTOPS = [
    Desktop("sway", "sway", ["sway", "-c", "{home}/sway.conf"], COVERS, env=WLROOTS_ENV,
            files={"sway.conf": f"xwayland disable\noutput * bg #ffffff solid_color\n"
                                f"output HEADLESS-1 mode {WIDTH}x{HEIGHT}\n"},
            capture="grim", keyboard=True, idle=True),
    Desktop("labwc", "labwc", ["labwc", "-C", "{home}/labwc"], COVERS, env=WLROOTS_ENV,
            files={"labwc/rc.xml": "<?xml version=\"1.0\"?>\n<labwc_config/>\n",
                   "labwc/autostart": "", "labwc/environment": ""},
            capture="grim", keyboard=True, idle=True),
    Desktop("Wayfire", "wayfire", ["wayfire", "-c", "{home}/wayfire.ini"], COVERS,
            env={**WLROOTS_ENV, "WLR_RENDERER": "gles2"},
            files={"wayfire.ini": "[core]\nplugins = \nxwayland = false\n"},
            capture="grim", keyboard=True, idle=True, optional=True,
            note="draws with GLES2 only (no pixman renderer)"),
    Desktop("phoc", "phoc", ["phoc", "-C", "{home}/phoc.ini"], COVERS, env=WLROOTS_ENV,
            files={"phoc.ini": f"[output:HEADLESS-1]\nmode = {WIDTH}x{HEIGHT}\n"},
            capture="grim", bus=True, keyboard=True, idle=True),
    Desktop("KWin 6", "kwin-wayland",
            ["kwin_wayland", "--virtual", "--width", str(WIDTH), "--height", str(HEIGHT),
             "--socket", "wayland-kwin", "--no-lockscreen", "--no-global-shortcuts"],
            COVERS, env={"LIBGL_ALWAYS_SOFTWARE": "1", "KWIN_SCREENSHOT_NO_PERMISSION_CHECKS": "1",
                         "QT_QPA_PLATFORM": "offscreen"},
            capture="kwin", bus=True, bus_name="org.kde.KWin", idle=True,
            diagnose=["gdbus", "call", "--session", "--dest", "org.kde.KWin", "--object-path",
                      "/KWin", "--method", "org.kde.KWin.supportInformation"],
            diagnose_grep="Compositing Type"),
    Desktop("GNOME Shell", "gnome-shell",
            ["gnome-shell", "--headless", "--wayland", "--virtual-monitor", f"{WIDTH}x{HEIGHT}",
             "--virtual-monitor", gnome_cell.SECOND_MONITOR, "--no-x11"],
            COVERS, env=gnome_cell.ENV, files=gnome_cell.FILES,
            capture="gnome", bus=True, bus_name="org.gnome.Shell.Screenshot",
            check=gnome_cell.check, note="started by its extension"),
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
]
