"""The kinds of saver a soak runs, each on a display of its own: how to start
one, read its figures, end it the way its host does, and what the server and
the machine hold around it.

A kind owns everything it starts from open() to close(): its X server, a
scratch settings folder, and for Wine a prefix and a session. A third kind
(the Wayland saver) is one more class with the same methods:

- open(): a headless compositor on a socket of its own, started as the
  unprivileged user if it refuses root;
- start(): the saver with WAYLAND_DISPLAY set, up once its surface exists;
- figures(): procfs.figures(pid), whose shm_maps and shm_fds count the memfd
  and /dev/shm mappings and descriptors that hold its wl_shm pools;
- disturb(): something that makes the compositor ask for a new frame (an
  output mode change, or a second surface mapped over the saver's);
- end(): SIGTERM, as a locker ends it; kill(): SIGKILL;
- server_totals(): the compositor's own RSS, descriptors and shm_maps, which
  grow when a client's objects and pools are never destroyed, and its client
  count (its connected sockets);
- leftovers(): procfs.processes_with(MARK, self.mark);
and one entry in soak.py's table of kinds, with its number of starts.
"""

from __future__ import annotations

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


def _pass_over_label(view: xres.XServerView, cover: list[int]) -> None:
    """A window passes over the saver's top-left corner, where its label is,
    away from the pointer (a window appearing under it would be a move)."""
    if not cover:
        cover.append(view.make_window(300, 60, mapped=False))
    view.pass_over(cover[0])


def _x_figures(view: xres.XServerView, pids: set[int]) -> dict[str, int]:
    return {f"x_{name}": value for name, value in xres.summed(view.of_pids(pids)).items()}


class X11Kind:
    """quillomir: its own full-screen window for the long run, a given window
    (--window-id, as xscreensaver and lockers run it) for the starts."""
    name = "x11"
    label = "X11 saver (quillomir)"
    informative = {"rss_anon"}
    end_how = "SIGTERM"

    def __init__(self, binary: Path, workdir: Path, mark: str):
        self.binary, self.workdir, self.mark = binary, workdir, mark
        self.server: xwine.Xvfb | None = None
        self.view: xres.XServerView | None = None
        self.window = 0
        self.cover: list[int] = []

    def open(self) -> None:
        self.workdir.mkdir(parents=True, exist_ok=True)
        self.server = xwine.Xvfb(1024, 768, first_display=120,
                                 log=self.workdir / "xvfb.log").start()
        self.view = xres.XServerView(self.server.display)
        self.window = self.view.make_window(1024, 768)

    def close(self) -> None:
        if self.view:
            self.view.close()
        if self.server:
            self.server.stop()

    def _env(self) -> dict:
        home = str(self.workdir / "config")
        return {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "DISPLAY": self.server.display,
                "XDG_CONFIG_HOME": home, "HOME": home, MARK: self.mark}

    def start(self, long_run: bool) -> Running:
        target = [] if long_run else ["--window-id", hex(self.window)]
        running = _launch([str(self.binary), *target, "--show-value", "--method", "cpu"],
                          self._env(), self.workdir)
        proc = running.proc

        def drawing():
            # Up once its drawing context exists: the form is loaded right after.
            if proc.poll() is not None:
                raise RuntimeError(f"quillomir exited at start with status {proc.returncode}: "
                                   f"{running.output().strip()}")
            return self.view is not None and any(
                c.counts.get("GC", 0) > 0 for c in self.view.of_pids({proc.pid}))

        if not xwine.wait_until(drawing, 10, 0.02):
            self.kill(running)
            raise RuntimeError("quillomir did not come up within 10 s")
        return running

    def figures(self, running: Running) -> dict[str, int] | None:
        own = procfs.figures(running.proc.pid)
        if own is None or running.proc.poll() is not None:
            return None
        return {**own, **_x_figures(self.view, {running.proc.pid})}

    def disturb(self) -> None:
        _pass_over_label(self.view, self.cover)

    def end(self, running: Running) -> Ended:
        running.proc.send_signal(signal.SIGTERM)
        try:
            status = running.proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.kill(running)
            return Ended(None, "did not end within 5 s of SIGTERM")
        return Ended(status, running.output())

    def kill(self, running: Running) -> None:
        running.proc.kill()
        running.proc.wait()
        running.stderr.unlink(missing_ok=True)

    def server_totals(self) -> dict[str, int]:
        return self.view.totals()

    def leftovers(self) -> list[str]:
        return [f"{comm} ({pid})" for pid, comm in procfs.processes_with(MARK, self.mark).items()]


class WineKind:
    """Quillomir.scr /S under Wine (the 64-bit build), ended by a key press
    as Windows ends a saver. Its prefix is a clone of one made once for the
    whole soak; a console program keeps the prefix's session up between starts,
    as a logged-in session is on Windows."""
    name = "wine"
    label = "Windows saver under Wine (Quillomir.scr)"
    informative = {"rss_anon", "wineserver_rss", "wineserver_fds"}
    end_how = "a key press"

    def __init__(self, scr: Path, base_prefix: Path, workdir: Path, mark: str):
        self.scr, self.base, self.workdir, self.mark = scr, base_prefix, workdir, mark
        self.probe = scr.parent / "quillomir_ui_probe.exe"
        self.prefix = workdir / "prefix"
        self.server: xwine.Xvfb | None = None
        self.view: xres.XServerView | None = None
        self.wine: xwine.Wine | None = None
        self.keeper: subprocess.Popen | None = None
        self.session: dict[int, str] = {}
        self.cover: list[int] = []

    def open(self) -> None:
        self.workdir.mkdir(parents=True, exist_ok=True)
        self.server = xwine.Xvfb(1024, 768, first_display=140,
                                 log=self.workdir / "xvfb.log").start()
        self.view = xres.XServerView(self.server.display)
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
        if self.wine:
            self.wine.shutdown()
        if self.keeper:
            xwine.terminate(self.keeper)
        if self.server:
            self.server.stop()
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
        pid = running.proc.pid
        own = procfs.figures(pid)
        if own is None or running.proc.poll() is not None:
            return None
        out = {**own, **_x_figures(self.view, {pid}), **self._windows_side()}
        server = [p for p, comm in self.session.items() if comm.startswith("wineserver")]
        server_figures = procfs.figures(server[0]) if server else None
        if server_figures:
            out["wineserver_rss"] = server_figures["rss"]
            out["wineserver_fds"] = server_figures["fds"]
        return out

    def disturb(self) -> None:
        _pass_over_label(self.view, self.cover)

    def end(self, running: Running) -> Ended:
        self.server.xdotool("key", "space")
        try:
            status = running.proc.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.kill(running)
            return Ended(None, "did not end within 20 s of the key press")
        return Ended(status, running.output())

    def kill(self, running: Running) -> None:
        running.proc.kill()
        running.proc.wait()
        running.stderr.unlink(missing_ok=True)

    def server_totals(self) -> dict[str, int]:
        return self.view.totals()

    def leftovers(self) -> list[str]:
        now = procfs.processes_with("WINEPREFIX", str(self.prefix))
        extra = {pid: comm for pid, comm in now.items() if pid not in self.session}
        gone = {pid: comm for pid, comm in self.session.items() if pid not in now}
        return ([f"{comm} ({pid})" for pid, comm in extra.items()]
                + [f"the session's {comm} ({pid}) ended" for pid, comm in gone.items()])
