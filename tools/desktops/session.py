"""One desktop started headless in a matrix root as the user nobody (with two
private D-Bus buses where it needs them), its picture read, and the saver run
in it."""

from __future__ import annotations

import os
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent))

import verdict  # noqa: E402
from desktops import Desktop  # noqa: E402
from rootfs import HOME, RUN, Chroot  # noqa: E402
from xwine import terminate, wait_until  # noqa: E402

START_TIMEOUT = 90  # GNOME Shell on llvmpipe, on a loaded 2-core machine

KWIN_SHOT = r'''
import os, sys, dbus
iface = dbus.Interface(dbus.SessionBus().get_object("org.kde.KWin", "/org/kde/KWin/ScreenShot2"),
                       "org.kde.KWin.ScreenShot2")
r, w = os.pipe()
meta = iface.CaptureWorkspace(dbus.Dictionary({}, signature="sv"), dbus.types.UnixFd(w))
os.close(w)
data = bytearray()
while True:
    chunk = os.read(r, 1 << 20)
    if not chunk:
        break
    data += chunk
sys.stdout.buffer.write(b"%d %d %d %d\n" % (meta["width"], meta["height"], meta["stride"],
                                             meta["format"]) + data)
'''
# QImage formats that lie in memory as B, G, R, A on little-endian machines.
KWIN_FORMATS = {4, 5, 6}


def wayland_socket(root: Chroot) -> str | None:
    names = sorted(n for n in os.listdir(root.host(RUN))
                   if n.startswith("wayland-") and not n.endswith(".lock"))
    return names[0] if names else None


class Session:
    """One desktop started in the root, with what runs in it."""

    def __init__(self, root: Chroot, desktop: Desktop, out: Path):
        self.root, self.desktop, self.out = root, desktop, out
        self.procs: list[subprocess.Popen] = []
        self.comp: subprocess.Popen | None = None
        self.env = {"XDG_SESSION_TYPE": "wayland"}
        if desktop.bus:
            # A second bus of the same kind stands in for the system bus, which
            # GNOME Shell connects to at start (and KWin and phoc try).
            self.env["DBUS_SESSION_BUS_ADDRESS"] = f"unix:path={RUN}/bus"
            self.env["DBUS_SYSTEM_BUS_ADDRESS"] = f"unix:path={RUN}/system_bus"

    def start(self) -> tuple[bool, str]:
        d, root = self.desktop, self.root
        if d.bus:
            for bus in ("bus", "system_bus"):
                self.procs.append(root.popen(["dbus-daemon", "--session", "--nofork",
                                              "--nopidfile", f"--address=unix:path={RUN}/{bus}"],
                                             log=self.out / f"{bus}.log"))
                if not wait_until(lambda: root.host(f"{RUN}/{bus}").exists(), 20, 0.1):
                    return False, f"the private {bus} did not start"
        argv = [a.format(run=RUN, home=HOME) for a in d.command]
        # chroot, setpriv and env each exec the next: this is the compositor's pid.
        self.comp = comp = root.popen(argv, env={**self.env, **d.env},
                                      log=self.out / "compositor.log")
        self.procs.append(comp)
        up = wait_until(lambda: comp.poll() is not None or
                        (wayland_socket(root) and self.owns(d.bus_name)), START_TIMEOUT, 0.25)
        if comp.poll() is not None or not up:
            tail = (self.out / "compositor.log").read_text(errors="replace").strip()
            last = tail.splitlines()[-1][:200] if tail else "no output"
            return False, (f"exited with {comp.returncode}" if comp.poll() is not None else
                           f"no socket within {START_TIMEOUT} s") + f": {last}"
        self.env["WAYLAND_DISPLAY"] = wayland_socket(root)
        time.sleep(1)  # its first frame
        return True, ""

    def owns(self, name: str | None) -> bool:
        if name is None:
            return True
        r = self.root.run(["gdbus", "call", "--session", "--dest", "org.freedesktop.DBus",
                           "--object-path", "/org/freedesktop/DBus", "--method",
                           "org.freedesktop.DBus.NameHasOwner", name], env=self.env)
        return "true" in r.stdout

    def picture(self, output: str | None = None) -> tuple[verdict.Picture | None, str]:
        """The whole screen, or one output (grim only) at its own scale."""
        how = self.desktop.capture
        try:
            if how == "grim":
                one = ["-o", output] if output else []
                r = self.root.run(["grim", *one, "-t", "ppm", "-"], env=self.env, text=False)
                if r.returncode != 0:
                    return None, "grim: " + r.stderr.decode(errors="replace").strip()[:200]
                return verdict.Picture.of(*verdict.parse_ppm(r.stdout)), ""
            if how == "kwin":
                r = self.root.run(["python3", "-c", KWIN_SHOT], env=self.env, text=False)
                if r.returncode != 0:
                    return None, "ScreenShot2: " + \
                        r.stderr.decode(errors="replace").strip().splitlines()[-1][:200]
                head, data = r.stdout.split(b"\n", 1)
                width, height, stride, fmt = map(int, head.split())
                if fmt not in KWIN_FORMATS:
                    return None, f"ScreenShot2 gave QImage format {fmt}"
                return verdict.Picture.of(width, height,
                                        verdict.from_xrgb(data, width, height, stride)), ""
        except (ValueError, subprocess.TimeoutExpired) as e:
            return None, f"{how}: {e}"
        return None, "no screen capture here"

    def saver(self, extra: list[str] | None = None) -> subprocess.Popen:
        p = self.root.popen(["quillomir", *(extra or [])], env=self.env)
        self.procs.append(p)
        return p

    def stop(self) -> None:
        for p in reversed(self.procs):
            terminate(p, grace=10)
        self.procs.clear()


def finish(p: subprocess.Popen, timeout: float = 15) -> tuple[int | None, str]:
    try:
        _, err = p.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        terminate(p)
        return None, "did not end"
    return p.returncode, err.decode(errors="replace")
