"""Private headless sway sessions, for everything that runs the Wayland saver
away from a desktop: the end-to-end tests, the benchmark and the soak runs.

sway refuses to run as root, so when we are root the compositor and every
client run as the user "nobody" (setpriv); they can only reach what lies in
the session's folder, a fresh folder of mode 0755 under the temporary folder.
Inside it, `run/` is the XDG_RUNTIME_DIR: mode 0700 and owned by the user who
runs sway, as libwayland demands. `install()` copies programs there, and
`install_saver()` the saver's two programs. A headless sway has no input
devices: `virtual_pointer()` adds a pointer (keys: `run(["wtype", ...])`).

    with SwaySession(outputs=[(1280, 720), (800, 600)]) as session:
        saver = session.popen([session.install_saver(Path("build/native"))])
        width, height, rgb = session.screenshot("HEADLESS-1")

Standard library only.  Every process started here is stopped again by
`stop()` (also on failure), through xwine.terminate.
"""

from __future__ import annotations

import json
import os
import shutil
import socket
import struct
import subprocess
import tempfile
from pathlib import Path

import xwine

NOBODY = 65534


def as_user() -> list[str]:
    """The prefix that runs a command as "nobody" when we are root, else nothing."""
    if os.geteuid() != 0:
        return []
    return [shutil.which("setpriv") or "setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}",
            "--clear-groups"]


class SwaySession:
    """One headless sway (pixman renderer, no input devices) with an output of
    each given size, and scale where given: `outputs` is a list of (width,
    height) or (width, height, scale). `config` adds lines to sway's config;
    the background is white, so that whatever a cover leaves uncovered shows.
    `scanout`: whether sway may show a full-screen window's buffer on its output
    directly, which grim cannot read back from a headless output (it shows
    what was composited last)."""

    def __init__(self, outputs=((1280, 720),), config: str = "", start_timeout: float = 20,
                 scanout: bool = True):
        self.outputs_wanted = [tuple(o) for o in outputs]
        self.scanout = scanout
        self.extra_config = config
        self.start_timeout = start_timeout
        self.folder: Path | None = None
        self.proc: subprocess.Popen | None = None
        self.wayland_display: str | None = None
        self.swaysock: str | None = None

    # -- the session ---------------------------------------------------------------

    @property
    def runtime_dir(self) -> Path:
        assert self.folder is not None
        return self.folder / "run"

    @property
    def log(self) -> Path:
        assert self.folder is not None
        return self.folder / "sway.log"

    def start(self) -> "SwaySession":
        self.folder = Path(tempfile.mkdtemp(prefix="quillomir-sway-"))
        self.folder.chmod(0o755)
        self.runtime_dir.mkdir(mode=0o700)
        if os.geteuid() == 0:
            os.chown(self.runtime_dir, NOBODY, NOBODY)
        lines = ["xwayland disable", "output * bg #ffffff solid_color"]
        left = 0  # side by side, in the layout's (logical) pixels
        for i, (width, height, *scale) in enumerate(self.outputs_wanted, start=1):
            scale = scale[0] if scale else 1
            lines.append(f"output HEADLESS-{i} mode {width}x{height} position {left} 0 "
                         f"scale {scale}")
            left += width // scale
        lines.append(self.extra_config)
        config = self.folder / "config"
        config.write_text("\n".join(lines) + "\n")
        config.chmod(0o644)
        env = {"PATH": "/usr/bin:/bin", "HOME": str(self.folder),
               "XDG_RUNTIME_DIR": str(self.runtime_dir),
               "WLR_BACKENDS": "headless", "WLR_RENDERER": "pixman",
               "WLR_HEADLESS_OUTPUTS": str(len(self.outputs_wanted)),
               "WLR_LIBINPUT_NO_DEVICES": "1"}
        with open(self.log, "wb") as log:
            debug = [] if self.scanout else ["-D", "noscanout"]
            self.proc = subprocess.Popen([*as_user(), "sway", *debug, "-c", str(config)], env=env,
                                         stdout=log, stderr=subprocess.STDOUT,
                                         stdin=subprocess.DEVNULL, start_new_session=True)
        try:
            found = xwine.wait_until(self._sockets, self.start_timeout, 0.05)
            if not found or self.proc.poll() is not None:
                raise RuntimeError(f"sway did not start; see {self.log}:\n"
                                   f"{self.log.read_text(errors='replace')[-2000:]}")
            self.wayland_display, self.swaysock = found
            ready = xwine.wait_until(lambda: len(self.output_list()) == len(self.outputs_wanted),
                                     self.start_timeout, 0.05)
            if not ready:
                raise RuntimeError("sway did not list its outputs")
        except BaseException:
            self.stop()
            raise
        return self

    def _sockets(self):
        names = os.listdir(self.runtime_dir)
        wayland = [n for n in names if n.startswith("wayland-") and not n.endswith(".lock")]
        ipc = [n for n in names if n.startswith("sway-ipc.")]
        if wayland and ipc:
            return wayland[0], str(self.runtime_dir / ipc[0])
        return None

    def stop(self) -> None:
        if self.proc is not None:
            xwine.terminate(self.proc, grace=10)
            self.proc = None
        if self.folder is not None:
            shutil.rmtree(self.folder, ignore_errors=True)
            self.folder = None

    def __enter__(self) -> "SwaySession":
        return self.start()

    def __exit__(self, *exc) -> None:
        self.stop()

    # -- clients -------------------------------------------------------------------

    def install(self, program: Path, *companions: Path, into: Path | None = None) -> Path:
        """Copies of `program` and its companions in the session's folder (or
        in `into`, within it), which the user running sway can execute; the
        program's copy."""
        assert self.folder is not None
        folder = into or self.folder
        folder.mkdir(mode=0o755, exist_ok=True)
        for each in (program, *companions):
            # Beside and renamed over: a copy that is running cannot be written.
            copy = folder / Path(each).name
            fresh = copy.with_name(copy.name + ".new")
            shutil.copy2(each, fresh)
            fresh.chmod(0o755)
            os.replace(fresh, copy)
        return folder / Path(program).name

    def install_saver(self, build: Path) -> Path:
        """The saver's two programs from a build folder, laid out as there
        (quillomir hands a Wayland run to wayland/quillomir); the one to
        start."""
        assert self.folder is not None
        self.install(build / "wayland" / "quillomir", into=self.folder / "wayland")
        return self.install(build / "quillomir")

    def env(self, extra: dict | None = None) -> dict:
        env = {"PATH": f"{self.folder}:/usr/bin:/bin", "HOME": str(self.folder),
               "XDG_RUNTIME_DIR": str(self.runtime_dir),
               "WAYLAND_DISPLAY": self.wayland_display, "SWAYSOCK": self.swaysock}
        env.update(extra or {})
        return env

    def popen(self, args, env: dict | None = None, **kwargs) -> subprocess.Popen:
        """A client of the session, run as the session's user."""
        kwargs.setdefault("stdout", subprocess.PIPE)
        kwargs.setdefault("stderr", subprocess.PIPE)
        return subprocess.Popen([*as_user(), *map(str, args)], env=self.env(env), **kwargs)

    def run(self, args, env: dict | None = None, timeout: float = 30,
            check: bool = True) -> subprocess.CompletedProcess:
        result = subprocess.run([*as_user(), *map(str, args)], env=self.env(env),
                                capture_output=True, timeout=timeout)
        if check and result.returncode != 0:
            raise RuntimeError(f"{args[0]} failed ({result.returncode}): "
                               f"{result.stderr.decode(errors='replace').strip()}")
        return result

    def swaymsg(self, *args: str):
        """swaymsg's answer, as JSON where it gives JSON."""
        text = self.run(["swaymsg", "-r", *args]).stdout.decode()
        try:
            return json.loads(text)
        except json.JSONDecodeError:
            return text

    def output_list(self) -> list[dict]:
        try:
            return self.swaymsg("-t", "get_outputs")
        except (RuntimeError, subprocess.TimeoutExpired):
            return []

    def virtual_pointer(self) -> "VirtualPointer":
        """A pointer device on the seat (a headless sway has none, so clients
        get no wl_pointer without one), driven through
        zwlr_virtual_pointer_v1."""
        assert self.wayland_display is not None
        return VirtualPointer(self.runtime_dir / self.wayland_display)

    def screenshot(self, output: str, cursor: bool = False) -> tuple[int, int, bytes]:
        """One output's picture as (width, height, RGB bytes), at its pixel
        size; with the pointer drawn in where `cursor`."""
        data = self.run(["grim", *(["-c"] if cursor else []), "-t", "ppm", "-o", output,
                         "-"]).stdout
        magic, size, maxval, pixels = data.split(b"\n", 3)
        width, height = map(int, size.split())
        if magic != b"P6" or maxval != b"255" or len(pixels) != width * height * 3:
            raise RuntimeError(f"grim gave an unexpected picture of {output}")
        return width, height, pixels


class VirtualPointer:
    """A minimal Wayland client, on the wire protocol itself: it binds the seat
    and the virtual pointer manager and makes one virtual pointer, which
    stays on the seat until close(). Requests by their opcodes in
    wlr-virtual-pointer-unstable-v1 (version 1)."""

    DISPLAY, REGISTRY, SYNC = 1, 2, 3
    BTN_LEFT = 0x110

    def __init__(self, path: Path):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(str(path))
        self.next_id = 4
        self.globals: dict[str, int] = {}
        self._send(self.DISPLAY, 1, struct.pack("<I", self.REGISTRY))  # get_registry
        self._roundtrip()
        missing = {"wl_seat", "zwlr_virtual_pointer_manager_v1"} - set(self.globals)
        if missing:
            raise RuntimeError(f"the compositor lacks {missing}")
        seat = self._bind("wl_seat", 1)
        manager = self._bind("zwlr_virtual_pointer_manager_v1", 1)
        self.pointer = self._new_id()
        self._send(manager, 0, struct.pack("<II", seat, self.pointer))  # create_virtual_pointer
        self._roundtrip()
        self.time = 0

    def move(self, dx: float, dy: float) -> None:
        self.time += 10
        self._send(self.pointer, 0, struct.pack("<Iii", self.time, int(dx * 256), int(dy * 256)))
        self._frame()

    def click(self, button: int = BTN_LEFT) -> None:
        for state in (1, 0):
            self.time += 10
            self._send(self.pointer, 2, struct.pack("<III", self.time, button, state))
            self._frame()

    def scroll(self, steps: int = 1) -> None:
        """A wheel's turn by `steps` notches, down: axis_source (wheel),
        axis_discrete (vertical), frame."""
        self.time += 10
        self._send(self.pointer, 5, struct.pack("<I", 0))
        self._send(self.pointer, 7, struct.pack("<IIii", self.time, 0, 15 * 256 * steps, steps))
        self._frame()

    def close(self) -> None:
        self.sock.close()

    def __enter__(self) -> "VirtualPointer":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def _frame(self) -> None:
        self._send(self.pointer, 4, b"")
        self._roundtrip()

    def _new_id(self) -> int:
        self.next_id += 1
        return self.next_id - 1

    @staticmethod
    def _string(text: str) -> bytes:
        data = text.encode() + b"\0"
        return struct.pack("<I", len(data)) + data + b"\0" * (-len(data) % 4)

    def _bind(self, interface: str, version: int) -> int:
        new = self._new_id()
        self._send(self.REGISTRY, 0, struct.pack("<I", self.globals[interface]) +
                   self._string(interface) + struct.pack("<II", version, new))
        return new

    def _send(self, target: int, opcode: int, body: bytes) -> None:
        self.sock.sendall(struct.pack("<II", target, (8 + len(body)) << 16 | opcode) + body)

    def _roundtrip(self) -> None:
        self._send(self.DISPLAY, 0, struct.pack("<I", self.SYNC))  # sync
        data = b""
        self.sock.settimeout(10)
        while True:
            while len(data) < 8 or len(data) < struct.unpack_from("<I", data, 4)[0] >> 16:
                chunk = self.sock.recv(4096)
                if not chunk:
                    raise RuntimeError("the compositor closed the connection")
                data += chunk
            target, word = struct.unpack_from("<II", data)
            size, opcode = word >> 16, word & 0xFFFF
            body, data = data[8:size], data[size:]
            if target == self.DISPLAY and opcode == 0:  # error
                raise RuntimeError(f"protocol error {struct.unpack_from('<II', body)}")
            if target == self.REGISTRY and opcode == 0:  # global
                name, length = struct.unpack_from("<II", body)
                self.globals.setdefault(body[8:8 + length - 1].decode(), name)
            if target == self.SYNC and opcode == 0:  # done: the id is free again
                return
