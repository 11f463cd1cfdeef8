"""The source install as a user meets it: the release tarball built by the
README's own commands with the network off and no git, installed into a stage
and removed again by the manifest; and `make install` from a clone, which
needs only what the Linux build needs and stops a user who cannot write to
PREFIX before doing anything."""

from __future__ import annotations

import os
import re
import shutil
import subprocess
import tempfile
from pathlib import Path

import pytest

from conftest import ROOT

NOBODY = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]


def readme_source_commands() -> list[str]:
    """The shell block of the README's "from the source" part, one command a line."""
    readme = (ROOT / "README.md").read_text()
    part = readme.split("### Installing on other distributions, from the source", 1)[1]
    block = re.search(r"```sh\n(.*?)```", part, re.S).group(1)
    return [line.split("#")[0].strip() for line in block.splitlines() if line.strip()]


def path_without_git(folder: Path) -> str:
    """A PATH of links to every program on this one but git."""
    folder.mkdir()
    for directory in os.environ["PATH"].split(":"):
        if not os.path.isdir(directory):
            continue
        for name in os.listdir(directory):
            if name.startswith("git") or (folder / name).exists():
                continue
            target = os.path.join(directory, name)
            if os.access(target, os.X_OK) and not os.path.isdir(target):
                (folder / name).symlink_to(target)
    return str(folder)


@pytest.fixture(scope="module")
def tarball(tmp_path_factory) -> Path:
    out = tmp_path_factory.mktemp("tarball")
    r = subprocess.run([str(ROOT / "tools" / "make-tarball"), "--out", str(out)],
                       capture_output=True, text=True, timeout=300)
    assert r.returncode == 0, r.stderr
    return Path(r.stdout.strip())


def test_tarball_builds_offline_and_the_manifest_removes_every_installed_file(tarball,
                                                                             tmp_path):
    """Empty folders may stay behind (the manifest lists files and links, not
    folders); no file and no link may."""
    stage = tmp_path / "stage"
    path = path_without_git(tmp_path / "bin")
    assert shutil.which("git", path=path) is None
    version = tarball.name.removeprefix("quillomir-").removesuffix(".tar.gz")
    commands = readme_source_commands()
    assert commands[-1].startswith("sudo make -C build install"), commands
    # As the README says, but staged: this test is no root of a real system.
    commands[-1] = f"make -C build install DESTDIR={stage}"
    script = " && ".join(c.replace("<version>", version) for c in commands)
    script = script.replace(f"quillomir-{version}.tar.gz", str(tarball))
    env = {"PATH": path, "HOME": str(tmp_path), "LC_ALL": "C.UTF-8"}
    r = subprocess.run(["unshare", "--net", "sh", "-ec", script], cwd=tmp_path, env=env,
                       capture_output=True, text=True, timeout=3600)
    assert r.returncode == 0, (r.stdout + r.stderr)[-4000:]

    installed = [p for p in stage.rglob("*") if p.is_symlink() or p.is_file()]
    assert stage / "usr/local/bin/quillomir" in installed
    manifest = tmp_path / f"quillomir-{version}" / "build" / "install_manifest.txt"
    # The manifest names the installed system's paths, without DESTDIR.
    listed = manifest.read_text().splitlines()
    r = subprocess.run(["xargs", "-0", "rm"], input="\0".join(f"{stage}{p}" for p in listed),
                       capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
    left = [str(p.relative_to(stage)) for p in stage.rglob("*") if not p.is_dir()
            or p.is_symlink()]
    assert not left, f"left behind after removing what the manifest lists: {left}"


def test_make_install_refuses_an_unwritable_prefix_before_doing_anything():
    # A folder that nobody can read (pytest's own are private to root), holding
    # the Makefile alone: a refusal that ran anything else would fail otherwise.
    clone = Path(tempfile.mkdtemp(prefix="quillomir-clone-"))
    try:
        clone.chmod(0o755)
        shutil.copyfile(ROOT / "Makefile", clone / "Makefile")
        r = subprocess.run([*NOBODY, "make", "-C", str(clone), "install", "PREFIX=/usr/local/q"],
                           capture_output=True, text=True, timeout=60)
        assert r.returncode != 0
        assert "sudo make install" in r.stderr and "DESTDIR=" in r.stderr, r.stderr
        assert "install-deps" not in r.stdout + r.stderr and not (clone / "build").exists()
    finally:
        shutil.rmtree(clone)


def test_make_install_needs_only_the_linux_build_packages():
    listed = subprocess.run([str(ROOT / "tools" / "install-deps"), "--linux", "--list"],
                            capture_output=True, text=True, check=True).stdout.split()
    everything = subprocess.run([str(ROOT / "tools" / "install-deps"), "--list"],
                                capture_output=True, text=True, check=True).stdout.split()
    assert {"cmake", "g++", "make", "libx11-dev", "libgtk-3-dev", "wayland-protocols"} <= \
        set(listed)
    # A fresh machine installs tools/packages.txt alone.
    assert set(listed) <= set(everything), set(listed) - set(everything)
    heavy = [p for p in listed if re.match(r"wine|mingw|qemu|nsis|sway|lintian|clang", p)]
    assert not heavy
    r = subprocess.run(["make", "-n", "-C", str(ROOT), "install", "DESTDIR=/tmp/x"],
                       capture_output=True, text=True, check=True)
    assert "tools/install-deps --linux" in r.stdout and "build-win" not in r.stdout
