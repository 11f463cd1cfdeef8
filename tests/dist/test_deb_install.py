"""The Debian package installed where no one has built anything: a clean Debian
12 minbase root (tools/chroot/build-root, built once and cached), `apt-get
install ./quillomir_….deb` pulling every dependency by itself, the saver run
there against an Xvfb display, and `apt-get purge` leaving none of its files.

Each command runs in a mount namespace of its own (unshare), with /proc, /dev
and, for the saver, the X socket folder mounted into the root; the mounts go
with the namespace."""

from __future__ import annotations

import shlex
import shutil
import subprocess
from pathlib import Path

import pytest

import xwine
from conftest import ROOT

SAVER_FILES = {
    "/usr/bin/quillomir",
    "/usr/libexec/xscreensaver/quillomir",
    "/usr/libexec/quillomir/quillomir",
    "/usr/share/applications/screensavers/quillomir.desktop",
    "/usr/share/doc/quillomir/changelog.gz",
    "/usr/share/doc/quillomir/copyright",
    "/usr/share/man/man6/quillomir.6.gz",
    "/usr/share/xscreensaver/config/quillomir.xml",
}
BLUE = bytes((0, 0, 255))  # the crawlet's default colour


class DebianRoot:
    def __init__(self, path: Path):
        self.path = path

    def run(self, *cmd: str, x_socket: bool = False, timeout: float = 600,
            background: bool = False):
        mounts = ["mount -t proc proc proc", "mount --rbind /dev dev"]
        if x_socket:
            mounts.append("mount --bind /tmp/.X11-unix tmp/.X11-unix")
        script = f"cd {shlex.quote(str(self.path))} && " + " && ".join(mounts) + \
            ' && exec chroot . env -i "$@"'
        env = ["PATH=/usr/sbin:/usr/bin:/sbin:/bin", "HOME=/root", "LC_ALL=C.UTF-8",
               "DEBIAN_FRONTEND=noninteractive"]
        args = ["unshare", "--mount", "--fork", "sh", "-c", script, "sh", *env, *cmd]
        if background:
            return subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        return subprocess.run(args, capture_output=True, text=True, timeout=timeout)


@pytest.fixture(scope="module")
def debian_root(tmp_path_factory, release) -> DebianRoot:
    r = subprocess.run([str(ROOT / "tools" / "chroot" / "build-root")], capture_output=True,
                       text=True, timeout=1800)
    assert r.returncode == 0, f"building the Debian root failed:\n{r.stderr[-3000:]}"
    path = tmp_path_factory.mktemp("debian") / "root"
    path.mkdir()
    subprocess.run(["tar", "-C", str(path), "--numeric-owner", "-xpf", r.stdout.strip()],
                   check=True)
    shutil.copyfile("/etc/resolv.conf", path / "etc" / "resolv.conf")
    (path / "tmp" / ".X11-unix").mkdir(exist_ok=True)
    for package in ("quillomir", "quillomir-settings"):
        shutil.copyfile(release[package], path / "tmp" / release[package].name)
    yield DebianRoot(path)
    shutil.rmtree(path, ignore_errors=True)


def test_settings_package_would_install_with_its_dependencies(debian_root, release):
    debs = [f"/tmp/{release[p].name}" for p in ("quillomir", "quillomir-settings")]
    r = debian_root.run("apt-get", "install", "--simulate", "-y", *debs)
    assert r.returncode == 0, r.stdout + r.stderr
    assert "Inst quillomir-settings" in r.stdout and "Inst libgtk-3-0" in r.stdout


def test_install_run_and_purge(debian_root, release, version):
    root = debian_root.path
    deb = f"/tmp/{release['quillomir'].name}"
    r = debian_root.run("apt-get", "install", "-y", deb)
    if r.returncode != 0 and "Failed to fetch" in r.stdout + r.stderr:
        # The cached root's package lists are older than the mirror's files.
        assert debian_root.run("apt-get", "update").returncode == 0
        r = debian_root.run("apt-get", "install", "-y", deb)
    assert r.returncode == 0, r.stdout + r.stderr

    r = debian_root.run("quillomir", "--version")
    assert r.returncode == 0 and version in r.stdout, r.stdout + r.stderr

    listed = debian_root.run("dpkg", "-L", "quillomir").stdout.split("\n")
    files = {p for p in listed if p and not (root / p.lstrip("/")).is_dir()}
    assert files == SAVER_FILES
    assert (root / "usr/bin/quillomir").resolve() == \
        (root / "usr/libexec/xscreensaver/quillomir").resolve()

    # A black root ("-br"): no blue byte can line up across two pixels.
    with xwine.Xvfb(1024, 768, extra_args=("-br",)) as x:
        saver = debian_root.run("timeout", "--preserve-status", "-s", "TERM", "8", "quillomir",
                                "--root", "--display", x.display, x_socket=True,
                                background=True)
        try:
            drawn = xwine.wait_until(lambda: subprocess.run(
                ["import", "-display", x.display, "-window", "root", "-depth", "8", "rgb:-"],
                capture_output=True, timeout=30).stdout.count(BLUE) > 50, 7, 0.5)
            output = saver.communicate(timeout=30)[0].decode(errors="replace")
        finally:
            xwine.terminate(saver)
    assert drawn, f"the installed saver drew no crawlet: {output}"
    assert saver.returncode == 0, f"the saver did not end cleanly on SIGTERM: {output}"

    r = debian_root.run("apt-get", "purge", "-y", "quillomir")
    assert r.returncode == 0, r.stdout + r.stderr
    left = [p for p in listed if p and (root / p.lstrip("/")).exists()
            and not ((root / p.lstrip("/")).is_dir() and any((root / p.lstrip("/")).iterdir()))]
    assert not left, f"left behind after purge: {left}"
    assert debian_root.run("dpkg", "-s", "quillomir").returncode != 0
