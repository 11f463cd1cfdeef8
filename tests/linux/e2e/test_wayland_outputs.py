"""The Wayland saver while outputs come and go, on a compositor the test
drives (fake/output_compositor.c): the headless sway of test_wayland.py can
neither disable nor unplug an output (its backend refuses the commit).
It offers wl_output version 3 with xdg-output's names and configures of
0 x 0, closes covers over an output that stays, and takes an output away and
brings it back under its name."""

from __future__ import annotations

import queue
import re
import signal
import subprocess
import threading
import time
from pathlib import Path

import pytest

from conftest import ROOT, saver_path

pytestmark = [
    pytest.mark.skipif(
        subprocess.run(["pkg-config", "--exists", "wayland-server", "wayland-protocols"]).returncode,
        reason="libwayland-dev and wayland-protocols are needed"),
]

class Fake:
    """fake/output_compositor.c with outputs FAKE-1, FAKE-2, ... of the given
    sizes; what it reports, line by line."""

    SHOWN = re.compile(r"shown (\d+) (\d+)x(\d+) (\d+)")

    def __init__(self, program: Path, runtime: Path, sizes):
        self.env = {"WAYLAND_DISPLAY": "fake-0", "XDG_RUNTIME_DIR": str(runtime)}
        self.process = subprocess.Popen([str(program), "fake-0", *sizes], env=self.env,
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.lines: queue.Queue[str] = queue.Queue()
        assert self.process.stdout.readline() == "ready\n"
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line.strip())

    def send(self, command: str) -> None:
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()
        assert self.until(lambda line: line == "ok")

    def until(self, wanted, seconds: float = 10) -> list[str]:
        """The lines up to the first that `wanted` accepts, within `seconds`
        in all (a busy compositor never lets a per-line wait run out); empty
        on a timeout, with the last lines seen kept in `missed`."""
        seen = self.during(seconds, wanted)
        if seen and wanted(seen[-1]):
            return seen
        self.missed = seen[-20:]
        return []

    def during(self, seconds: float, until=lambda line: False) -> list[str]:
        """Every line that comes within `seconds`, or up to the first that
        `until` accepts."""
        seen = []
        deadline = time.monotonic() + seconds
        while (left := deadline - time.monotonic()) > 0:
            try:
                seen.append(self.lines.get(timeout=left))
            except queue.Empty:
                break
            if until(seen[-1]):
                break
        return seen

    def shown(self, *wanted: tuple[int, bool], seconds: float = 10):
        """Waits until each (output, lit) of `wanted` has shown a buffer with
        (lit) or without the crawlet, in whatever order they come: the lines
        up to the last, and each one's (width, height, lit pixels)."""
        found: dict[tuple[int, bool], tuple] = {}

        def accept(line):
            m = self.SHOWN.fullmatch(line)
            key = (int(m[1]), int(m[4]) > 0) if m else None
            if key in wanted and key not in found:
                found[key] = tuple(map(int, m.groups()[1:]))
            return len(found) == len(wanted)
        seen = self.until(accept, seconds)
        missing = [f"output {o} {'crawlet' if lit else 'black'}" for o, lit in wanted
                   if (o, lit) not in found]
        assert seen, f"not shown: {missing}; last lines: {self.missed}"
        return seen, *(found[key] for key in wanted)

    @classmethod
    def lit_on(cls, lines, output: int) -> list[int]:
        return [int(m[4]) for m in map(cls.SHOWN.fullmatch, lines) if m and int(m[1]) == output]

    def stop(self):
        self.process.kill()
        self.process.wait()
        self.reader.join(10)  # at the end of the pipe: the reader holds it until then
        self.process.stdin.close()
        self.process.stdout.close()


@pytest.fixture
def fake(tmp_path):
    """Starts the driven compositor with the given output sizes."""
    program = tmp_path / "output_compositor"
    protocols = subprocess.run(["pkg-config", "--variable=pkgdatadir", "wayland-protocols"],
                               capture_output=True, text=True, check=True).stdout.strip()
    sources = [Path(__file__).parent / "fake" / "output_compositor.c"]
    for xml in (ROOT / "src/platform/wayland/protocols/wlr-layer-shell-unstable-v1.xml",
                Path(protocols) / "unstable/xdg-output/xdg-output-unstable-v1.xml",
                Path(protocols) / "stable/xdg-shell/xdg-shell.xml"):  # the layer shell names it
        subprocess.run(["wayland-scanner", "server-header", str(xml),
                        str(tmp_path / f"{xml.stem}-server-protocol.h")], check=True)
        subprocess.run(["wayland-scanner", "private-code", str(xml),
                        str(tmp_path / f"{xml.stem}.c")], check=True)
        sources.append(tmp_path / f"{xml.stem}.c")
    flags = subprocess.run(["pkg-config", "--cflags", "--libs", "wayland-server"],
                           capture_output=True, text=True, check=True).stdout.split()
    subprocess.run(["cc", "-I", str(tmp_path), "-o", str(program), *map(str, sources), *flags],
                   check=True)
    runtime = tmp_path / "run"
    runtime.mkdir(mode=0o700)
    made = []

    def start(*sizes) -> Fake:
        made.append(Fake(program, runtime, sizes))
        return made[-1]

    yield start
    for each in made:
        each.stop()


@pytest.fixture
def saver_on():
    started = []

    def start(compositor: Fake, *args) -> subprocess.Popen:
        started.append(subprocess.Popen([str(saver_path()), "--color", "green", *args],
                                        env={"PATH": "/usr/bin:/bin", **compositor.env},
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                        text=True))
        return started[-1]

    yield start
    for process in started:
        process.kill()
        process.wait()
        process.stderr.close()


def test_with_no_output_for_a_while_it_waits_and_covers_the_next(fake, saver_on):
    compositor = fake("320x240")
    saver = saver_on(compositor)
    compositor.shown((1, True))
    compositor.send("remove 1")
    assert saver.poll() is None and not compositor.during(2), "it did not wait quietly"
    assert saver.poll() is None, saver.stderr.read()
    compositor.send("add 1")
    compositor.shown((1, True))
    saver.send_signal(signal.SIGTERM)
    assert saver.wait(5) == 0


def test_a_configure_of_zero_gives_the_cover_its_outputs_size(fake, saver_on):
    compositor = fake("320x240", "200x150")
    saver = saver_on(compositor)
    _, crawlet, black = compositor.shown((1, True), (2, False))
    assert crawlet[:2] == (320, 240) and black[:2] == (200, 150)
    assert saver.poll() is None, saver.stderr.read()


def test_output_takes_the_names_from_xdg_output_on_a_version_3_compositor(fake, saver_on):
    compositor = fake("320x240", "200x150")
    saver = saver_on(compositor, "--output", "FAKE-2")
    compositor.shown((2, True))
    assert saver.poll() is None, saver.stderr.read()


@pytest.mark.parametrize("closed", [1, 2])
def test_a_cover_closed_over_an_output_that_stays_is_made_again(fake, saver_on, closed):
    compositor = fake("320x240", "200x150")
    saver_on(compositor)
    compositor.shown((1, True))
    compositor.send(f"close {closed}")
    assert compositor.until(lambda line: line == f"layer {closed}"), "no new cover"
    if closed == 1:  # the crawlet's own: it goes on elsewhere meanwhile
        compositor.shown((2, True), (1, False))
    else:  # black again, and the crawlet stays where it was
        seen, _ = compositor.shown((2, False))
        seen += compositor.during(2.5)
        assert not any(Fake.lit_on(seen, 2)), "the crawlet moved to the closed output"
        assert any(Fake.lit_on(seen, 1)), "the crawlet stopped"


def test_the_crawlet_starts_afresh_on_the_next_output_and_comes_back_to_output(fake, saver_on):
    compositor = fake("200x150", "320x240")
    saver = saver_on(compositor, "--output", "FAKE-2")
    _, first = compositor.shown((2, True))
    compositor.shown((2, True))  # it has moved on from its first frame
    compositor.send("remove 2")
    _, moved = compositor.shown((1, True))
    assert moved == (200, 150, first[2]), "it did not start afresh inside the smaller output"
    compositor.send("add 2")
    _, back, _ = compositor.shown((2, True), (1, False))
    assert back[2] == first[2], "--output's output did not take it back afresh"
    assert saver.poll() is None
