"""The display going away under the saver, and the saver killed outright.

Each display server kind is a class that starts a server the case may kill,
runs the saver on it and tells when the saver draws. Only X11 exists; a
Wayland saver adds its class (a headless compositor killed with SIGKILL, the
saver started with WAYLAND_DISPLAY) to SERVERS, and both cases run for it."""

from __future__ import annotations

import os
import signal
import subprocess
import time
from pathlib import Path

import pytest

from conftest import BLUE, Screen, saver_path, wait_until, xwine

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


SERVERS = {"x11": X11Server}


@pytest.fixture(params=sorted(SERVERS))
def server(request):
    started = SERVERS[request.param]()
    yield started
    started.stop()


def start_saver(server, config_home: Path) -> subprocess.Popen:
    # A session of its own, so that anything it started can be found after it ends.
    env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "XDG_CONFIG_HOME": str(config_home),
           "HOME": str(config_home), **server.env()}
    return subprocess.Popen([str(saver_path()), "--show-value"], env=env, stdout=subprocess.PIPE,
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


def test_the_saver_ends_when_its_display_server_dies(server, config_home):
    saver = start_saver(server, config_home)
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


def test_a_killed_saver_leaves_the_settings_alone_and_the_next_starts_at_once(server,
                                                                              config_home):
    settings = config_home / "quillomir" / "quillomir.conf"
    settings.parent.mkdir()
    settings.write_text("; mine\n[Setup]\nCrawletColor = 255\n\nDisplayValue=1\n")
    before = (settings.read_bytes(), settings.stat().st_mtime_ns)
    first = start_saver(server, config_home)
    try:
        assert wait_until(lambda: server.shows(RED), 10, 0.3), "the saver never drew"
        time.sleep(1.5)
        first.send_signal(signal.SIGKILL)
        first.wait(timeout=10)
        assert wait_until(lambda: not server.shows(RED), 3, 0.2), "its window outlived it"
    finally:
        xwine.terminate(first)
    assert (settings.read_bytes(), settings.stat().st_mtime_ns) == before
    second = start_saver(server, config_home)
    try:
        # Nothing of the killed run stands in the way: the next run draws within
        # its first step, in the stored colour.
        assert wait_until(lambda: server.shows(RED), 3, 0.2), "the next start did not draw"
        second.send_signal(signal.SIGTERM)
        assert second.wait(timeout=5) == 0
    finally:
        xwine.terminate(second)
    assert (settings.read_bytes(), settings.stat().st_mtime_ns) == before
