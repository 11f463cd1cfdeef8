"""The Wayland saver's kind of soak: quillomir on a headless sway of its own
(see kinds.py for what a kind does)."""

from __future__ import annotations

import subprocess
import time
from pathlib import Path

import procfs
import wayland_session
from kinds import MARK, Kind, Running, _launch, digest


class WaylandKind(Kind):
    """quillomir on a headless sway with two outputs (the crawlet on the first,
    the black cover on the second), run as the unprivileged user when we are
    root; ended by SIGTERM, as a locker or swayidle ends it. Its wl_shm pools
    are memfd mappings, which procfs counts in shm_maps, shm_fds and shm_kib.

    Its picture lives in its own memory, not the server's: the pages drawn on
    in its buffers are part of its RSS and follow the crawlet's length and
    place on the screen (and so the load), while black pages are given back.
    So its RSS is shown, and judged without them (rss_private); the buffers
    themselves are held to shm_kib, their whole size, which may not rise."""
    name = "wayland"
    label = "Wayland saver (quillomir on sway)"
    informative = {"rss", "rss_anon", "rss_shmem"}
    required = Kind.required | {"rss_private", "shm_kib", "sway_fds", "sway_shm_maps",
                                "sway_clients"}
    server_informative = {"sway_rss"}
    end_how = "SIGTERM"
    outputs = ((1280, 720), (800, 600))
    # disturb()'s changes, in turn, each undone again: the second output goes
    # away and comes back, or the first changes its mode and back.
    changes = ((["HEADLESS-2", "disable"], ["HEADLESS-2", "enable"]),
               (["HEADLESS-1", "mode", "1024x768"], ["HEADLESS-1", "mode", "1280x720"]))
    settle = 1.5

    def __init__(self, build: Path, workdir: Path, mark: str):
        super().__init__(workdir, mark)
        self.build = build
        self.session: wayland_session.SwaySession | None = None
        self.binary: Path | None = None
        self.config: Path | None = None
        self.step = 0
        # The pages drawn on in its buffers, at most: two buffers of 4 bytes a
        # pixel for each output at its largest, and a third for the one being
        # replaced when an output changes.
        self.caps = {"rss_shmem": sum(w * h * 4 * 3 for w, h in self.outputs) // 1024}

    def open(self) -> None:
        self.workdir.mkdir(parents=True, exist_ok=True)
        self.session = wayland_session.SwaySession(outputs=self.outputs).start()
        self.binary = self.session.install_saver(self.build)
        if self.preload:
            # Where the unprivileged user that runs the saver can read it.
            self.preload = str(self.session.install(Path(self.preload)))
        # Inside the session's folder, where the unprivileged user can read it.
        self.config = self.session.folder / "config-home"
        self.config.mkdir(mode=0o755)

    def close(self) -> None:
        if self.session:
            self.session.stop()

    def start(self, long_run: bool) -> Running:
        env = self._preloaded(self.session.env({"XDG_CONFIG_HOME": str(self.config),
                                                MARK: self.mark}))
        running = _launch([*wayland_session.as_user(), str(self.binary), "--show-value",
                           "--method", "cpu"], env, self.workdir)
        # Up once it has mapped a pool for a buffer: it draws into it at once.
        return self._up(running, lambda: (procfs.figures(running.proc.pid) or {}).get(
            "shm_maps", 0) > 0, 10, "quillomir on Wayland")

    def figures(self, running: Running) -> dict[str, int] | None:
        own = self._own_figures(running)
        shared = procfs.shared_memory(running.proc.pid)
        if own is None or shared is None:
            return None
        # The compositor's side while it runs: what a buffer the saver
        # dropped without destroying it would leave there (its exit would
        # free it, so the starts' before-and-after cannot see it).
        sway = procfs.figures(self.session.proc.pid) or {}
        return {**own, "rss_private": own["rss"] - shared["rss_shmem"], **shared,
                "sway_fds": sway.get("fds"), "sway_shm_maps": sway.get("shm_maps"),
                "sway_clients": self._clients()}

    def disturb(self) -> None:
        """One output change and back: the saver's cover for an output is made
        anew, or its crawlet's buffers at another size and at the first again."""
        there, back = self.changes[self.step % len(self.changes)]
        self.step += 1
        self.session.swaymsg("output", *there)
        time.sleep(0.3)
        self.session.swaymsg("output", *back)

    def picture(self) -> int | None:
        """The first output, where the crawlet is."""
        try:
            return digest(self.session.screenshot("HEADLESS-1")[2])
        except (RuntimeError, subprocess.TimeoutExpired, ValueError):
            return None

    def _clients(self) -> int:
        """The compositor's connected clients: its ends of the connections
        accepted on the Wayland socket carry the socket's path."""
        path = str(self.session.runtime_dir / self.session.wayland_display)
        table = Path("/proc/net/unix").read_text().splitlines()[1:]
        return sum(1 for line in table
                   if line.split()[7:8] == [path] and line.split()[5] == "03")

    def server_totals(self) -> dict[str, int]:
        sway = procfs.figures(self.session.proc.pid) or {}
        return {"sway_rss": sway.get("rss", 0), "sway_fds": sway.get("fds", 0),
                "sway_shm_maps": sway.get("shm_maps", 0), "clients": self._clients()}
