"""The display going away under the saver, and the saver killed outright.

Each display server kind is a class that starts a server the case may kill,
runs the saver on it and tells when the saver draws: an Xvfb, and a headless
sway (killed with SIGKILL) on which the saver runs as sway's user."""

from __future__ import annotations

import os
import shutil
import signal
import subprocess
import sys
import time
from pathlib import Path

import pytest

from conftest import BLUE, ROOT, Screen, saver_path, wait_until, xwine

sys.path.insert(0, str(ROOT / "tools"))
from wayland_session import SwaySession, as_user  # noqa: E402

RED = (255, 0, 0)


class X11Server:
    def __init__(self):
        self.server = xwine.Xvfb(1024, 768).start()
        self.screen = Screen(self.server.display, 1024, 768)

    def env(self) -> dict:
        return {"DISPLAY": self.server.display}

    def shows(self, colour) -> bool:
        return bool(self.screen.shot().points_of(colour))

    def kill(self) -> None:
        self.server.crash()

    def stop(self) -> None:
        self.server.stop()

    def command(self) -> list[str]:
        return [str(saver_path())]

    def home(self, config_home: Path) -> Path:
        return config_home


class WaylandServer:
    def __init__(self):
        self.session = SwaySession(outputs=[(1024, 768)]).start()
        self.binary = self.session.install_saver(saver_path().parent)

    def env(self) -> dict:
        return self.session.env()

    def shows(self, colour) -> bool:
        pixels = self.session.screenshot("HEADLESS-1")[2]
        wanted = bytes(colour)
        at = pixels.find(wanted)
        while at != -1 and at % 3:
            at = pixels.find(wanted, at + 1)
        return at != -1

    def kill(self) -> None:
        self.session.proc.kill()
        self.session.proc.wait()

    def stop(self) -> None:
        self.session.stop()

    def command(self) -> list[str]:
        return [*as_user(), str(self.binary)]

    def home(self, config_home: Path) -> Path:
        # Where sway's user can read it.
        home = self.session.folder / "config-home"
        home.mkdir(mode=0o755)
        return home


SERVERS = {"x11": X11Server}
if shutil.which("sway") and shutil.which("grim"):
    SERVERS["wayland"] = WaylandServer


@pytest.fixture(params=sorted(SERVERS))
def server(request):
    started = SERVERS[request.param]()
    yield started
    started.stop()


@pytest.fixture
def home(server, config_home):
    return server.home(config_home)


def start_saver(server, config_home: Path) -> subprocess.Popen:
    # A session of its own, so that anything it started can be found after it ends.
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "XDG_CONFIG_HOME": str(config_home),
           "HOME": str(config_home), **server.env()}
    return subprocess.Popen([*server.command(), "--show-value"], env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, start_new_session=True)


def session_members(session: int) -> list[int]:
    members = []
    for entry in os.listdir("/proc"):
        try:
            stat = Path(f"/proc/{entry}/stat").read_text()
        except OSError:
            continue
        if int(stat[stat.rindex(")") + 2:].split()[3]) == session:
            members.append(int(entry))
    return members


def test_the_saver_ends_when_its_display_server_dies(server, home):
    saver = start_saver(server, home)
    try:
        assert wait_until(lambda: server.shows(BLUE), 10, 0.3), "the saver never drew"
        time.sleep(1.5)  # between two steps of the crawlet
        server.kill()
        killed = time.monotonic()
        status = wait_until(lambda: saver.poll() is not None, 10, 0.02) and saver.returncode
        took = time.monotonic() - killed
        stderr = saver.stderr.read() if status is not None else ""
    finally:
        xwine.terminate(saver)
    assert took <= 2.0, f"the saver took {took:.1f} s to notice"
    assert status > 0, f"exit status {status}"
    lines = stderr.splitlines()
    assert len(lines) == 1 and lines[0].startswith("quillomir: "), stderr
    assert session_members(saver.pid) == [], "the saver left a process behind"


def test_a_killed_saver_leaves_the_settings_alone_and_the_next_starts_at_once(server, home):
    settings = home / "quillomir" / "quillomir.conf"
    settings.parent.mkdir()
    settings.write_text("; mine\n[Setup]\nCrawletColor = 255\n\nDisplayValue=1\n")
    before = (settings.read_bytes(), settings.stat().st_mtime_ns)
    first = start_saver(server, home)
    try:
        assert wait_until(lambda: server.shows(RED), 10, 0.3), "the saver never drew"
        time.sleep(1.5)
        first.send_signal(signal.SIGKILL)
        first.wait(timeout=10)
        assert wait_until(lambda: not server.shows(RED), 3, 0.2), "its window outlived it"
    finally:
        xwine.terminate(first)
    assert (settings.read_bytes(), settings.stat().st_mtime_ns) == before
    second = start_saver(server, home)
    try:
        # Nothing of the killed run stands in the way: the next run draws within
        # its first step, in the stored colour.
        assert wait_until(lambda: server.shows(RED), 3, 0.2), "the next start did not draw"
        second.send_signal(signal.SIGTERM)
        assert second.wait(timeout=5) == 0
    finally:
        xwine.terminate(second)
    assert (settings.read_bytes(), settings.stat().st_mtime_ns) == before
