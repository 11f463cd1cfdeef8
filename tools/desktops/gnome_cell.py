"""The GNOME Shell cell of the desktop matrix: the installed extension, not a
test, starts the saver. GNOME Shell 48 runs headless with the extension and a
test-only one that turns on unsafe mode (for org.gnome.Shell.Eval and the
screenshot interface), both enabled through GSettings' keyfile backend, so the
settings are files written before the start (no dconf needed); the wait is a
few seconds. A headless shell has no input devices, so idle time runs from its
start. In turn:

  (a) the saver starts by itself, and the picture is black with the crawlet
      and no top bar;
  (b) a key, typed on a Clutter virtual keyboard through Eval, ends it with
      status 0 (the extension logs a line for any other ending);
  (d) once the saver is back by itself, SIGTERM ends it with status 0;
  (c) with a stand-in org.gnome.SessionManager reporting an idle inhibitor,
      nothing starts over twice the wait; once it lifts, the saver starts;
  a saver that fails (/usr/bin/false) must be logged, or the endings above
  are not judged 0; and, noted: disabling the extension (what the lock screen does) ends it,
  and so does the overview opening over it (what Super does).

The runner calls `check(session, result)` once the Shell owns its name."""

from __future__ import annotations

import ctypes
import os
import shutil
import signal
import sys
import time
from pathlib import Path

import verdict
from rootfs import savers

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))  # tools/, for xwine
from xwine import wait_until  # noqa: E402

UUID = "quillomir@quillomir.example.org"
UNSAFE_UUID = "matrix-unsafe@quillomir.test"
SECOND_MONITOR = "1024x768"  # every monitor must be covered, the crawlet on one
WAIT = 3  # seconds of idle before the extension starts the saver
HOME = "/home/matrix"
EXTENSIONS = ".local/share/gnome-shell/extensions"
TOP_BAR_ROWS = 30  # the top bar's height at scale 1 is about 32 pixels
ENDED_BADLY = "Quillomir: the saver ("  # the extension's line for a non-zero ending

UNSAFE_EXTENSION = """\
import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';
export default class MatrixUnsafe extends Extension {
    enable() { global.context.unsafe_mode = true; }
    disable() {}
}
"""

# Answers InhibitedActions as gnome-session would; the test sets it.
SESSION_MANAGER = """\
const {Gio, GLib} = imports.gi;
const xml = `<node><interface name="org.gnome.SessionManager">
  <property name="InhibitedActions" type="u" access="read"/>
  <method name="IsInhibited"><arg type="u" direction="in"/><arg type="b" direction="out"/></method>
  <method name="SetInhibitedActions"><arg type="u" direction="in"/></method>
</interface></node>`;
let actions = 0;
const exported = Gio.DBusExportedObject.wrapJSObject(xml, {
    get InhibitedActions() { return actions; },
    IsInhibited(flags) { return (actions & flags) !== 0; },
    SetInhibitedActions(value) {
        actions = value;
        exported.emit_property_changed('InhibitedActions', new GLib.Variant('u', value));
    },
});
exported.export(Gio.DBus.session, '/org/gnome/SessionManager');
Gio.bus_own_name(Gio.BusType.SESSION, 'org.gnome.SessionManager', Gio.BusNameOwnerFlags.NONE,
    null, null, () => { print('name lost'); loop.quit(); });
const loop = new GLib.MainLoop(null, false);
loop.run();
"""

# The Shell's PNG as a binary PPM on standard output.
PNG_TO_PPM = """\
import sys, gi
gi.require_version('GdkPixbuf', '2.0')
from gi.repository import GdkPixbuf
p = GdkPixbuf.Pixbuf.new_from_file(sys.argv[1])
w, h, n, stride = p.get_width(), p.get_height(), p.get_n_channels(), p.get_rowstride()
px = p.get_pixels()
rgb = bytearray(w * h * 3)
for y in range(h):
    row = px[y * stride:y * stride + w * n]
    for c in range(3):
        rgb[y * w * 3 + c:(y + 1) * w * 3:3] = row[c::n]
sys.stdout.buffer.write(b'P6\\n%d %d\\n255\\n' % (w, h) + bytes(rgb))
"""

KEYFILE = f"""\
[org/gnome/shell]
enabled-extensions=['{UUID}', '{UNSAFE_UUID}']
welcome-dialog-last-shown-version='999'

[org/gnome/desktop/interface]
enable-animations=false

[org/gnome/shell/extensions/quillomir]
wait-seconds={WAIT}
"""

ENV = {"LIBGL_ALWAYS_SOFTWARE": "1", "GSETTINGS_BACKEND": "keyfile"}
# The runner fills in {run} and {home}; none of these use them.
FILES = {name: text.replace("{", "{{").replace("}", "}}") for name, text in {
    ".config/glib-2.0/settings/keyfile": KEYFILE,
    f"{EXTENSIONS}/{UNSAFE_UUID}/metadata.json":
        f'{{"uuid": "{UNSAFE_UUID}", "name": "matrix unsafe mode", "description": "tests only",'
        ' "shell-version": ["46", "47", "48"]}\n',
    f"{EXTENSIONS}/{UNSAFE_UUID}/extension.js": UNSAFE_EXTENSION,
    "session-manager.js": SESSION_MANAGER,
    "png-to-ppm.py": PNG_TO_PPM,
}.items()}


# A virtual keyboard, made once ahead of the keys: the seat takes a new
# device in asynchronously, and keys sent at once would be lost.
MAKE_KEYBOARD = ("const C = imports.gi.Clutter; globalThis.matrixKeyboard ??= "
                 "C.get_default_backend().get_default_seat()"
                 ".create_virtual_device(C.InputDeviceType.KEYBOARD_DEVICE); true")


SHELL_STATE = ("[global.display.get_monitor_in_fullscreen(0), "
               "global.display.get_monitor_in_fullscreen(1), Main.layoutManager.panelBox.visible, "
               "Main.messageTray._bannerBlocked]")


def press_key(keyval: str) -> str:
    """Eval code that presses and releases one key on that keyboard."""
    return ("const C = imports.gi.Clutter, G = imports.gi.GLib;"
            f"for (const s of [C.KeyState.PRESSED, C.KeyState.RELEASED])"
            f" matrixKeyboard.notify_keyval(G.get_monotonic_time(), C.KEY_{keyval}, s); true")


def kill(pid: int) -> None:
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        pass  # it ended already: the check that follows says how


PR_SET_CHILD_SUBREAPER = 36


def wait_orphan(pid: int, timeout: float) -> int | None:
    """The exit status of `pid` once it has become this process's child and
    ended; None when it has not within `timeout`."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            done, status = os.waitpid(pid, os.WNOHANG)
            if done == pid:
                return os.waitstatus_to_exitcode(status)
        except ChildProcessError:
            pass  # not handed to this process yet
        time.sleep(0.1)
    return None


class Cell:
    def __init__(self, s, r: verdict.Result):
        self.s, self.r = s, r
        self.log = s.out / "compositor.log"

    def gdbus(self, dest: str, path: str, method: str, *args: str):
        return self.s.root.run(["gdbus", "call", "--session", "--dest", dest, "--object-path",
                                path, "--method", method, *args], env=self.s.env)

    def eval(self, code: str) -> str:
        r = self.gdbus("org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell.Eval", code)
        return r.stdout.strip() or r.stderr.strip()

    def bad_endings(self) -> int:
        return self.log.read_text(errors="replace").count(ENDED_BADLY)

    def picture(self, keep: str) -> tuple[dict[str, verdict.Picture], str]:
        """The whole screen, the top bar's rows and the second monitor (which
        lies right of the first), judged apart; the PNG kept as OUT/KEEP.png."""
        shot = f"/run/user/65534/{keep}.png"
        r = self.gdbus("org.gnome.Shell.Screenshot", "/org/gnome/Shell/Screenshot",
                       "org.gnome.Shell.Screenshot.Screenshot", "false", "false", shot)
        if "true" not in r.stdout:
            return {}, f"Screenshot: {(r.stdout + r.stderr).strip()[:160]}"
        ppm = self.s.root.run(["python3", f"{HOME}/png-to-ppm.py", shot], env=self.s.env,
                              text=False)
        shutil.copyfile(self.s.root.host(shot), self.s.out / f"{keep}.png")
        try:
            width, height, rgb = verdict.parse_ppm(ppm.stdout)
        except ValueError as e:
            return {}, f"screenshot: {e}"
        second_w, second_h = map(int, SECOND_MONITOR.split("x"))
        x0 = width - second_w
        first = b"".join(rgb[y * width * 3:(y * width + x0) * 3] for y in range(height))
        second = b"".join(rgb[(y * width + x0) * 3:(y + 1) * width * 3] for y in range(second_h))
        return {"screen": verdict.Picture.of(width, height, rgb),
                "top bar": verdict.Picture.of(width, TOP_BAR_ROWS, rgb[:width * TOP_BAR_ROWS * 3]),
                "first monitor": verdict.Picture.of(x0, height, first),
                "second monitor": verdict.Picture.of(second_w, second_h, second)}, ""

    @staticmethod
    def covered(parts: dict[str, verdict.Picture]) -> bool:
        def dark(p: verdict.Picture) -> bool:
            return p.black + p.crawlet >= 0.99 * p.width * p.height
        return bool(parts) and parts["screen"].covered and \
            parts["top bar"].black == parts["top bar"].width * TOP_BAR_ROWS and \
            dark(parts["second monitor"])

    @staticmethod
    def describe(parts: dict[str, verdict.Picture]) -> str:
        return "; ".join(f"{name}: {p.describe()}" for name, p in parts.items())

    def wait_saver(self, timeout: float) -> int | None:
        """The saver's process, once one has stayed up for a second."""
        found = wait_until(lambda: savers(self.s.root.path), timeout, 0.25)
        time.sleep(1)
        found = savers(self.s.root.path)
        if len(found) > 1:
            self.r.notes.append(f"{len(found)} saver processes: {found}")
        return found[0] if found else None

    def ends_well(self, pid: int, act, timeout: float = 15) -> bool | None:
        """Whether `act` ends the running saver `pid` with status 0 (the
        extension logs a line for any other ending); None when the saver was
        gone already, so that act proved nothing."""
        before = self.bad_endings()
        if not os.path.exists(f"/proc/{pid}"):
            return None
        act()
        gone = wait_until(lambda: not os.path.exists(f"/proc/{pid}"), timeout, 0.2)
        time.sleep(0.5)  # the extension's line, if any, follows the ending
        return bool(gone) and self.bad_endings() == before

    def run(self) -> None:
        s, r = self.s, self.r
        t0 = time.monotonic()
        active = wait_until(lambda: "ACTIVE" in s.root.run(
            ["gnome-extensions", "info", UUID], env=s.env).stdout and
            "true" in self.eval("global.context.unsafe_mode"), 60, 0.5)
        if not active:
            info = s.root.run(["gnome-extensions", "info", UUID], env=s.env).stdout
            r.notes.append(f"extension not active: {info.strip()[:160]}")
            return
        keyboard = self.eval(MAKE_KEYBOARD)
        if "true" not in keyboard:
            r.notes.append(f"no virtual keyboard: {keyboard[:120]}")
        manager = s.root.popen(["gjs", f"{HOME}/session-manager.js"], env=s.env,
                               log=s.out / "session-manager.log")
        s.procs.append(manager)

        # (a) idle starts it, and it covers above the top bar
        pid = self.wait_saver(60)
        r.alive = pid is not None
        if pid is None:
            r.idle_starts = False
            r.notes.append("no saver within 60 s of the extension's start")
            return
        r.notes.append(f"started by itself {time.monotonic() - t0:.0f} s after the extension")
        r.started_by = "its GNOME Shell extension"
        seen: list = [{}, ""]

        def covered():
            seen[:] = self.picture("with-saver")
            return self.covered(seen[0])

        wait_until(covered, 30, 1)
        # The Shell's own word on the top bar, since a headless Shell's
        # picture of it is not always fresh (see below).
        shell = self.eval(SHELL_STATE)
        r.covered = self.covered(seen[0]) and "[true,true,false,true]" in shell
        if seen[0]:
            # Both virtual monitors are at scale 1.
            r.outputs, r.scale = 2, 1
            r.outputs_ok, said = verdict.judge_outputs(
                {name: (1, seen[0][name]) for name in ("first monitor", "second monitor")})
            r.notes.append(said)
        r.notes.append(f"with the saver: {self.describe(seen[0])}" if seen[0] else seen[1])
        r.notes.append("Shell (fullscreen on monitor 0 and 1, top bar shown, banners held): "
                       + shell)

        # (b) a key ends it, with status 0
        typed: list = []
        r.key_ends = self.ends_well(pid, lambda: typed.append(self.eval(press_key("x"))))
        if not r.key_ends:
            r.notes.append(f"the key: {typed[:1]}")
        if r.key_ends is None:
            r.key_ends = r.alive = False
            r.notes.append("the saver ended by itself before the key")

        # (d) back after the wait, since the key was input; SIGTERM gives 0
        pid = self.wait_saver(WAIT + 30)
        if pid is None:
            r.sigterm_0 = False
            r.notes.append("not started again after the key")
        else:
            r.sigterm_0 = bool(self.ends_well(pid, lambda: kill(pid)))

        # (c) an idle inhibitor holds it back; once lifted, the wait counts again
        inhibit = lambda v: self.gdbus("org.gnome.SessionManager", "/org/gnome/SessionManager",
                                       "org.gnome.SessionManager.SetInhibitedActions", str(v))
        set_on = inhibit(8)
        self.eval(press_key("Shift_L"))  # input: the idle time starts again from here
        # What the same checks see with no saver. A headless Shell repaints
        # only what changed once the saver's windows are gone, so a redraw
        # is asked for; it brings back the top bar (and the banners held back).
        self.eval("global.stage.queue_redraw(); true")
        time.sleep(1)
        without, why = self.picture("inhibited")
        if without:
            bar = without["top bar"]
            r.notes.append("without the saver the top bar's rows are "
                           + ("all black too: that check proves nothing here"
                              if bar.black == bar.width * TOP_BAR_ROWS else
                              f"{100 * bar.black / (bar.width * TOP_BAR_ROWS):.1f}% black"))
        else:
            r.notes.append(f"without the saver: {why}")
        held = not wait_until(lambda: savers(s.root.path), 2 * WAIT + 2, 0.25)
        inhibit(0)
        lifted = time.monotonic()
        pid = self.wait_saver(WAIT + 30)
        r.notes.append(f"inhibited: {'nothing started' if held else 'STARTED'} in {2 * WAIT + 2} s"
                       + ("" if set_on.returncode == 0 else f" ({set_on.stderr.strip()[:80]})")
                       + (f"; lifted: started {time.monotonic() - lifted:.1f} s after"
                          if pid else "; lifted: NOT started"))
        r.idle_starts = held and pid is not None and set_on.returncode == 0
        if pid is not None:
            self.disable_ends(pid)
            self.overview_ends()
        # The endings above were judged by the absence of the extension's
        # line: a saver that fails must bring that line, or they proved nothing.
        if not self.failure_logged():
            r.key_ends = r.sigterm_0 = False
        self.compositor_dies()

    def compositor_dies(self) -> None:
        """Last, since it ends the Shell: SIGKILL, as a crash would. The saver
        is the Shell's child, so this process takes it over as it is orphaned
        (a child subreaper) to read its status; its line goes to the Shell's
        standard error, which is the compositor's log."""
        s, r = self.s, self.r
        s.root.run(["gsettings", "reset", "org.gnome.shell.extensions.quillomir", "saver-path"],
                   env={**s.env, **ENV})
        time.sleep(1)  # the keyfile backend sees the file change
        self.eval(press_key("Shift_L"))
        pid = self.wait_saver(WAIT + 30)
        if pid is None or s.comp is None:
            r.dies_1 = False
            r.notes.append("the saver did not come back for the Shell's death")
            return
        lines = self.log.read_text(errors="replace").count("\n")
        libc = ctypes.CDLL(None, use_errno=True)
        libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
        try:
            s.comp.send_signal(signal.SIGKILL)
            s.comp.wait(timeout=20)
            status = wait_orphan(pid, 20)
        finally:
            libc.prctl(PR_SET_CHILD_SUBREAPER, 0, 0, 0, 0)
        said = [line for line in self.log.read_text(errors="replace").splitlines()[lines:]
                if line.startswith("quillomir:")]
        r.dies_1 = status == 1 and len(said) == 1
        r.notes.append(f"the Shell killed: status {status}, {said!r}"[:200])

    def disable_ends(self, pid: int) -> None:
        """GNOME disables extensions on the lock screen; this Shell has no
        screen shield to lock with (no display manager), so the extension is
        disabled as the lock would."""
        ends = self.ends_well(pid, lambda: self.eval(
            f"Main.extensionManager.disableExtension('{UUID}')"))
        self.r.notes.append("disabling the extension "
                            + {True: "ends it", False: "does NOT end it", None: "not tried"}[ends])
        if ends is not True:
            kill(pid)

    def overview_ends(self) -> None:
        """What the Super key does, as the Shell does it: the overview opens
        over the saver, which must end (a real key would also reach the saver
        and end it by itself, so the overview is opened through Eval)."""
        self.eval(f"Main.extensionManager.enableExtension('{UUID}')")
        self.eval(press_key("Shift_L"))  # the watch fires after input
        pid = self.wait_saver(WAIT + 30)
        if pid is None:
            self.r.notes.append("not started again once enabled")
            return
        ends = self.ends_well(pid, lambda: self.eval("Main.overview.show(); true"))
        self.r.notes.append("the overview opening "
                            + {True: "ends it", False: "does NOT end it", None: "not tried"}[ends])
        if ends is not True:
            kill(pid)

    def failure_logged(self) -> bool:
        before = self.bad_endings()
        set_path = self.s.root.run(["gsettings", "set", "org.gnome.shell.extensions.quillomir",
                                    "saver-path", "/usr/bin/false"], env={**self.s.env, **ENV})
        time.sleep(1)  # the keyfile backend sees the file change
        self.eval(press_key("Shift_L"))
        logged = wait_until(lambda: self.bad_endings() > before, WAIT + 30, 0.5)
        lines = [line for line in self.log.read_text(errors="replace").splitlines()
                 if ENDED_BADLY in line]
        self.r.notes.append(f"/usr/bin/false as the saver: {lines[-1].split('Quillomir: ')[-1]}"
                            if logged else "/usr/bin/false as the saver: NO line logged "
                            f"{set_path.stderr.strip()[:80]}")
        return bool(logged)


def check(s, r: verdict.Result) -> None:
    Cell(s, r).run()
