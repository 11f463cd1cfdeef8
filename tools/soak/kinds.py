"""The kinds of saver a soak runs, each on a display of its own: how to start
one, read its figures, end it the way its host does, and what the server and
the machine hold around it.

A kind owns everything it starts from open() to close(): its display server
(an Xvfb, or a headless sway), a scratch settings folder, and for Wine a
prefix and a session. Each has the methods of Kind:

- open() / close(): its display server and whatever else it needs;
- start(long_run): the saver, returned once it draws;
- figures(running): procfs.figures(pid) and what the display server holds for
  the saver; None once it is gone;
- disturb(): one step of something that makes the saver draw again (run on
  a thread of its own every second or two, apart from the sampling);
- picture(): a digest of what the saver shows, or None where none is taken;
- end(running): the host's way of ending a saver; kill(running): SIGKILL;
- server_totals(): what the display server holds for all its clients, which
  must be back where it was after many starts;
- leftovers(): processes of its own still running;
and one entry in soak.py's table of kinds, with its number of starts.
"""

from __future__ import annotations

import hashlib
import json
import os
import shutil
import signal
import subprocess
import sys
import time
from dataclasses import dataclass, field
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1]))

import procfs  # noqa: E402
import xres  # noqa: E402
import xwine  # noqa: E402

# Set in the environment of everything a kind starts, so that whatever is
# left running afterwards can be found.
MARK = "QUILLOMIR_SOAK"
SETTINGS_KEY = r"HKCU\Software\Quillomir\Setup"


@dataclass
class Running:
    proc: subprocess.Popen
    stderr: Path
    started: float = field(default_factory=time.monotonic)

    def output(self) -> str:
        """What it wrote to stderr. A file, not a pipe: under Wine the helpers
        that the first program of a session starts inherit the descriptor, and
        a pipe would never reach its end."""
        text = self.stderr.read_text(errors="replace")
        self.stderr.unlink()
        return text


def digest(data: bytes | None) -> int | None:
    """A picture's digest, small enough for a JSON number."""
    return None if not data else int.from_bytes(hashlib.blake2b(data, digest_size=6).digest(),
                                                 "big")


def _launch(command: list[str], env: dict, workdir: Path) -> Running:
    stderr = workdir / f"stderr-{time.monotonic_ns()}.txt"
    with open(stderr, "wb") as err:
        proc = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=err)
    return Running(proc, stderr)


@dataclass
class Ended:
    status: int | None
    output: str = ""

    @property
    def clean(self) -> bool:
        return self.status == 0 and not self.output.strip()



class Kind:
    """What every kind does alike: a saver ended by `end_how` within
    `end_seconds`, killed with SIGKILL, and found afterwards by MARK."""
    name = label = end_how = ""
    end_seconds = 5.0
    informative: set[str] = set()
    required: set[str] = {"rss", "fds", "threads"}
    # Highest values allowed at any moment (KiB for memory), whatever the warm-up.
    caps: dict[str, int] = {}
    # Set in the saver's environment, as LD_PRELOAD (a leaking variant, for the
    # soak's own tests).
    preload: str | None = None
    leak: str | None = None  # and QUILLOMIR_LEAK, which says what it leaks
    # Seconds a sample waits after a disturbance, for the saver to answer it.
    settle = 0.3
    # Server totals shown beside the judged ones but not held to their first value.
    server_informative: set[str] = set()

    def __init__(self, workdir: Path, mark: str):
        self.workdir, self.mark = workdir, mark

    def _up(self, running: Running, drawing, seconds: float, what: str) -> Running:
        """Waits until drawing() is true; a saver that exits or stays dark is
        killed and reported."""
        proc = running.proc

        def check():
            if proc.poll() is not None:
                raise RuntimeError(f"{what} exited at start with status {proc.returncode}: "
                                   f"{running.output().strip()}")
            return drawing()

        if not xwine.wait_until(check, seconds, 0.02):
            self.kill(running)
            raise RuntimeError(f"{what} did not come up within {seconds:g} s")
        return running

    def _preloaded(self, env: dict) -> dict:
        if not self.preload:
            return env
        return {**env, "LD_PRELOAD": self.preload, "QUILLOMIR_LEAK": self.leak or ""}

    def picture(self) -> int | None:
        return None

    def _own_figures(self, running: Running) -> dict[str, int] | None:
        own = procfs.figures(running.proc.pid)
        return None if own is None or running.proc.poll() is not None else own

    def _ask_to_end(self, running: Running) -> None:
        running.proc.send_signal(signal.SIGTERM)

    def end(self, running: Running) -> Ended:
        self._ask_to_end(running)
        try:
            status = running.proc.wait(timeout=self.end_seconds)
        except subprocess.TimeoutExpired:
            self.kill(running)
            return Ended(None, f"did not end within {self.end_seconds:g} s of {self.end_how}")
        return Ended(status, running.output())

    def kill(self, running: Running) -> None:
        running.proc.kill()
        running.proc.wait()
        running.stderr.unlink(missing_ok=True)

    def leftovers(self) -> list[str]:
        return [f"{comm} ({pid})" for pid, comm in procfs.processes_with(MARK, self.mark).items()]


class _OnXvfb(Kind):
    """A kind whose saver draws on an Xvfb of its own, read through X-Resource."""

    def __init__(self, workdir: Path, mark: str):
        super().__init__(workdir, mark)
        self.server: xwine.Xvfb | None = None
        self.view: xres.XServerView | None = None
        # The disturbing thread's own connection: Xlib's calls on one display
        # from two threads would interleave.
        self.passing: xres.XServerView | None = None
        self.cover = 0

    def _open_server(self, first_display: int) -> None:
        self.workdir.mkdir(parents=True, exist_ok=True)
        self.server = xwine.Xvfb(1024, 768, first_display=first_display,
                                 log=self.workdir / "xvfb.log").start()
        self.view = xres.XServerView(self.server.display)
        self.passing = xres.XServerView(self.server.display)

    def _close_server(self) -> None:
        for view in (self.view, self.passing):
            if view:
                view.close()
        self.view = self.passing = None
        if self.server:
            self.server.stop()

    def _x_figures(self, pid: int) -> dict[str, int]:
        return {f"x_{name}": value for name, value in xres.summed(self.view.of_pids({pid})).items()}

    def disturb(self) -> None:
        """A window passes over the saver's top-left corner, where its label
        is, away from the pointer (a window appearing under it would be a move)."""
        if not self.cover:
            self.cover = self.passing.make_window(300, 60, mapped=False)
        self.passing.pass_over(self.cover)

    def picture(self) -> int | None:
        """The whole screen, as the X server holds it."""
        try:
            shot = subprocess.run(["import", "-display", self.server.display, "-window", "root",
                                   "-depth", "8", "rgb:-"], capture_output=True, timeout=30)
        except subprocess.TimeoutExpired:
            return None
        return digest(shot.stdout) if shot.returncode == 0 else None

    def server_totals(self) -> dict[str, int]:
        return self.view.totals()


class X11Kind(_OnXvfb):
    """quillomir: its own full-screen window for the long run, a given window
    (--window-id, as xscreensaver and lockers run it) for the starts."""
    name = "x11"
    label = "X11 saver (quillomir)"
    informative = {"rss_anon"}
    end_how = "SIGTERM"

    def __init__(self, binary: Path, workdir: Path, mark: str, root: bool = False):
        super().__init__(workdir, mark)
        self.binary, self.root = binary, root
        self.window = 0
        if root:
            self.name, self.label = "x11-root", "X11 saver on the root window (quillomir --root)"

    def open(self) -> None:
        self._open_server(first_display=160 if self.root else 120)
        # The starts' window (a window of ours over the root would hide it).
        self.window = self.view.make_window(1024, 768, mapped=not self.root)

    def close(self) -> None:
        self._close_server()

    def _env(self) -> dict:
        home = str(self.workdir / "config")
        return self._preloaded({"PATH": os.environ.get("PATH", "/usr/bin:/bin"),
                                "DISPLAY": self.server.display, "XDG_CONFIG_HOME": home,
                                "HOME": home, MARK: self.mark})

    def start(self, long_run: bool) -> Running:
        # --root is what the desktop entry runs; the others are the saver's
        # own cover and a given window (as xscreensaver and lockers run it).
        target = ["--root"] if self.root else [] if long_run else ["--window-id", hex(self.window)]
        running = _launch([str(self.binary), *target, "--show-value", "--method", "cpu"],
                          self._env(), self.workdir)
        # Up once its drawing context exists: the form is loaded right after.
        return self._up(running, lambda: self.view is not None and any(
            c.counts.get("GC", 0) > 0 for c in self.view.of_pids({running.proc.pid})),
            10, "quillomir")

    def figures(self, running: Running) -> dict[str, int] | None:
        own = self._own_figures(running)
        return own and {**own, **self._x_figures(running.proc.pid)}


class WineKind(_OnXvfb):
    """Quillomir.scr /S under Wine (the 64-bit build), ended by a key press
    as Windows ends a saver. Its prefix is a clone of one made once for the
    whole soak; a console program keeps the prefix's session up between starts,
    as a logged-in session is on Windows."""
    name = "wine"
    label = "Windows saver under Wine (Quillomir.scr)"
    informative = {"rss_anon", "wineserver_rss", "wineserver_fds"}
    # The probe always counts the saver's windows (the other counts only where
    # Wine gives them): a sampling without it means the probe did not answer.
    required = Kind.required | {"win32_windows"}
    end_how = "a key press"
    end_seconds = 20.0

    def __init__(self, scr: Path, probe: Path, base_prefix: Path, workdir: Path, mark: str):
        super().__init__(workdir, mark)
        self.scr, self.probe, self.base = scr, probe, base_prefix
        self.prefix = workdir / "prefix"
        self.wine: xwine.Wine | None = None
        self.keeper: subprocess.Popen | None = None
        self.session: dict[int, str] = {}

    def open(self) -> None:
        self._open_server(first_display=140)
        xwine.clone_prefix(self.base, self.prefix)
        self.wine = xwine.Wine(self.prefix, self.server.display)
        self.wine.reg_set(SETTINGS_KEY, "DisplayValue", "1")
        self.wine.reg_set(SETTINGS_KEY, "CrawletMethod", "1")
        self.keeper = subprocess.Popen([xwine.WINE, "cmd.exe"], env=self._env(),
                                       stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
        # The session is up when its processes stop changing.
        previous: dict[int, str] = {}

        def settled():
            nonlocal previous
            now = procfs.processes_with("WINEPREFIX", str(self.prefix))
            same = now == previous and "cmd.exe" in now.values()
            previous = now
            return same

        if not xwine.wait_until(settled, 60, 1.0):
            raise RuntimeError("the Wine session did not settle within 60 s")
        self.session = previous

    def close(self) -> None:
        if self.view:
            self.view.close()
            self.view = None
        if self.wine:
            self.wine.shutdown()
        if self.keeper:
            xwine.terminate(self.keeper)
        self._close_server()
        shutil.rmtree(self.prefix, ignore_errors=True)

    def _env(self) -> dict:
        return {**self.wine.env(), MARK: self.mark}

    def start(self, long_run: bool) -> Running:
        running = _launch([xwine.WINE, str(self.scr), "/S"], self._env(), self.workdir)
        if not self.server.wait_window(xwine.SAVER_CAPTION, 60):
            self.kill(running)
            raise RuntimeError("Quillomir.scr showed no window within 60 s")
        return running

    def _windows_side(self) -> dict[str, int]:
        """What Windows counts for the saver, through the probe: handles, GDI and
        USER objects where they can be had, and its windows."""
        try:
            r = self.wine.run(str(self.probe), "resources", xwine.SAVER_CAPTION, timeout=30)
        except subprocess.TimeoutExpired:
            return {}
        lines = [json.loads(line) for line in r.stdout.splitlines() if line.startswith("{")]
        if r.returncode != 0 or not lines:
            return {}
        found = lines[0]
        names = {"handles": "handles", "gdi": "gdi_objects", "user": "user_objects",
                 "windows": "win32_windows"}
        return {name: found[key] for key, name in names.items() if found.get(key) is not None}

    def figures(self, running: Running) -> dict[str, int] | None:
        own = self._own_figures(running)
        if own is None:
            return None
        out = {**own, **self._x_figures(running.proc.pid), **self._windows_side()}
        server = [p for p, comm in self.session.items() if comm.startswith("wineserver")]
        server_figures = procfs.figures(server[0]) if server else None
        if server_figures:
            out["wineserver_rss"] = server_figures["rss"]
            out["wineserver_fds"] = server_figures["fds"]
        return out

    def _ask_to_end(self, running: Running) -> None:
        self.server.xdotool("key", "space")

    def leftovers(self) -> list[str]:
        now = procfs.processes_with("WINEPREFIX", str(self.prefix))
        extra = {pid: comm for pid, comm in now.items() if pid not in self.session}
        gone = {pid: comm for pid, comm in self.session.items() if pid not in now}
        return ([f"{comm} ({pid})" for pid, comm in extra.items()]
                + [f"the session's {comm} ({pid}) ended" for pid, comm in gone.items()])
