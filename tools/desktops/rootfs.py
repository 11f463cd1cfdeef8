"""The matrix's roots: a cached Debian root (tools/desktops/build-root)
unpacked into a fresh folder, /proc, /dev and /sys mounted in it, the saver's
package installed with apt, and commands run in it as the user nobody with a
clean environment. The mounts live in the runner's own mount namespace."""

from __future__ import annotations

import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
NOBODY = 65534
RUN, HOME = "/run/user/65534", "/home/matrix"
PATH = "/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin"


def savers(root: Path) -> list[int]:
    """The saver processes running inside `root`: one named quillomir
    elsewhere on the machine (another test's) is none of the matrix's."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if Path(f"/proc/{pid}/comm").read_text().strip() == "quillomir" and \
                    os.readlink(f"/proc/{pid}/root") == os.path.realpath(root):
                found.append(int(pid))
        except OSError:
            pass
    return found


class Chroot:
    def __init__(self, path: Path):
        self.path = path

    def cmd(self, args, env: dict | None = None, user: bool = True) -> list[str]:
        who = ["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups"] \
            if user else []
        base = {"PATH": PATH, "HOME": HOME if user else "/root", "LC_ALL": "C.UTF-8",
                "XDG_RUNTIME_DIR": RUN, "DEBIAN_FRONTEND": "noninteractive"}
        base.update(env or {})
        return ["chroot", str(self.path), *who, "env", "-i",
                *(f"{k}={v}" for k, v in base.items()), *map(str, args)]

    def run(self, args, env=None, user=True, timeout: float = 60, text=True):
        return subprocess.run(self.cmd(args, env, user), capture_output=True, text=text,
                              timeout=timeout)

    def popen(self, args, env=None, log: Path | None = None) -> subprocess.Popen:
        out = open(log, "wb") if log else subprocess.PIPE
        try:
            return subprocess.Popen(self.cmd(args, env), stdout=out, stderr=subprocess.STDOUT
                                    if log else subprocess.PIPE, stdin=subprocess.DEVNULL)
        finally:
            if log:
                out.close()

    def host(self, path: str) -> Path:
        return self.path / path.lstrip("/")



def prepare_root(suite: str, debs: list[Path], log) -> Chroot:
    """The suite's root (tools/desktops/build-root SUITE), unpacked into a fresh
    folder with the saver's package installed by apt."""
    r = subprocess.run([str(HERE / "build-root"), suite], stdout=subprocess.PIPE, text=True)
    if r.returncode != 0:
        raise RuntimeError(f"tools/desktops/build-root {suite} failed")
    path = Path(tempfile.mkdtemp(prefix="quillomir-desktops-"))
    path.chmod(0o755)
    try:
        return install(Chroot(path), r.stdout.strip(), debs, log)
    except BaseException:
        remove_root(path)
        raise


def install(root: Chroot, tarball: str, debs: list[Path], log) -> Chroot:
    path = root.path
    t0 = time.monotonic()
    subprocess.run(["tar", "-C", str(path), "--numeric-owner", "-xpf", tarball], check=True)
    log(f"{path.name}: root unpacked in {time.monotonic() - t0:.0f} s")
    for source, target in (("proc", "proc"), ("/dev", "dev"), ("/sys", "sys")):
        flags = ["-t", "proc", "proc"] if source == "proc" else ["--rbind", source]
        subprocess.run(["mount", *flags, str(path / target)], check=True)
    shutil.copyfile("/etc/resolv.conf", path / "etc" / "resolv.conf")
    names = []
    for deb in debs:
        shutil.copyfile(deb, path / "tmp" / deb.name)
        names.append(f"/tmp/{deb.name}")
    install = ["apt-get", "install", "-y", "--no-install-recommends", *names]
    r = root.run(install, user=False, timeout=900)
    if r.returncode != 0 and "Failed to fetch" in r.stdout + r.stderr:
        root.run(["apt-get", "update"], user=False, timeout=900)  # the mirror moved on
        r = root.run(install, user=False, timeout=900)
    if r.returncode != 0:
        raise RuntimeError(f"apt-get install failed:\n{(r.stdout + r.stderr)[-3000:]}")
    log("installed with apt: " + ", ".join(deb.name for deb in debs))
    return root


def mounted_under(path: Path) -> list[str]:
    with open("/proc/self/mounts") as mounts:
        points = [line.split()[1] for line in mounts]
    return [p for p in points if p == str(path) or p.startswith(f"{path}/")]


def remove_root(path: Path) -> None:
    """Unmounts, then deletes; never deletes through a mount that stayed (the
    root's /dev is the machine's)."""
    for point in sorted(mounted_under(path), key=len, reverse=True):
        subprocess.run(["umount", "-l", point], capture_output=True)
    left = mounted_under(path)
    if left:
        print(f"run-matrix: {path} kept, still mounted: {left}", file=sys.stderr)
        return
    shutil.rmtree(path, ignore_errors=True)


def fresh_dirs(root: Chroot, files: dict[str, str]) -> None:
    """A fresh XDG_RUNTIME_DIR (0700) and HOME for nobody, with a desktop's
    files in HOME ({run} and {home} in them stand for the two folders)."""
    for folder, mode in ((RUN, 0o700), (HOME, 0o755)):
        host = root.host(folder)
        shutil.rmtree(host, ignore_errors=True)
        host.mkdir(parents=True, mode=mode)
        host.chmod(mode)
    for name, text in files.items():
        file = root.host(HOME) / name
        file.parent.mkdir(parents=True, exist_ok=True)
        file.write_text(text.format(run=RUN, home=HOME))
    for each in [root.host(HOME), *root.host(HOME).rglob("*"), root.host(RUN)]:
        os.chown(each, NOBODY, NOBODY)
