"""Under the real xscreensaver: it runs `quillomir --root` from a test
~/.xscreensaver when told to blank, and the crawlet appears."""

from __future__ import annotations

import os
import re
import shutil
import subprocess
import tempfile
from pathlib import Path

import pytest

from conftest import BLUE, reachable_copy, saver_path, terminate, unprivileged, wait_until

pytestmark = pytest.mark.skipif(shutil.which("xscreensaver") is None,
                                reason="xscreensaver is not installed")

SETTINGS = """\
mode:\t\tone
selected:\t0
timeout:\t0:30:00
lock:\t\tFalse
splash:\t\tFalse
fade:\t\tFalse
unfade:\t\tFalse
programs:\tquillomir --root \\n
"""


@pytest.fixture
def xscreensaver_home():
    """A home for the daemon's user (nobody, when the tests run as root; it
    refuses to run as root) with the test ~/.xscreensaver. Directly under the
    temporary folder: pytest's own folders are closed to other users."""
    home = Path(tempfile.mkdtemp(prefix="quillomir-xscreensaver-"))
    (home / "config").mkdir()
    (home / ".xscreensaver").write_text(SETTINGS)
    if os.geteuid() == 0:
        for path in (home, home / "config", home / ".xscreensaver"):
            os.chown(path, 65534, 65534)
    yield home
    shutil.rmtree(home, ignore_errors=True)


def test_the_crawlet_appears_when_xscreensaver_blanks(screen, xscreensaver_home, shared_folder):
    saver_dir = str(reachable_copy(saver_path(), shared_folder).parent)
    env = {"HOME": str(xscreensaver_home), "DISPLAY": screen.display,
           "PATH": f"{saver_dir}:/usr/bin:/bin",
           "XDG_CONFIG_HOME": str(xscreensaver_home / "config")}
    as_user = unprivileged()
    daemon = subprocess.Popen([*as_user, "xscreensaver", "-no-splash", "-verbose"], env=env,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    try:
        def command(*args):
            return subprocess.run([*as_user, "xscreensaver-command", *args], env=env,
                                  capture_output=True, text=True, timeout=20)

        assert wait_until(lambda: command("-version").returncode == 0, 15, step=0.5), \
            "xscreensaver did not start"
        assert command("-activate").returncode == 0

        def crawlet_seen():
            shot = screen.shot()
            # Away from the origin, where unplaced tail segments start.
            return len([p for p in shot.points_of(BLUE) if p[0] > 40 or p[1] > 40]) > 50

        assert wait_until(crawlet_seen, 20, step=0.5), "no crawlet on the blanked screen"
        command("-exit")
        daemon.wait(timeout=15)
    finally:
        terminate(daemon)
        log = daemon.stdout.read() if daemon.stdout else ""
        if daemon.stdout:
            daemon.stdout.close()
    forked = re.search(r'forked "quillomir --root" in pid (\d+)', log)
    assert forked, "xscreensaver did not run quillomir --root"
    # xscreensaver ends the saver with SIGTERM as it unblanks.
    pid = forked.group(1)
    assert wait_until(lambda: not Path(f"/proc/{pid}/cmdline").exists()
                      or b"quillomir" not in Path(f"/proc/{pid}/cmdline").read_bytes(), 5), \
        "quillomir outlived xscreensaver"
