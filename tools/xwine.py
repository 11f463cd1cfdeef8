"""Private Xvfb displays and Wine prefixes, for everything that runs a Windows
program of this project under Wine on Linux: the end-to-end tests, the
benchmark and tools/run-saver.

Standard library only.  Nothing here starts a process that its owner cannot
stop again: `Xvfb.stop()`, `Wine.shutdown()` and `terminate()` do that, and the
callers tie them to their own lifetimes (pytest fixtures, try/finally).
"""

from __future__ import annotations

import os
import shutil
import subprocess
import time
from pathlib import Path
from typing import Callable

ROOT = Path(__file__).resolve().parents[1]
# Never the wine32 wrapper: 32-bit programs cannot execute on these machines.
WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
WINE_RUN = ROOT / "tools" / "wine-run"

SAVER_CAPTION = "Screen Saver Main Form"


def wait_until(predicate: Callable[[], object], timeout: float, interval: float = 0.2):
    """Polls `predicate` until it returns something truthy; returns that or None."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            return None
        time.sleep(interval)


def terminate(proc: subprocess.Popen, grace: float = 2.0) -> None:
    """Stops a child: politely first, then for sure; always reaps it."""
    if proc.poll() is not None:
        return
    try:
        proc.terminate()
        proc.wait(timeout=grace)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(timeout=grace)
    except ProcessLookupError:
        pass


# --------------------------------------------------------------------------------------
# Xvfb

class Xvfb:
    """A private X server.  `screens` is a list of (width, height); more than one
    gives one X screen per entry, and with xinerama=True they form one logical
    screen that Wine reports as several monitors.  `extra_args` go to the server
    as they are (such as "-ac" for a client running as another user)."""

    def __init__(self, width: int = 1024, height: int = 768, *, screens=None,
                 xinerama: bool = False, first_display: int = 50, log: Path | None = None,
                 extra_args: tuple[str, ...] = (), depth: int = 24):
        self.screens = screens or [(width, height)]
        self.depth = depth
        self.xinerama = xinerama
        self.extra_args = tuple(extra_args)
        self.first_display = first_display
        self.log = log
        self.proc: subprocess.Popen | None = None
        self.number: int | None = None

    @property
    def display(self) -> str:
        return f":{self.number}"

    @property
    def width(self) -> int:
        return self.screens[0][0]

    @property
    def height(self) -> int:
        return self.screens[0][1]

    def start(self) -> "Xvfb":
        args = ["-nolisten", "tcp", "-noreset", *self.extra_args]
        if self.xinerama:
            # Wine takes monitors from RandR when it can; Xvfb's RandR knows only
            # one output, so it is switched off to let Wine read the Xinerama heads.
            args += ["+xinerama", "-extension", "RANDR"]
        for i, (w, h) in enumerate(self.screens):
            args += ["-screen", str(i), f"{w}x{h}x{self.depth}"]
        out = open(self.log, "ab") if self.log else subprocess.DEVNULL
        try:
            for n in range(self.first_display, self.first_display + 200):
                if Path(f"/tmp/.X{n}-lock").exists() or Path(f"/tmp/.X11-unix/X{n}").exists():
                    continue
                proc = subprocess.Popen(["Xvfb", f":{n}", *args], stdout=out, stderr=out,
                                        stdin=subprocess.DEVNULL, start_new_session=True)
                # Another process may have started a server on the same number at
                # the same moment; the lock file names the server that won, so a
                # socket that merely exists does not make the display ours.
                ours = wait_until(lambda: proc.poll() is not None or _lock_pid(n) == proc.pid,
                                  10, 0.05)
                if ours and proc.poll() is None and _answers(n):
                    self.proc, self.number = proc, n
                    return self
                terminate(proc)
        finally:
            if out is not subprocess.DEVNULL:
                out.close()
        raise RuntimeError("no free X display number for Xvfb")

    def stop(self) -> None:
        if self.proc:
            terminate(self.proc)
            self.proc = None

    def crash(self) -> None:
        """Ends the server as a crash would (SIGKILL), then removes the lock
        file and socket that it leaves behind, so that its number is free again."""
        if self.proc:
            self.proc.kill()
            self.proc.wait()
            if _lock_pid(self.number) == self.proc.pid:
                Path(f"/tmp/.X{self.number}-lock").unlink(missing_ok=True)
                Path(f"/tmp/.X11-unix/X{self.number}").unlink(missing_ok=True)
            self.proc = None

    def __enter__(self) -> "Xvfb":
        return self.start()

    def __exit__(self, *exc) -> None:
        self.stop()

    def env(self) -> dict:
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        return env

    def run(self, *cmd: str, timeout: float = 20, check_rc: bool = False) -> subprocess.CompletedProcess:
        r = subprocess.run(list(cmd), env=self.env(), stdout=subprocess.PIPE,
                           stderr=subprocess.PIPE, text=True, timeout=timeout)
        if check_rc and r.returncode != 0:
            raise RuntimeError(f"{cmd[0]} failed ({r.returncode}): {r.stderr.strip()}")
        return r

    def xdotool(self, *args: str, timeout: float = 20) -> str:
        return self.run("xdotool", *args, timeout=timeout).stdout

    def find_windows(self, name: str, visible: bool = True, exact: bool = True) -> list[int]:
        """X window ids whose title matches `name` (exactly, or as a regex)."""
        pattern = "^" + _regex_escape(name) + "$" if exact else name
        args = ["search"]
        if visible:
            args.append("--onlyvisible")
        args += ["--name", pattern]
        return [int(x) for x in self.xdotool(*args).split()]

    def wait_window(self, name: str, timeout: float = 20, exact: bool = True) -> int | None:
        ids = wait_until(lambda: self.find_windows(name, exact=exact), timeout)
        return ids[0] if ids else None

    def wait_no_window(self, name: str, timeout: float = 10) -> bool:
        return bool(wait_until(lambda: not self.find_windows(name), timeout))


def _lock_pid(n: int) -> int | None:
    try:
        return int(Path(f"/tmp/.X{n}-lock").read_text().strip())
    except (OSError, ValueError):
        return None


def _answers(n: int) -> bool:
    if shutil.which("xdpyinfo") is None:
        time.sleep(0.3)
        return True

    def probe():
        return subprocess.run(["xdpyinfo", "-display", f":{n}"], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode == 0
    return bool(wait_until(probe, 5, 0.1))


def _regex_escape(text: str) -> str:
    # xdotool uses POSIX extended regexes.
    return "".join("\\" + c if c in r".^$*+?()[]{}|\\" else c for c in text)


# --------------------------------------------------------------------------------------
# Wine

def wine_env(prefix: Path, display: str | None) -> dict:
    env = dict(os.environ)
    env["WINEPREFIX"] = str(prefix)
    env["WINEDEBUG"] = "-all"
    # No Mono or Gecko can be fetched here; never let Wine ask.
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    if display:
        env["DISPLAY"] = display
    else:
        env.pop("DISPLAY", None)
    return env


def make_prefix(prefix: Path, fresh: bool = True) -> float:
    """Creates a Wine prefix through tools/wine-run (one wineboot); returns the
    seconds taken.  With fresh=False an existing prefix is kept."""
    t0 = time.monotonic()
    if prefix.exists() and (fresh or not (prefix / "system.reg").exists()):
        kill_wineserver(prefix)
        shutil.rmtree(prefix)
    prefix.parent.mkdir(parents=True, exist_ok=True)
    r = subprocess.run([str(WINE_RUN), "cmd", "/c", "exit"], env=wine_env(prefix, None),
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
    subprocess.run([WINESERVER, "-w"], env=wine_env(prefix, None), timeout=120)
    if not (prefix / "system.reg").exists():
        raise RuntimeError(f"making the Wine prefix {prefix} failed (rc {r.returncode})")
    return time.monotonic() - t0


def clone_prefix(base: Path, dest: Path) -> None:
    """A private copy of `base`: hard links for the bulk, real copies of the files
    that Wine rewrites in place (the registry hives)."""
    if dest.exists():
        kill_wineserver(dest)
        shutil.rmtree(dest)
    dest.parent.mkdir(parents=True, exist_ok=True)
    subprocess.run(["cp", "-al", str(base), str(dest)], check=True)
    for name in os.listdir(dest):
        p = dest / name
        if p.is_file() and not p.is_symlink() and (name.endswith(".reg") or name.startswith(".")):
            tmp = dest / (name + ".copy")
            shutil.copy2(base / name, tmp)
            os.replace(tmp, p)


def kill_wineserver(prefix: Path) -> None:
    """Ends the prefix's Wine session, and waits until its server is gone, so
    that the next program in the prefix starts a new session."""
    for flag in ("-k", "-w"):
        subprocess.run([WINESERVER, flag], env=wine_env(prefix, None), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=30)


class Wine:
    """Wine in one prefix, showing its windows on one display.  shutdown() ends
    the prefix's wineserver and with it every program still running there."""

    def __init__(self, prefix: Path, display: str | None, log: Path | None = None):
        self.prefix, self.display, self.log = prefix, display, log

    def env(self) -> dict:
        return wine_env(self.prefix, self.display)

    def start(self, program: str | Path, *args: str) -> subprocess.Popen:
        """Starts a Windows program; the Popen's pid is the Windows process itself."""
        out = open(self.log, "ab") if self.log else subprocess.DEVNULL
        try:
            return subprocess.Popen([WINE, str(program), *args], env=self.env(), stdout=out,
                                    stderr=out, stdin=subprocess.DEVNULL)
        finally:
            if out is not subprocess.DEVNULL:
                out.close()

    def run(self, *args: str, timeout: float = 60) -> subprocess.CompletedProcess:
        return subprocess.run([WINE, *args], env=self.env(), stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True, timeout=timeout)

    def reg_set(self, key: str, name: str, value: str, kind: str = "REG_SZ") -> None:
        r = self.run("reg", "add", key, "/v", name, "/t", kind, "/d", value, "/f")
        if r.returncode != 0:
            raise RuntimeError(f"reg add {key} {name} failed: {r.stdout}{r.stderr}")

    def reg_query(self, key: str, name: str) -> str | None:
        """The value's data as text, or None when it is not there."""
        r = self.run("reg", "query", key, "/v", name)
        if r.returncode != 0:
            return None
        for line in r.stdout.splitlines():
            parts = line.split(None, 2)
            if len(parts) >= 2 and parts[0].lower() == name.lower() and parts[1].startswith("REG_"):
                return parts[2].strip() if len(parts) == 3 else ""
        return None

    def reg_delete_key(self, key: str) -> None:
        self.run("reg", "delete", key, "/f")

    def shutdown(self) -> None:
        kill_wineserver(self.prefix)
