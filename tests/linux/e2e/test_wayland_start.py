"""How the Wayland saver starts and what only a scripted compositor can show:
the hand-over between its two programs, a signal at any stage of its set-up,
a touch, and a connection handed over in WAYLAND_SOCKET. The compositor
(fake/layer_compositor.c) runs as the current user, and so does the saver."""

from __future__ import annotations

import os
import shutil
import signal
import socket
import subprocess
from pathlib import Path

import pytest

from conftest import saver_path, wait_until

FAKE = Path(__file__).parent / "fake"
LAYER_SHELL = (Path(__file__).resolve().parents[3] / "src" / "platform" / "wayland" /
               "protocols" / "wlr-layer-shell-unstable-v1.xml")


def wayland_part() -> Path:
    return saver_path().parent / "wayland" / "quillomir"


def start(args=(), env=None, **kwargs) -> subprocess.Popen:
    return subprocess.Popen([str(saver_path()), *args],
                            env={"PATH": "/usr/bin:/bin", **(env or {})},
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, **kwargs)


def finish(process: subprocess.Popen, seconds: float) -> tuple[int | None, str]:
    """The exit status within `seconds` (None: still running, then killed) and stderr."""
    try:
        status = process.wait(timeout=seconds)
    except subprocess.TimeoutExpired:
        status = None
        process.kill()
        process.wait()
    return status, process.stderr.read().decode()


@pytest.fixture(scope="module")
def compositor_program(tmp_path_factory) -> Path:
    folder = tmp_path_factory.mktemp("layer-compositor")
    for kind, name in (("server-header", "wlr-layer-shell-unstable-v1-server-protocol.h"),
                       ("private-code", "layer-shell.c")):
        subprocess.run(["wayland-scanner", kind, str(LAYER_SHELL), str(folder / name)],
                       check=True)
    # The layer shell names xdg_popup.
    xdg = "/usr/share/wayland-protocols/stable/xdg-shell/xdg-shell.xml"
    subprocess.run(["wayland-scanner", "private-code", xdg, str(folder / "xdg-shell.c")],
                   check=True)
    flags = subprocess.run(["pkg-config", "--cflags", "--libs", "wayland-server"],
                           capture_output=True, text=True, check=True).stdout.split()
    program = folder / "layer_compositor"
    subprocess.run(["cc", "-o", str(program), f"-I{folder}", str(FAKE / "layer_compositor.c"),
                    str(folder / "layer-shell.c"), str(folder / "xdg-shell.c"), *flags],
                   check=True)
    return program


class Compositor:
    def __init__(self, program: Path, folder: Path, mode: str):
        self.runtime = folder / "run"
        self.runtime.mkdir(mode=0o700)
        self.process = subprocess.Popen([str(program), "fake-0", mode],
                                        env={"XDG_RUNTIME_DIR": str(self.runtime)},
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        assert self.process.stdout.readline() == b"ready\n"
        self.env = {"WAYLAND_DISPLAY": "fake-0", "XDG_RUNTIME_DIR": str(self.runtime)}

    def wait_for_layer_surfaces(self, count: int) -> None:
        for _ in range(count):
            assert self.process.stdout.readline() == b"layer-surface\n"

    def touch(self) -> None:
        self.process.stdin.write(b"touch\n")
        self.process.stdin.flush()

    def stop(self) -> None:
        self.process.send_signal(signal.SIGCONT)
        self.process.kill()
        self.process.wait()
        self.process.stdin.close()
        self.process.stdout.close()


@pytest.fixture
def compositor(compositor_program, tmp_path):
    made: list[Compositor] = []

    def make(mode: str = "place") -> Compositor:
        made.append(Compositor(compositor_program, tmp_path, mode))
        return made[-1]

    yield make
    for each in made:
        each.stop()


def has_signalfd(pid: int) -> bool:
    """Whether the process listens for its termination signals yet."""
    try:
        return any(os.readlink(f"/proc/{pid}/fd/{fd}") == "anon_inode:[signalfd]"
                   for fd in os.listdir(f"/proc/{pid}/fd"))
    except OSError:
        return False


@pytest.mark.parametrize("stage", ["hand-over", "compositor frozen", "covers never placed"])
@pytest.mark.parametrize("which", [signal.SIGTERM, signal.SIGINT], ids=["SIGTERM", "SIGINT"])
def test_a_signal_during_set_up_ends_it_at_once_with_status_0(compositor, stage, which):
    served = compositor("never" if stage == "covers never placed" else "place")
    if stage == "compositor frozen":
        served.process.send_signal(signal.SIGSTOP)
    saver = start(env=served.env)
    assert wait_until(lambda: has_signalfd(saver.pid), 10), "the saver never listened"
    if stage == "compositor frozen":
        # Past the hand-over, waiting for the compositor's first answer.
        assert wait_until(lambda: Path(f"/proc/{saver.pid}/exe").resolve() == wayland_part()
                          and has_signalfd(saver.pid), 10)
    elif stage == "covers never placed":
        served.wait_for_layer_surfaces(1)  # the pictures' cover: the input's waits its turn
    saver.send_signal(which)
    status, errors = finish(saver, 2)
    assert status == 0, f"{which.name} at the {stage} gave {status}: {errors}"


def test_a_touch_ends_it_as_a_click(compositor):
    served = compositor()
    saver = start(env=served.env)
    served.wait_for_layer_surfaces(2)
    # Touches before the saver has loaded its form are not yet input: touch
    # until it ends.
    assert wait_until(lambda: served.touch() or saver.poll() is not None, 15, step=0.3), \
        "touches did not end the saver"
    status, errors = finish(saver, 1)
    assert status == 0, errors


def test_a_socket_handed_over_serves_both_connections(compositor):
    served = compositor()
    handed = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    handed.connect(str(served.runtime / "fake-0"))
    # WAYLAND_DISPLAY names no compositor: nothing may go there.
    env = {**served.env, "WAYLAND_DISPLAY": "nowhere-0", "WAYLAND_SOCKET": str(handed.fileno())}
    saver = start(env=env, pass_fds=(handed.fileno(),))
    handed.close()
    served.wait_for_layer_surfaces(2)
    assert wait_until(lambda: served.touch() or saver.poll() is not None, 15, step=0.3), \
        "the saver took no input on the handed-over connection"
    status, errors = finish(saver, 1)
    assert status == 0, errors


@pytest.fixture
def lone_saver(tmp_path) -> Path:
    """The X11 program alone in a folder, as installed, with nothing around it."""
    if Path("/usr/local/libexec/quillomir/quillomir").exists():
        pytest.skip("a saver is installed under /usr/local")
    program = tmp_path / "xscreensaver" / "quillomir"
    program.parent.mkdir()
    shutil.copy(saver_path(), program)
    return program


def run_alone(program: Path) -> subprocess.CompletedProcess:
    return subprocess.run([str(program)], env={"PATH": "/usr/bin:/bin", "WAYLAND_DISPLAY": "w-0"},
                          capture_output=True, text=True, timeout=30)


@pytest.mark.parametrize("sibling, message", [
    (None, "not installed"),
    ("not executable", "cannot be executed"),
    ("not a program", "Exec format error"),
    ("the X11 program again", "installed in each other's place"),
])
def test_the_hand_over_to_the_wayland_part_says_what_is_wrong(lone_saver, sibling, message):
    part = lone_saver.parent.parent / "quillomir" / "quillomir"  # libexec/quillomir/quillomir
    if sibling is not None:
        part.parent.mkdir()
        if sibling == "the X11 program again":
            shutil.copy(saver_path(), part)
        else:
            part.write_text("neither ELF nor script\n")
            part.chmod(0o644 if sibling == "not executable" else 0o755)
    result = run_alone(lone_saver)
    assert result.returncode == 1
    assert result.stderr.startswith("quillomir: ") and message in result.stderr, result.stderr
    if sibling in ("not executable", "not a program"):
        assert "/../quillomir/quillomir: " in result.stderr, "the place is not named"
    if sibling == "the X11 program again":
        assert result.stderr.count("\n") == 1, "more than one line"

