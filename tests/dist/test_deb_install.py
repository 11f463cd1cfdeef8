"""The Debian package installed where no one has built anything: a clean Debian
12 minbase root (tools/chroot/build-root, built once and cached), `apt-get
install ./quillomir_….deb` pulling every dependency by itself, the package's
autopkgtest (the installed saver drawing on Xvfb) run there, the saver run
against a headless sway (its label shown: the label's font libraries are
loaded only then), and `apt-get purge` leaving none of its files.

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
from wayland_session import SwaySession

SAVER_FILES = {
    "/usr/bin/quillomir",
    "/usr/libexec/xscreensaver/quillomir",
    "/usr/libexec/quillomir/quillomir",
    "/usr/share/applications/screensavers/quillomir.desktop",
    "/usr/share/doc/quillomir/README.md.gz",
    "/usr/share/doc/quillomir/changelog.Debian.gz",
    "/usr/share/doc/quillomir/copyright",
    "/usr/share/lintian/overrides/quillomir",
    "/usr/share/man/man6/quillomir.6.gz",
    "/usr/share/xscreensaver/config/quillomir.xml",
    "/usr/share/glib-2.0/schemas/org.gnome.shell.extensions.quillomir.gschema.xml",
    *(f"/usr/share/gnome-shell/extensions/quillomir@quillomir.example.org/{name}"
      for name in ("metadata.json", "extension.js", "inhibitor.js", "saver.js", "prefs.js")),
}
LABEL = (16, 16, 225, 17)  # the label's box at scale 1, where its white text goes
BESIDE_LABEL = (16, 60, 225, 17)  # the same size below it, only ever black or the crawlet


def light_pixels(width: int, pixels: bytes, area) -> int:
    """Pixels in `area` (x, y, w, h) of an RGB picture with every channel >= 192."""
    x0, y0, w, h = area
    count = 0
    for y in range(y0, y0 + h):
        row = pixels[(y * width + x0) * 3:(y * width + x0 + w) * 3]
        count += sum(1 for i in range(0, len(row), 3) if min(row[i:i + 3]) >= 192)
    return count


class DebianRoot:
    def __init__(self, path: Path):
        self.path = path

    def run(self, *cmd: str, x_socket: bool = False, binds: dict | None = None,
            timeout: float = 600, background: bool = False):
        """`binds` maps folders outside to folders made inside the root."""
        mounts = ["mount -t proc proc proc", "mount --rbind /dev dev"]
        if x_socket:
            mounts.append("mount --bind /tmp/.X11-unix tmp/.X11-unix")
        for outside, inside in (binds or {}).items():
            (self.path / inside).mkdir(parents=True, exist_ok=True)
            mounts.append(f"mount --bind {shlex.quote(str(outside))} {shlex.quote(inside)}")
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


def test_autopkgtest_draws_with_the_installed_saver(debian_root, release):
    """debian/tests as autopkgtest runs them, by hand in the root: the package and
    each test's Depends installed from Debian, then the test script."""
    control = (ROOT / "debian" / "tests" / "control").read_text()
    stanzas = [s for s in control.split("\n\n") if s.strip()]
    assert stanzas
    for stanza in stanzas:
        fields = dict(line.split(":", 1) for line in stanza.splitlines() if ":" in line)
        depends = [d.strip() for d in fields["Depends"].split(",")]
        packages = [f"/tmp/{release['quillomir'].name}" if d == "quillomir" else d
                    for d in depends]
        r = debian_root.run("apt-get", "install", "-y", "--no-install-recommends", *packages,
                            timeout=1200)
        if r.returncode != 0 and "Failed to fetch" in r.stdout + r.stderr:
            assert debian_root.run("apt-get", "update").returncode == 0
            r = debian_root.run("apt-get", "install", "-y", "--no-install-recommends",
                                *packages, timeout=1200)
        assert r.returncode == 0, r.stdout + r.stderr
        for test in fields["Tests"].split():
            shutil.copyfile(ROOT / "debian" / "tests" / test, debian_root.path / "tmp" / test)
            r = debian_root.run("sh", f"/tmp/{test}", timeout=300)
            assert r.returncode == 0, f"{test}: {r.stdout}{r.stderr}"
            assert "blue pixels" in r.stdout


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

    # On Wayland `quillomir` hands the run to its Wayland program, wherever the
    # package puts it; the label's text shows only if the package's declared
    # dependencies brought fontconfig, FreeType and a font.
    with SwaySession(outputs=[(1024, 768)]) as sway:
        saver = debian_root.run(
            "timeout", "--preserve-status", "-s", "TERM", "20", "env",
            "XDG_RUNTIME_DIR=/run/quillomir-test", f"WAYLAND_DISPLAY={sway.wayland_display}",
            "quillomir", "--show-value", binds={sway.runtime_dir: "run/quillomir-test"},
            background=True)
        try:
            def labelled() -> bool:
                # sway's own background is white: the box beside the label's
                # must be covered in black before the label's light counts.
                width, _, pixels = sway.screenshot("HEADLESS-1")
                return light_pixels(width, pixels, BESIDE_LABEL) == 0 and \
                    light_pixels(width, pixels, LABEL) > 20

            shown = xwine.wait_until(labelled, 15, 0.5)
            output = saver.communicate(timeout=40)[0].decode(errors="replace")
        finally:
            xwine.terminate(saver)
    assert shown, f"the installed Wayland saver showed no label text: {output}"
    assert saver.returncode == 0, f"the Wayland saver did not end cleanly on SIGTERM: {output}"
    assert "font" not in output.lower(), f"the label's font did not load: {output}"

    r = debian_root.run("apt-get", "purge", "-y", "quillomir")
    assert r.returncode == 0, r.stdout + r.stderr
    # GSettings' schema folder is also libglib2.0-0's (it ships the folder),
    # and glib stays installed: the folder stays, with nothing of ours in it.
    left = [p for p in listed if p and (root / p.lstrip("/")).exists()
            and not ((root / p.lstrip("/")).is_dir() and any((root / p.lstrip("/")).iterdir()))
            and not ((root / p.lstrip("/")).is_dir() and p.startswith("/usr/share/glib-2.0"))]
    assert not left, f"left behind after purge: {left}"
    assert debian_root.run("dpkg", "-s", "quillomir").returncode != 0
