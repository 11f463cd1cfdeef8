"""The common checks of a desktop once it is up (tools/desktops/run-matrix):
the saver covers it (every output, the crawlet on one at its scale), SIGTERM
gives 0, a key ends it, the idle daemon starts it, and it exits 1 with one
line when the compositor dies; or, without a layer shell, it refuses in one
line. Each fills in its part of the desktop's verdict.Result."""

from __future__ import annotations

import os
import signal
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent))

import verdict  # noqa: E402
from rootfs import savers  # noqa: E402
from session import Session, finish  # noqa: E402
from xwine import terminate, wait_until  # noqa: E402

COVER_TIMEOUT = 30


def picture(s: Session) -> verdict.Picture | None:
    """The whole desktop: its outputs one by one where it names them (each at
    its own scale, not the layout scaled up to the largest), or the screen."""
    if not s.desktop.outputs:
        return s.picture()[0]
    shots = [s.picture(name)[0] for name in s.desktop.outputs]
    return None if None in shots else verdict.Picture.joined(shots)


def wait_covered(s: Session, saver: subprocess.Popen) -> verdict.Picture | None:
    seen: list = [None]

    def covered():
        if saver.poll() is not None:
            return True
        seen[0] = picture(s)
        return seen[0] is not None and seen[0].covered

    wait_until(covered, COVER_TIMEOUT, 0.5)
    return seen[0]


def check_covering(s: Session, r: verdict.Result) -> None:
    # Some capture interfaces come up after the socket (KWin loads its
    # screenshot effect with the other effects).
    got: list = [None, ""]

    def read_before():
        got[:] = s.picture()
        return got[0] is not None or s.desktop.capture is None

    wait_until(read_before, 15, 1)
    before, why = got
    if before is not None:
        r.notes.append(f"before: {before.describe()}")
    saver = s.saver(["--output", s.desktop.crawlet_on] if s.desktop.crawlet_on else [])
    if before is None:
        r.notes.append(f"picture not read ({why})")
        wait_until(lambda: saver.poll() is not None, 5, 0.25)
    elif before.covered:
        r.notes.append("the desktop alone already looks covered: picture not judged")
        wait_until(lambda: saver.poll() is not None, 5, 0.25)
    else:
        seen = wait_covered(s, saver)
        if saver.poll() is None:
            r.covered = bool(seen and seen.covered)
            if seen:
                r.notes.append(f"with the saver: {seen.describe()}")
            if r.covered and s.desktop.outputs:
                check_outputs(s, r)
    r.alive = saver.poll() is None
    if not r.alive:
        status, err = finish(saver)
        r.notes.append(f"saver ended by itself with {status}: {err.strip()[:200]}")
        return
    saver.send_signal(signal.SIGTERM)
    status, err = finish(saver)
    r.sigterm_0 = status == 0
    if status != 0:
        r.notes.append(f"SIGTERM gave {status}: {err.strip()[:200]}")
    if s.desktop.keyboard:
        check_key(s, r)
    if s.desktop.idle:
        check_idle(s, r)
    check_compositor_dies(s, r)


def check_outputs(s: Session, r: verdict.Result) -> None:
    """Each output read on its own, a second later (the crawlet has moved)."""
    shots, why = {}, ""
    for name, scale in s.desktop.outputs.items():
        shot, why = s.picture(name)
        if shot is None:
            break
        shots[name] = (scale, shot)
    r.outputs = len(s.desktop.outputs)
    if len(shots) < r.outputs:
        r.outputs_ok = False
        r.notes.append(f"an output not read: {why}")
        return
    r.outputs_ok, note = verdict.judge_outputs(shots, s.desktop.crawlet_on)
    r.scale = next((scale for scale, shot in shots.values()
                    if shot.crawlet >= verdict.MIN_CRAWLET_PIXELS), None)
    r.notes.append(note)


def saver_up(s: Session, r: verdict.Result) -> subprocess.Popen:
    """A saver started and given time to cover: until its picture shows
    where the picture can be read, else 3 s."""
    saver = s.saver()
    if r.covered:
        wait_covered(s, saver)
    else:
        time.sleep(3)
    return saver


def check_key(s: Session, r: verdict.Result) -> None:
    # Typed once the covers are up (the keyboard's focus is theirs), after
    # wtype's keymap has reached the saver.
    saver = saver_up(s, r)
    if saver.poll() is not None:
        r.key_ends = False
        return
    typed = s.root.run(["wtype", "-s", "300", "x"], env=s.env)
    status, err = finish(saver)
    r.key_ends = status == 0
    if status != 0:
        r.notes.append(f"wtype: {typed.stderr.strip()[:120]}; saver {status}")


def check_idle(s: Session, r: verdict.Result) -> None:
    before = set(savers(s.root.path))
    daemon = s.desktop.idle[0]
    idle = s.root.popen(s.desktop.idle, env=s.env, log=s.out / f"{daemon}.log")
    s.procs.append(idle)
    started = wait_until(lambda: set(savers(s.root.path)) - before, 20, 0.25)
    r.idle_starts = bool(started)
    if started:
        r.started_by = daemon
    for pid in started or ():
        os.kill(pid, signal.SIGTERM)
    terminate(idle)
    if not started:
        log = (s.out / f"{daemon}.log").read_text(errors="replace").strip()
        r.notes.append(f"{daemon}: {log.splitlines()[-1][:160] if log else 'nothing'}")


def check_compositor_dies(s: Session, r: verdict.Result) -> None:
    """Last, since it ends the desktop: SIGKILL, as a crash would."""
    saver = saver_up(s, r)
    if saver.poll() is not None or s.comp is None:
        r.dies_1 = False
        r.notes.append("the saver did not stay up for the compositor's death")
        return
    s.comp.send_signal(signal.SIGKILL)
    status, err = finish(saver, timeout=20)
    r.dies_1 = verdict.one_line_refusal(status, err)
    r.notes.append(f"compositor killed: status {status}, {err.strip()[:160]!r}")


def check_refusal(s: Session, r: verdict.Result) -> None:
    saver = s.saver()
    status, err = finish(saver, timeout=20)
    r.refused = verdict.one_line_refusal(status, err)
    r.notes.append(f"status {status}: {err.strip()[:160]}")
