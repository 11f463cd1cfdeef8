"""The saver on Wayland end to end: each case starts its own headless sway
(tools/wayland_session.py) with a scale-2 output and a plain one, and runs a
copy of the saver there as the unprivileged user."""

from __future__ import annotations

import shutil
import signal
import subprocess
import time
from pathlib import Path

import pytest

from conftest import ROOT, on_diagonals_through, points_of, saver_path, wait_until

import sys
sys.path.insert(0, str(ROOT / "tools"))
from wayland_session import SwaySession  # noqa: E402

pytestmark = pytest.mark.skipif(
    any(shutil.which(tool) is None for tool in ("sway", "grim", "wtype", "swayidle")),
    reason="sway, grim, wtype and swayidle are needed")

GREEN = bytes((0, 255, 0))
RED = bytes((255, 0, 0))
BLACK = bytes(3)
WHITE = bytes((255, 255, 255))
# The first output at scale 2: 1280x720 pixels for 640x360 in the layout, so
# a disc of 120 twips is 16 pixels in radius and its centre lies within
# radius * sqrt(2) of the diagonal; the tail starts in the top-left corner.
FIRST, SECOND = "HEADLESS-1", "HEADLESS-2"
SLACK = 24
CORNER = 40


class Shot:
    def __init__(self, session: SwaySession, output: str, cursor: bool = False):
        self.width, self.height, self.pixels = session.screenshot(output, cursor)

    def points_of(self, color: bytes, area=None) -> list[tuple[int, int]]:
        x0, y0 = (area or (0, 0))[:2]
        return [(x, y) for x, y in points_of(self.pixels, self.width, self.height, color, area)
                if x >= x0 + CORNER or y >= y0 + CORNER]

    def only(self, *colors: bytes) -> bool:
        allowed = set(colors)
        return all(self.pixels[i:i + 3] in allowed for i in range(0, len(self.pixels), 3))


@pytest.fixture
def session(request):
    # A test of full-screen windows turns sway's direct scan-out off (indirect
    # parameter False): grim cannot read it back.
    with SwaySession(outputs=[(1280, 720, 2), (800, 600)],
                     scanout=getattr(request, "param", True)) as made:
        with made.virtual_pointer() as pointer:
            made.pointer = pointer
            yield made


class Run:
    """One saver on the session, ended (and reaped) when the test ends."""

    def __init__(self, session: SwaySession, args, env=None):
        self.config = session.folder / "config-home"
        self.config.mkdir(exist_ok=True)
        self.process = session.popen([session.install_saver(saver_path().parent), *args],
                                     env={"XDG_CONFIG_HOME": str(self.config), **(env or {})})

    def wait(self, seconds: float) -> int | None:
        try:
            return self.process.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            return None

    def stderr(self) -> str:
        return self.process.stderr.read().decode()

    def stop(self) -> None:
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.process.stdout.close()
        self.process.stderr.close()


@pytest.fixture
def run_saver(session):
    started: list[Run] = []

    def start(*args, env=None) -> Run:
        started.append(Run(session, args, env))
        return started[-1]

    yield start
    for run in started:
        run.stop()


def wait_for(session, color: bytes, output: str = FIRST, seconds: float = 10):
    seen = []

    def appeared():
        seen[:] = Shot(session, output).points_of(color)
        return len(seen) > 0

    wait_until(appeared, seconds, step=0.3)
    return seen


def test_crawlet_on_the_first_output_at_its_scale_and_black_on_the_other(session, run_saver):
    run_saver("--color", "green")
    first = wait_for(session, GREEN)
    assert first, "no green crawlet on the first output"
    time.sleep(2.5)
    session.pointer.move(5, 5)  # onto the first output; one move does not end it
    shot = Shot(session, FIRST, cursor=True)
    assert (shot.width, shot.height) == (1280, 720)
    assert shot.only(BLACK, GREEN), "the first output is not covered in black, or the pointer shows"
    points = shot.points_of(GREEN)
    assert not on_diagonals_through(points, 640, 360, SLACK), "green off the centre's diagonals"
    assert set(points) != set(first), "the crawlet did not move"
    # A disc is 32 pixels across at scale 2 (16 at scale 1).
    widest = max(sum(1 for x, y in points if y == row) for row in {y for _, y in points})
    assert 30 <= widest <= 48, f"the crawlet is {widest} pixels wide"

    other = Shot(session, SECOND)
    assert (other.width, other.height) == (800, 600)
    assert other.only(BLACK), "the second output is not all black"


def test_output_puts_the_crawlet_on_the_named_output(session, run_saver):
    run_saver("--output", SECOND, "--color", "green")
    assert wait_for(session, GREEN, output=SECOND), "no crawlet on the named output"
    assert Shot(session, FIRST).only(BLACK), "the first output is not plain black"

    unknown = run_saver("--output", "DP-7")
    assert unknown.wait(10) == 1
    message = unknown.stderr()
    assert 'no output "DP-7"' in message and FIRST in message and SECOND in message


def fullscreen_windows(node, output=None) -> list[tuple[str, str, int]]:
    """(output, title, fullscreen mode) of each of sway's windows whose app id is quillomir."""
    output = node["name"] if node.get("type") == "output" else output
    found = [(output, node["name"], node["fullscreen_mode"])] \
        if node.get("app_id") == "quillomir" else []
    for child in node.get("nodes", []) + node.get("floating_nodes", []):
        found += fullscreen_windows(child, output)
    return found


@pytest.mark.parametrize("session", [False], indirect=True, ids=["noscanout"])
@pytest.mark.parametrize("args, lit, dark, how", [([], FIRST, SECOND, "key"),
                                                  (["--output", SECOND], SECOND, FIRST, "click"),
                                                  ([], FIRST, SECOND, "close")])
def test_fullscreen_windows_cover_every_output_and_input_ends_it(session, run_saver, args, lit,
                                                                 dark, how):
    saver = run_saver("--fullscreen", "--color", "green", *args)
    assert wait_for(session, GREEN, output=lit), \
        f"no crawlet on its output's window (the saver's status: {saver.process.poll()})"
    assert wait_until(lambda: Shot(session, dark).only(BLACK), 5), "the other output is not black"
    assert Shot(session, lit).only(BLACK, GREEN), "the crawlet's output is not covered"
    assert sorted(fullscreen_windows(session.swaymsg("-t", "get_tree"))) == \
        [(FIRST, "Quillomir", 1), (SECOND, "Quillomir", 1)], "not one full-screen window an output"
    if how == "key":
        session.run(["wtype", "-s", "300", "x"])
    elif how == "click":  # the pointer's events name the window itself
        session.pointer.click()
    else:  # xdg_toplevel.close, as a shell sends it
        session.swaymsg("[app_id=quillomir] kill")
    assert saver.wait(5) == 0, f"the {how} did not end the saver with status 0"


@pytest.mark.parametrize("how", ["key", "click", "wheel", "sixth move"])
def test_input_ends_it_and_five_moves_do_not(session, run_saver, how):
    saver = run_saver("--color", "green")
    assert wait_for(session, GREEN)
    if how == "key":
        session.run(["wtype", "-s", "300", "x"])
    elif how == "click":
        session.pointer.click()
    elif how == "wheel":  # as buttons 4 and 5 end the X11 saver
        session.pointer.move(5, 5)
        assert saver.wait(0.5) is None
        session.pointer.scroll()
    else:
        for _ in range(5):
            session.pointer.move(5, 5)
        # As long as the sixth move is given to end it: a saver that ended on
        # the fifth, but late on a loaded machine, is caught too.
        assert saver.wait(5) is None, "five moves ended the saver"
        session.pointer.move(5, 5)
    assert saver.wait(5) == 0, f"the {how} did not end the saver with status 0"


def test_sigterm_ends_it_with_status_0_and_uncovers(session, run_saver):
    saver = run_saver()
    assert wait_for(session, bytes((0, 0, 255)))  # the default blue
    saver.process.send_signal(signal.SIGTERM)
    assert saver.wait(5) == 0
    assert wait_until(lambda: Shot(session, SECOND).only(WHITE), 5), "the cover stayed"


@pytest.mark.parametrize("session, args", [(True, []), (False, ["--fullscreen"])],
                         indirect=["session"], ids=["layer", "fullscreen"])
def test_an_output_added_while_it_runs_is_covered(session, run_saver, args):
    saver = run_saver(*args)
    assert wait_for(session, bytes((0, 0, 255)))
    session.swaymsg("create_output")
    assert wait_until(lambda: "HEADLESS-3" in [o["name"] for o in session.output_list()], 5)
    assert wait_until(lambda: Shot(session, "HEADLESS-3").only(BLACK), 5), \
        "the new output was not covered"
    # The black was the saver's, not a new output's own.
    saver.process.send_signal(signal.SIGTERM)
    assert saver.wait(5) == 0
    assert wait_until(lambda: Shot(session, "HEADLESS-3").only(WHITE), 5)


def test_swayidle_starts_it_and_its_later_timeout_still_runs(session):
    session.install_saver(saver_path().parent)
    config = session.folder / "config-home"
    config.mkdir()
    marker = session.runtime_dir / "locked"  # the one folder the session's user may write
    # The README's line with a later timeout, as a lock would be; the resume
    # command kept to this swayidle's session (other savers may run on this
    # machine as the same user).
    idle = session.popen(["swayidle", "-w", "timeout", "1", "quillomir --color red &",
                          "timeout", "3", f"touch {marker}",
                          "resume", "pkill -x -s 0 quillomir"],
                         env={"XDG_CONFIG_HOME": str(config)}, start_new_session=True,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def savers() -> list[str]:
        # Started in the background, an ended saver is left to init to reap,
        # which a container's init may never do: its zombie does not count.
        found = subprocess.run(["pgrep", "-x", "-s", str(idle.pid), "quillomir"],
                               capture_output=True, text=True).stdout.split()
        return [pid for pid in found if running(pid)]

    def running(pid: str) -> bool:
        try:
            return Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()[0] != "Z"
        except OSError:
            return False
    try:
        assert wait_for(session, RED, seconds=20), "swayidle did not start the saver"
        pids = savers()
        assert pids, "no process named quillomir (an idle daemon's pkill would miss it)"
        assert wait_until(marker.exists, 15), "the later timeout did not run while the saver ran"
        assert all(running(pid) for pid in pids), "the saver ended by itself"
        session.run(["wtype", "-s", "300", "x"])
        assert wait_until(lambda: not savers(), 5), "the key did not end the saver"
    finally:
        idle.terminate()
        idle.wait(10)


def test_the_settings_file_and_the_options_apply_as_on_x11(session, run_saver):
    label = (32, 32, 450, 34)  # 240, 240, 3372 x 252 twips at 192 dpi
    folder = session.folder / "config-home" / "quillomir"
    folder.mkdir(parents=True)
    (folder / "quillomir.conf").write_text("[Setup]\nCrawletColor=255\nDisplayValue=1\n")
    saver = run_saver()
    assert wait_for(session, RED), "the file's red crawlet did not appear"
    assert Shot(session, FIRST).points_of(WHITE, label), "no label in white"
    saver.stop()

    run_saver("--color", "green", "--no-show-value")
    assert wait_for(session, GREEN), "--color green did not win over the file"
    assert not Shot(session, FIRST).points_of(WHITE, label), "--no-show-value showed the label"


def test_a_lost_compositor_ends_it_with_a_message_and_status_1(session, run_saver):
    saver = run_saver()
    assert wait_for(session, bytes((0, 0, 255)))
    session.pointer.close()
    session.stop()
    assert saver.wait(5) == 1
    assert "connection to the Wayland compositor was lost" in saver.stderr()


@pytest.fixture
def bare_compositor(tmp_path):
    """A compositor without the layer shell, as GNOME's (fake/bare_compositor.c)."""
    program = tmp_path / "bare_compositor"
    flags = subprocess.run(["pkg-config", "--cflags", "--libs", "wayland-server"],
                           capture_output=True, text=True, check=True).stdout.split()
    subprocess.run(["cc", "-o", str(program), str(Path(__file__).parent / "fake" /
                                                   "bare_compositor.c"), *flags], check=True)
    runtime = tmp_path / "run"
    runtime.mkdir(mode=0o700)
    served = subprocess.Popen([str(program), "bare-0"], env={"XDG_RUNTIME_DIR": str(runtime)},
                              stdout=subprocess.PIPE)
    try:
        assert served.stdout.readline() == b"ready\n"
        yield {"WAYLAND_DISPLAY": "bare-0", "XDG_RUNTIME_DIR": str(runtime)}
    finally:
        served.kill()
        served.wait()
        served.stdout.close()


@pytest.mark.parametrize("compositor, args, message", [
    ({"WAYLAND_DISPLAY": "wayland-none", "XDG_RUNTIME_DIR": "/tmp"}, [],
     "cannot connect to the Wayland compositor \"wayland-none\""),
    ({}, [], "neither WAYLAND_DISPLAY nor DISPLAY is set"),
    ("bare_compositor", [], "offers no wlr-layer-shell-unstable-v1"),
    ("bare_compositor", ["--fullscreen"], "offers no xdg_wm_base"),
    ({"WAYLAND_SOCKET": "nine", "XDG_RUNTIME_DIR": "/tmp"}, [], "handed over in WAYLAND_SOCKET"),
])
def test_no_compositor_gives_a_message_and_status_1(request, compositor, args, message):
    env = request.getfixturevalue(compositor) if isinstance(compositor, str) else compositor
    result = subprocess.run([str(saver_path()), *args], env={"PATH": "/usr/bin:/bin", **env},
                            capture_output=True, text=True, timeout=30)
    assert result.returncode == 1
    assert result.stderr.startswith("quillomir: ") and message in result.stderr
    assert result.stderr.count("\n") == 1, "more than one line"
